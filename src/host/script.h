// Script: one page loaded, compiled (or decoded from a compiled file) and run
// for one request, and the response it produces.
#pragma once

#include "common/byte_buffer.h"
#include "common/result_codes.h"
#include "host/script_engine.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

enum class ScriptState : int32_t
{
    Created = 0,
    Loaded = 1,
    Running = 2,
    Waiting = 3,
    LoadError = 4,
    CompileError = 5,
    Complete = 6,
    RuntimeError = 7,
    Killed = 8,
};

// "Created", "Loaded", ...; "Error" for a value outside 0..8.
const char* ScriptStateName(int32_t state) noexcept;
inline const char* ScriptStateName(ScriptState state) noexcept
{
    return ScriptStateName(static_cast<int32_t>(state));
}

// The process-wide id counter: 1, 2, 3, ... under its own lock.
int32_t NextScriptId();

enum class ScriptFileStatus : int32_t
{
    NotFound = 1,
    RegularFile = 2,
    Directory = 3,
};

struct CodeBlockText;

struct CodeBlock
{
    int32_t startOffset = 0; // offset of the open tag in the file
    int32_t endOffset = 0;   // offset just after the close tag
    int32_t line = 0;        // 1-based line on which the code starts
    ByteBuffer output;       // what the block printed, or its compile error
};

class Script
{
  public:
    static constexpr int32_t kSupportedMode = 1;
    static constexpr std::string_view kVersion = "2.2.0";
    static constexpr std::string_view kInitialErrorMessage = "Script Error";

    // Throws NotSupported for any mode but 1. Without [engine] the script
    // gets a plain ScriptEngine.
    explicit Script(int32_t mode = kSupportedMode, std::unique_ptr<ScriptEngine> engine = nullptr);
    virtual ~Script();
    Script(const Script&) = delete;
    Script& operator=(const Script&) = delete;

    // Status of [path]; with [useSibling] a source name is replaced by its
    // compiled sibling (same name, extension "ctn") when that is at least as new.
    static ScriptFileStatus FindScriptFile(const std::string& path, std::string& actualPath, int64_t& size,
                                           bool useSibling = true);

    // Reads the file into the source buffer; [compiled] tells a compiled file.
    ereturnvalue read(bool& compiled, bool useSibling = true);
    // Compile mode: read and compile, no state change, no output. A listing
    // of the program asks for [keepSymbols]; a saved file has no use for them.
    ereturnvalue compileOnly(bool keepSymbols = false);
    // Run path: read, then compile or decode. Throws Programing unless Created.
    ereturnvalue load();
    // Load, run to the end, build the output.
    ereturnvalue run();
    // One step for the script manager: at most [budget] instructions.
    ereturnvalue runSlice(int32_t budget);
    // Builds the output from the page (OK) or as the HTML error page.
    ereturnvalue finish(ereturnvalue code);
    // Appends the framed compile message of every failing block.
    void errorMessages(ByteBuffer& out) const;
    // Writes the compiled image and the literal segments as a compiled file.
    ereturnvalue saveCompiled(const std::string& targetPath);

    // Request environment: names lower-cased; an empty value removes the entry.
    void setEnvironmentVariable(std::string_view name, std::string_view value);
    const std::string* environmentVariable(std::string_view name) const;
    const std::map<std::string, std::string>& environment() const noexcept { return environment_; }

    int32_t id() const noexcept { return id_; }
    ScriptState state() const noexcept { return state_; }
    const char* stateName() const noexcept { return ScriptStateName(state_); }
    const std::string& errorMessage() const noexcept { return errorMessage_; }
    ByteBuffer& output() noexcept { return output_; }
    const std::string& path() const noexcept { return path_; }
    void setPath(std::string path) { path_ = std::move(path); }
    bool cgi() const noexcept { return cgi_; }
    void setCgi(bool cgi) noexcept { cgi_ = cgi; }
    ByteBuffer& requestBody() noexcept { return requestBody_; }
    bool isCompiled() const noexcept { return compiled_; }

    ScriptEngine& engine() noexcept { return *engine_; }
    const ScriptEngine& engine() const noexcept { return *engine_; }
    const std::vector<std::unique_ptr<CodeBlock>>& codeBlocks() const noexcept { return blocks_; }
    const std::vector<std::string>& literalSegments() const noexcept { return literals_; }
    const ByteBuffer& page() const noexcept { return page_; }

  private:
    ereturnvalue splitPage(std::vector<CodeBlockText>& texts);
    ereturnvalue prepareRequest();
    // [forSaving]: the program is saved, not run (compile mode).
    ereturnvalue compileSource(bool forSaving = false);
    ereturnvalue decodeCompiled();
    void showCompileErrors();
    void collectOutputs(ereturnvalue result, const std::string& message);
    void assemblePage();
    void releasePieces() noexcept;

    int32_t id_ = 0;
    ScriptState state_ = ScriptState::Created;
    std::map<std::string, std::string> environment_;
    ByteBuffer requestBody_;
    ByteBuffer output_;
    ByteBuffer page_;
    ByteBuffer source_;
    bool cgi_ = false;
    bool compiled_ = false;
    bool sliceStarted_ = false;
    std::string path_;
    std::string errorMessage_{kInitialErrorMessage};
    std::vector<std::unique_ptr<CodeBlock>> blocks_;
    std::vector<std::string> literals_;
    std::unique_ptr<ScriptEngine> engine_;
};

} // namespace tn
