// The compile driver: one process-wide instance that owns the lexer, the
// include preprocessor, the assembler, the code generator and the error
// record. The lexer and parser are not re-entrant, so a whole compile runs
// under one lock.
#include "compiler/compiler.h"

#include "compiler/assembler.h"
#include "compiler/code_generator.h"
#include "compiler/compile_errors.h"
#include "compiler/include_preprocessor.h"
#include "compiler/lexer.h"
#include "compiler/parser.h"

#include <mutex>

namespace tn
{

class CompilerImpl final : public ParserSink
{
  public:
    CompilerImpl() : parser_(lexer_, *this), generator_(assembler_) {}

    ereturnvalue compile(const FunctionSets& functions, ProgramImage& image, const std::vector<BlockSource>& blocks,
                         std::vector<BlockCompileResult>& results, const std::string& pagePath, bool dropSymbols);
    void setKeepSymbols(bool keep)
    {
        std::lock_guard lock(mutex_);
        keepSymbols_ = keep;
    }

    // ParserSink
    int compileStatement(SyntaxNode& node) override;
    void recordParseError(const char* text) override { recordError(text, {}, false); }

  private:
    void reset();
    ereturnvalue compileBlock(const BlockSource& block, BlockCompileResult& result);
    ereturnvalue parseUnit(const CompileUnit& unit);
    void recordError(std::string_view text, std::string_view extra, bool clearFirst);
    void reportCode(int32_t code);
    ereturnvalue gatherCode(int32_t code, std::string& gathered) const;
    void flushQuietly() noexcept;

    std::recursive_mutex mutex_;
    Lexer lexer_;
    // Kept from unit to unit so that its stack and node pool are reused.
    Parser parser_;
    IncludePreprocessor includes_;
    Assembler assembler_;
    CodeGenerator generator_;
    bool keepSymbols_ = true;
    std::string pagePath_;

