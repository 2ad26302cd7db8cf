// ScriptEngine: compiles and runs the code blocks of one Script. It owns the
// program image and the virtual machine, keeps one compile record per block
// and the response state that the web response functions fill during a run.
#pragma once

#include "common/byte_buffer.h"
#include "common/result_codes.h"
#include "compiler/compiler.h"
#include "hostlib/host_context.h"
#include "vm/program_image.h"
#include "vm/virtual_machine.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

class ScriptEngine
{
  public:
    ScriptEngine();
    virtual ~ScriptEngine();
    ScriptEngine(const ScriptEngine&) = delete;
    ScriptEngine& operator=(const ScriptEngine&) = delete;

    // Drops the compiled program, the compile records, the script environment
    // and the host context, ready for a new compile or decode.
    void reset();
    // Drops the compiled program (after a failed compile or decode) but keeps
    // the compile records, which the error texts are made from.
    void releaseProgram() noexcept;

    // The machine is made on first use: a page that fails before compiling
    // never pays for it.
    VirtualMachine& machine();
    // How every machine made from now on uses its fast paths (a diagnostic switch).
    enum class FastPaths
    {
        Normal,
        Always,
        Never,
    };
    static void setFastPaths(FastPaths mode) noexcept { fastPaths_ = mode; }
    ProgramImage& image() noexcept { return image_; }
    const ProgramImage& image() const noexcept { return image_; }

    void setScriptPath(std::string path);
    const std::string& scriptPath() const noexcept { return scriptPath_; }

    // Compile messages in HTML form (true) or plain text (compile mode).
    bool htmlFormatting() const noexcept { return htmlFormatting_; }
    void setHtmlFormatting(bool html) noexcept { htmlFormatting_ = html; }

    // Compiles every block into the image in one call; stops at the first
    // block that fails. One compile record per block either way.
    // [dropSymbols]: the program is only saved, so the image needs no symbol tables.
    ereturnvalue compile(const std::vector<BlockSource>& blocks, const std::string& pagePath, bool dropSymbols = false);

    // Installs the code of a compiled file: the code bytes, its source file
    // table, one output buffer and one clean compile record per block header.
    // Returns the block count; throws Error when the code has no block layout.
    int32_t installProgram(std::string_view code, const std::map<int32_t, std::string>& sourceFiles);

    // Block numbers start at 1. Null when block n has no record / no buffer.
    const BlockCompileResult* compileRecord(int32_t block) const noexcept;
    int32_t compileRecordCount() const noexcept { return static_cast<int32_t>(records_.size()); }
    OutputBuffer* blockOutput(int32_t block) noexcept;
    bool hasProgram() const noexcept { return image_.codeSize() > 0; }

    // Run to the end, or one slice for the script manager. A run that the
    // machine ended with OK reports the response's run result instead. The
    // files the script opened are closed when its run is over.
    ereturnvalue run(std::string& message);
    ereturnvalue runSlice(int32_t budget, bool restart, std::string& message);

    HostContext& hostContext() noexcept { return host_; }
    ResponseState& response() noexcept { return host_.response; }
    const ResponseState& response() const noexcept { return host_.response; }

  protected:
    // A host with more system functions supplies its own machine here.
    virtual std::unique_ptr<VirtualMachine> createMachine();

  private:
    ProgramImage image_;
    std::unique_ptr<VirtualMachine> machine_;
    std::vector<BlockCompileResult> records_;
    std::string scriptPath_;
    bool htmlFormatting_ = true;
    HostContext host_;
    static inline FastPaths fastPaths_ = FastPaths::Normal;
};

} // namespace tn
