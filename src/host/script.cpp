#include "host/script.h"
#include "common/ascii.h"

#include "host/compiled_file.h"
#include "host/error_reporting.h"
#include "host/page_splitter.h"
#include "host/request_preparation.h"

#include <sys/stat.h>

#include <limits>
#include <mutex>
#include <new>

namespace tn
{

namespace
{

constexpr const char* kStateNames[] = {"Created",      "Loaded",   "Running",      "Waiting", "LoadError",
                                       "CompileError", "Complete", "RuntimeError", "Killed"};

constexpr std::string_view kDefaultHeader = "Content-type: text/html\n\n";
constexpr std::string_view kCompiledExtension = "ctn";

struct FileFacts
{
    ScriptFileStatus status = ScriptFileStatus::NotFound;
    int64_t size = 0;
    timespec modified{};
};

FileFacts queryFile(const std::string& path)
{
    FileFacts facts;
    struct stat info
    {
    };
    if (::stat(path.c_str(), &info) != 0)
    {
        return facts;
    }
    if (S_ISREG(info.st_mode))
    {
        facts.status = ScriptFileStatus::RegularFile;
        facts.size = static_cast<int64_t>(info.st_size);
        facts.modified = info.st_mtim;
    }
    else if (S_ISDIR(info.st_mode))
    {
        facts.status = ScriptFileStatus::Directory;
        facts.modified = info.st_mtim;
    }
    return facts;
}

bool notOlder(const timespec& a, const timespec& b) noexcept
{
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec >= b.tv_nsec;
}

// The caught failure as a result code; a failure without a code is [fallback].
ereturnvalue currentFailure(ereturnvalue fallback) noexcept
{
    try
    {
        throw;
    }
    catch (ereturnvalue code)
    {
        return code;
    }
    catch (int code)
    {
        return static_cast<ereturnvalue>(code);
    }
    catch (const std::bad_alloc&)
    {
        return ereturnvalue::MemAlloc;
    }
    catch (...)
    {
        return fallback;
    }
}

} // namespace

const char* ScriptStateName(int32_t state) noexcept
{
    if (state < 0 || state > static_cast<int32_t>(ScriptState::Killed))
    {
        return "Error";
    }
    return kStateNames[state];
}

int32_t NextScriptId()
{
    static std::mutex lock;
    static int32_t counter = 0;
    const std::lock_guard<std::mutex> guard(lock);
    return ++counter;
}

Script::Script(int32_t mode, std::unique_ptr<ScriptEngine> engine)
{
    if (mode != kSupportedMode)
    {
        throw ereturnvalue::NotSupported;
    }
    engine_ = engine ? std::move(engine) : std::make_unique<ScriptEngine>();
    id_ = NextScriptId();
    engine_->hostContext().scripts.scriptId = id_;
}

Script::~Script()
{
    releasePieces();
    engine_->releaseProgram();
    engine_.reset();
}

void Script::releasePieces() noexcept
{
    blocks_.clear();
    literals_.clear();
}

// ---- environment ----

void Script::setEnvironmentVariable(std::string_view name, std::string_view value)
{
    std::string key = AsciiLowerCopy(name);
    if (value.empty())
    {
        environment_.erase(key);
        return;
    }
    environment_.insert_or_assign(std::move(key), std::string(value));
}

const std::string* Script::environmentVariable(std::string_view name) const
{
    const auto found = environment_.find(AsciiLowerCopy(name));
    return found == environment_.end() ? nullptr : &found->second;
}

// ---- finding and reading ----

ScriptFileStatus Script::FindScriptFile(const std::string& path, std::string& actualPath, int64_t& size,
                                        bool useSibling)
{
    actualPath = path;
    size = 0;
    if (path.empty())
    {
        return ScriptFileStatus::NotFound;
    }
    const size_t slash = path.find_last_of("/\\");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot >= nameStart && dot + 1 < path.size();

    FileFacts named = queryFile(path);
    if (useSibling && hasExtension && !EqualsIgnoreCase(std::string_view(path).substr(dot + 1), kCompiledExtension))
    {
        std::string siblingPath = path.substr(0, dot + 1);
        siblingPath.append(kCompiledExtension);
        const FileFacts sibling = queryFile(siblingPath);
        const bool siblingHasTime = sibling.modified.tv_sec != 0 || sibling.modified.tv_nsec != 0;
        if (sibling.status == ScriptFileStatus::RegularFile &&
            (named.status == ScriptFileStatus::NotFound ||
             (siblingHasTime && notOlder(sibling.modified, named.modified))))
        {
            actualPath = std::move(siblingPath);
            named = sibling;
        }
    }
    size = named.size;
    return named.status;
}

ereturnvalue Script::read(bool& compiled, bool useSibling)
{
    source_.clear();
    compiled = false;
    if (path_.empty())
    {
        errorMessage_ = "Script not specified";
        return ereturnvalue::NotFound;
    }
    std::string actualPath;
    int64_t size = 0;
    if (FindScriptFile(path_, actualPath, size, useSibling) != ScriptFileStatus::RegularFile)
    {
        errorMessage_ = "Script not found: " + path_;
        return ereturnvalue::NotFound;
    }
    if (size == 0)
    {
        errorMessage_ = "Empty script: " + path_;
        return ereturnvalue::Empty;
    }
    const bool fits = size <= std::numeric_limits<int32_t>::max();
    if (!fits || source_.readFile(actualPath, static_cast<int32_t>(size)) != ereturnvalue::OK || source_.empty())
    {
        source_.clear();
        // A compile deletes the compiled sibling before it writes the new one,
        // so the sibling found a moment ago may be gone: read the page itself.
        if (useSibling && actualPath != path_)
        {
            return read(compiled, false);
        }
        errorMessage_ = "Error reading script" + path_;
        return ereturnvalue::Empty;
    }
    if (IsCompiledFile(source_.view()))
    {
        compiled = true;
    }
    else
    {
        source_.dropTrailingZero();
    }
    return ereturnvalue::OK;
}

// ---- compiling and decoding ----

// The blocks' code stays in the source buffer, which the compile releases.
ereturnvalue Script::splitPage(std::vector<CodeBlockText>& texts)
{
    const bool emptyText = source_.empty();
    SplitPage(source_.view(), literals_, texts);
    blocks_.clear();
    blocks_.reserve(texts.size());
    for (const CodeBlockText& text : texts)
    {
        auto block = std::make_unique<CodeBlock>();
        block->startOffset = text.startOffset;
        block->endOffset = text.endOffset;
        block->line = text.line;
        blocks_.push_back(std::move(block));
    }
    if (emptyText)
    {
        errorMessage_ = "Empty Script: " + path_;
        return ereturnvalue::NotFound;
    }
    return blocks_.empty() ? ereturnvalue::Empty : ereturnvalue::OK;
}

ereturnvalue Script::prepareRequest()
{
    engine_->reset();
    engine_->setScriptPath(path_);
    return PrepareRequest(environment_, requestBody_.view(), engine_->machine());
}

ereturnvalue Script::compileSource(bool forSaving)
{
    // A throw ends the compile with the code of the last step that returned.
    ereturnvalue result = ereturnvalue::OK;
    bool compiling = false;
    try
    {
        std::vector<CodeBlockText> texts;
        result = splitPage(texts);
        if (result == ereturnvalue::OK)
        {
            result = prepareRequest();
        }
        if (result == ereturnvalue::OK)
        {
            std::vector<BlockSource> sources;
            sources.reserve(texts.size());
            for (size_t i = 0; i < texts.size(); ++i)
            {
                sources.push_back(BlockSource{texts[i].line, static_cast<int32_t>(i) + 1, true, texts[i].code});
            }
            compiling = true;
            result = engine_->compile(sources, path_, forSaving);
        }
    }
    catch (...)
    {
        if (compiling)
        {
            result = currentFailure(ereturnvalue::Error);
        }
    }
    // The code views into the page text are gone; the text is not needed any more.
    source_.clear();
    if (compiling && result != ereturnvalue::OK)
    {
        showCompileErrors();
    }
    return result;
}

void Script::showCompileErrors()
{
    std::string text;
    for (size_t i = 0; i < blocks_.size(); ++i)
    {
        text.clear();
        if (CompileErrorText(*engine_, static_cast<int32_t>(i) + 1, text) != ereturnvalue::OK)
        {
            blocks_[i]->output.clear();
            blocks_[i]->output.append(text);
        }
    }
    assemblePage();
}

ereturnvalue Script::decodeCompiled()
{
    ereturnvalue result = ereturnvalue::OK;
    try
    {
        result = prepareRequest();
        std::string code;
        std::map<int32_t, std::string> sourceFiles;
        const ereturnvalue decoded = DecodeCompiledFile(source_, literals_, code, sourceFiles);
        source_.clear();
        if (decoded != ereturnvalue::OK)
        {
            throw decoded;
        }
        const int32_t count = engine_->installProgram(code, sourceFiles);
        blocks_.clear();
        blocks_.reserve(static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i)
        {
            blocks_.push_back(std::make_unique<CodeBlock>());
        }
    }
    catch (...)
    {
        source_.clear();
        errorMessage_ = "Invalid compiled script";
        result = currentFailure(ereturnvalue::Error);
    }
    return result;
}

ereturnvalue Script::compileOnly()
{
    try
    {
        // The sibling was deleted just before; one that a concurrent compile
        // has written since is not this compile's input.
        bool compiled = false;
        const ereturnvalue rc = read(compiled, false);
        if (rc != ereturnvalue::OK)
        {
            return rc;
        }
        compiled_ = compiled;
        if (compiled)
        {
            source_.clear();
            errorMessage_ = "Script already compiled";
            return ereturnvalue::NotFound;
        }
        return compileSource(true);
    }
    catch (...)
    {
        return currentFailure(ereturnvalue::Error);
    }
}

ereturnvalue Script::load()
{
    if (state_ != ScriptState::Created)
    {
        throw ereturnvalue::Programing;
    }
    ereturnvalue result = ereturnvalue::OK;
    try
    {
        if (cgi_)
        {
            if (const std::string* translated = environmentVariable("path_translated"))
            {
                path_ = *translated;
            }
        }
        result = read(compiled_);
        if (result != ereturnvalue::OK)
        {
            state_ = ScriptState::LoadError;
        }
        else
        {
            result = compiled_ ? decodeCompiled() : compileSource();
            if (result == ereturnvalue::OK)
            {
                state_ = ScriptState::Loaded;
            }
            else
            {
                engine_->releaseProgram();
                state_ = ScriptState::CompileError;
            }
        }
        if (result != ereturnvalue::OK && result != ereturnvalue::NotFound)
        {
            finish(compiled_ ? result : ereturnvalue::OK);
        }
        engine_->setScriptPath(path_);
    }
    catch (...)
    {
        result = currentFailure(ereturnvalue::Error);
    }
    return result;
}

// ---- running ----

void Script::collectOutputs(ereturnvalue result, const std::string& message)
{
    if (IsRunFailure(result))
    {
        std::vector<ByteBuffer*> outputs;
        outputs.reserve(blocks_.size());
        for (const auto& block : blocks_)
        {
            outputs.push_back(&block->output);
        }
        PlaceRuntimeError(outputs, message);
        return;
    }
    for (size_t i = 0; i < blocks_.size(); ++i)
    {
        if (OutputBuffer* produced = engine_->blockOutput(static_cast<int32_t>(i) + 1))
        {
            blocks_[i]->output.moveFrom(*produced);
        }
        else
        {
            blocks_[i]->output.clear();
        }
    }
}

ereturnvalue Script::run()
{
    const ereturnvalue loaded = load();
    if (loaded != ereturnvalue::OK)
    {
        return loaded;
    }
    try
    {
        state_ = ScriptState::Running;
        ereturnvalue result = ereturnvalue::OK;
        std::string message;
        if (!blocks_.empty())
        {
            result = engine_->run(message);
        }
        const bool failed = IsRunFailure(result);
        if (failed)
        {
            // A code thrown by a container carries the machine's message as it
            // stands, which may be empty.
            errorMessage_ = message;
        }
        collectOutputs(result, errorMessage_);
        state_ = failed || result == ereturnvalue::SpecialError ? ScriptState::RuntimeError : ScriptState::Complete;
        assemblePage();
        if (result == ereturnvalue::SpecialError)
        {
            finish(ereturnvalue::OK);
            return ereturnvalue::SpecialError;
        }
        // A source page already shows its runtime error in place.
        return finish(compiled_ && failed ? result : ereturnvalue::OK);
    }
    catch (...)
    {
        return currentFailure(ereturnvalue::RuntimeError);
    }
}

ereturnvalue Script::runSlice(int32_t budget)
{
    if (state_ == ScriptState::Created)
    {
        return ereturnvalue::Programing;
    }
    if (state_ == ScriptState::Loaded)
    {
        state_ = ScriptState::Running;
    }
    if (state_ != ScriptState::Running && state_ != ScriptState::Waiting)
    {
        return ereturnvalue::OK;
    }
    ereturnvalue result = ereturnvalue::OK;
    std::string message;
    try
    {
        const bool restart = !sliceStarted_;
        sliceStarted_ = true;
        result = engine_->runSlice(budget, restart, message);
    }
    catch (...)
    {
        result = ereturnvalue::Error;
    }
    switch (result)
    {
    case ereturnvalue::OK:
        collectOutputs(result, message);
        state_ = ScriptState::Complete;
        break;
    case ereturnvalue::Incomplete:
        state_ = ScriptState::Running;
        break;
    case ereturnvalue::Wait:
        state_ = ScriptState::Waiting;
        break;
    default:
        errorMessage_ = message;
        collectOutputs(result, message);
        state_ = ScriptState::RuntimeError;
        break;
    }
    if (state_ == ScriptState::Complete || state_ == ScriptState::RuntimeError)
    {
        assemblePage();
        finish(ereturnvalue::OK);
    }
    return result;
}

// ---- the response ----

void Script::assemblePage()
{
    page_.clear();
    const ResponseState& response = engine_->response();
    if (response.pageSuppressed)
    {
        return;
    }
    if (!response.replacementPage.empty())
    {
        page_.append(response.replacementPage);
        return;
    }
    // A hostile compiled file may declare more or fewer segments than blocks + 1.
    const size_t pieces = std::max(literals_.size(), blocks_.size() + 1);
    for (size_t i = 0; i < pieces; ++i)
    {
        if (i < literals_.size())
        {
            page_.append(literals_[i]);
        }
        if (i < blocks_.size())
        {
            page_.appendBuffer(blocks_[i]->output);
        }
    }
}

ereturnvalue Script::finish(ereturnvalue code)
{
    output_.clear();
    if (code != ereturnvalue::OK)
    {
        WriteErrorPage(output_, errorMessage_);
        return code;
    }
    const std::string& header = engine_->response().headerText;
    if (header.empty())
    {
        output_.append(kDefaultHeader);
    }
    else
    {
        output_.append(header);
        output_.append("\n");
    }
    if (!page_.empty())
    {
        output_.appendBuffer(page_);
        page_.clear();
    }
    return ereturnvalue::OK;
}

void Script::errorMessages(ByteBuffer& out) const
{
    std::string text;
    for (size_t i = 0; i < blocks_.size(); ++i)
    {
        if (CompileErrorText(*engine_, static_cast<int32_t>(i) + 1, text) != ereturnvalue::OK)
        {
            out.append(text);
        }
    }
}

ereturnvalue Script::saveCompiled(const std::string& targetPath)
{
    try
    {
        const ProgramImage& image = engine_->image();
        std::map<int32_t, std::string> sourceFiles;
        const std::vector<std::string>& files = image.sourceFiles();
        for (size_t i = 0; i < files.size(); ++i)
        {
            sourceFiles.emplace(static_cast<int32_t>(i) + 1, files[i]);
        }
        if (WriteCompiledFile(targetPath, targetPath, literals_, image.codeView(), sourceFiles,
                              engine_->hasProgram()) == ereturnvalue::OK)
        {
            return ereturnvalue::OK;
        }
    }
    catch (...)
    {
        // Reported below like any failed write.
    }
    errorMessage_ = "Error reading script" + targetPath;
    return ereturnvalue::FileError;
}

} // namespace tn