    // Error record of the block being compiled.
    std::string message_;
    int32_t errorLine_ = -1;
    bool errorRecorded_ = false;
};

// ---- Error record ----

void CompilerImpl::recordError(std::string_view text, std::string_view extra, bool clearFirst)
{
    if (clearFirst) message_.clear();
    if (errorLine_ == -1) errorLine_ = lexer_.line();
    message_.append(text);
    if (!extra.empty())
    {
        message_.append(" \"");
        message_.append(extra);
        message_.push_back('"');
    }
    errorRecorded_ = true;
}

void CompilerImpl::reportCode(int32_t code)
{
    recordError(CompileErrorPrefix(code), {}, true);
    const std::string_view extra =
        code == kUndefinedFunction ? std::string_view(assembler_.undefinedFunctionName()) : std::string_view();
    recordError(CompileErrorText(code), extra, false);
}

// A code raised where no compile error is expected: it becomes the result, and
// its display name ends what has been recorded.
ereturnvalue CompilerImpl::gatherCode(int32_t code, std::string& gathered) const
{
    gathered = message_ + ResultCodeName(code);
    return static_cast<ereturnvalue>(code);
}

void CompilerImpl::flushQuietly() noexcept
{
    try
    {
        assembler_.flush();
    }
    catch (...)
    {
        // The image of a failed compile is not used; losing its tail is harmless.
    }
}

// ---- Statements ----

int CompilerImpl::compileStatement(SyntaxNode& node)
{
    int code = 0;
    try
    {
        generator_.generate(&node, nullptr);
    }
    catch (const CompileError& raised)
    {
        code = raised.code;
    }
    catch (...)
    {
        code = kFatalError;
    }
    if (code != 0) reportCode(code);
    return code;
}

// ---- Compile ----

namespace
{

// Programs seldom take more than twice their source text in code. Pages that
// are never written to cost no memory, so guessing high is cheap; guessing
// low only makes the code buffer grow (and move) as it did without a guess.
size_t codeEstimate(const std::vector<BlockSource>& blocks)
{
    size_t text = 0;
    for (const BlockSource& block : blocks)
        text += block.code.size();
    return 2 * text + 4096;
}

} // namespace

void CompilerImpl::reset()
{
    errorLine_ = -1;
    message_.clear();
    includes_.clear();
    generator_.reset();
    errorRecorded_ = false;
}

ereturnvalue CompilerImpl::parseUnit(const CompileUnit& unit)
{
    errorRecorded_ = false;
    if (unit.code.empty()) return ereturnvalue::OK;
    assembler_.setSourceFile(unit.path);
    lexer_.setInput(unit.code);
    lexer_.reset(unit.startLine);
    const int parsed = parser_.parse();
    return (parsed != 0 || errorRecorded_) ? ereturnvalue::Reject : ereturnvalue::OK;
}

ereturnvalue CompilerImpl::compileBlock(const BlockSource& block, BlockCompileResult& result)
{
    errorLine_ = -1;
    result.attempted = true;
    result.errorLine = block.firstLine;
    result.errorFile = pagePath_;

    const int32_t end = assembler_.newLabel();
    assembler_.emitBlockHeader(block.id, block.isOutput);
    assembler_.emitInt(Op::JMP, end);

    ereturnvalue code = ereturnvalue::OK;
    std::string message;
    const CompileUnit* current = nullptr; // the unit being parsed
    try
    {
        code = includes_.preprocess(block.code, pagePath_, block.firstLine);
        if (code != ereturnvalue::OK)
        {
            result.errorLine = includes_.errorLine();
            result.errorFile = includes_.errorPath();
            message = includes_.errorMessage();
        }
        for (size_t i = 0; code == ereturnvalue::OK && i < includes_.unitCount(); ++i)
        {
            current = &includes_.unit(i);
            code = parseUnit(*current);
            if (code == ereturnvalue::OK) continue;
            message = message_.empty() ? std::string("unknown parser error") : message_;
        }
    }
    catch (ereturnvalue raised)
    {
        code = raised;
        message = std::string("unknown") + ResultCodeName(raised);
    }
    catch (const CompileError& raised)
    {
        code = gatherCode(raised.code, message);
    }
    catch (int raised) // a result code thrown as a plain integer
    {
        code = gatherCode(raised, message);
    }
    catch (...)
    {
        code = ereturnvalue::Error;
        message = "unknown";
    }
    if (code != ereturnvalue::OK)
    {
        if (current)
        {
            if (errorLine_ > 0) result.errorLine = errorLine_;
            result.errorFile = current->path;
        }
        result.ok = false;
        result.message.append(message);
    }
    assembler_.defineLabel(end);
    return code;
}

ereturnvalue CompilerImpl::compile(const FunctionSets& functions, ProgramImage& image,
                                   const std::vector<BlockSource>& blocks, std::vector<BlockCompileResult>& results,
                                   const std::string& pagePath, bool dropSymbols)
{
    ereturnvalue code = ereturnvalue::OK;
    std::string gathered;
    {
        std::lock_guard lock(mutex_);
        reset();
        results.assign(blocks.size(), BlockCompileResult{});
        pagePath_ = pagePath;
        bool finishing = false;
        try
        {
            image.clear();
            image.clearSourceFiles();
            assembler_.setKeepSymbols(keepSymbols_ && !dropSymbols);
            assembler_.reset(&image);
            assembler_.reserveCode(codeEstimate(blocks));
            assembler_.reserveSystemFunctions(functions);
            for (const FunctionSet* set : functions)
                set->registerAll(assembler_);
            for (size_t i = 0; i < blocks.size() && code == ereturnvalue::OK; ++i)
                code = compileBlock(blocks[i], results[i]);
            if (code == ereturnvalue::OK)
            {
                finishing = true;
                assembler_.finish();
                finishing = false;
                image.scan();
            }
        }
        catch (const CompileError& raised)
        {
            if (finishing)
            {
                code = ereturnvalue::Reject;
                reportCode(raised.code);
                gathered = message_.empty() ? std::string("unknown parser error") : message_;
            }
            else
            {
                // Registration of the system functions, or a block's frame.
                code = gatherCode(raised.code, gathered);
            }
        }
        catch (int raised) // a result code thrown as a plain integer
        {
            code = gatherCode(raised, gathered);
        }
        catch (ereturnvalue raised)
        {
            code = raised;
            gathered = std::string("unknown") + ResultCodeName(raised);
        }
        catch (...)
        {
            code = ereturnvalue::Error;
            gathered = "unknown";
        }
        // A failed compile leaves what it generated in the image.
        if (code != ereturnvalue::OK) flushQuietly();
        // Keep no views into the caller's text past the compile.
        includes_.clear();
        lexer_.setInput({});
    }
    if (code != ereturnvalue::OK && !results.empty() && !gathered.empty())
    {
        // Errors found after the blocks (an undefined function) stand at the last block.
        BlockCompileResult& last = results.back();
        last.ok = false;
        last.message.append(gathered);
    }
    return code;
}

// ---- Compiler ----

// Never destroyed: a compile may still be asked for while the process exits.
Compiler& Compiler::instance()
{
    static Compiler* const compiler = new Compiler;
    return *compiler;
}

Compiler::Compiler() : impl_(new CompilerImpl) {}

Compiler::~Compiler()
{
    delete impl_;
}

ereturnvalue Compiler::compile(const FunctionSets& functions, ProgramImage& image,
                               const std::vector<BlockSource>& blocks, std::vector<BlockCompileResult>& results,
                               const std::string& pagePath, bool dropSymbols)
{
    return impl_->compile(functions, image, blocks, results, pagePath, dropSymbols);
}

void Compiler::setKeepSymbols(bool keep)
{
    impl_->setKeepSymbols(keep);
}

} // namespace tn
