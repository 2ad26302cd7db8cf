// The compile driver through the real lexer and parser: block layout, error
// messages with their lines and files, errors found while finishing, the
// symbol tables, failures raised by a function set, and the compile lock.
#include "compiler/compile_run.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace tn;
using namespace tn::test;

namespace
{

struct Compiled
{
    ereturnvalue result;
    std::vector<BlockCompileResult> blocks;
    std::string listing;
};

Compiled CompileBlocks(const std::vector<BlockSource>& blocks, const std::string& page = "dir/page.htm")
{
    Compiled compiled;
    ProgramImage image;
    compiled.result = CompileInto(image, blocks, compiled.blocks, page);
    compiled.listing = Disassemble(image);
    return compiled;
}

// A function set whose registration misbehaves in a chosen way.
class RegisteringSet : public VirtualMachine
{
  public:
    enum class Fault
    {
        DuplicateId,
        ThrowsResultCode,
    };
    explicit RegisteringSet(Fault fault) : fault_(fault) {}
    void registerFunctions(FunctionRegistry& registry) override
    {
        VirtualMachine::registerFunctions(registry);
        if (fault_ == Fault::DuplicateId)
            registry.registerSystemFunction("echoagain", -4097);
        else
            throw ereturnvalue::MemAlloc;
    }

  private:
    Fault fault_;
};

} // namespace

// ---- Layout ----

TEST(CompileDriver, EmptyBlockIsItsHeaderAndTheJumpOverIt)
{
    const Compiled compiled = CompileBlocks({{1, 1, true, ""}, {4, 2, false, "   \n"}});
    ASSERT_EQ(compiled.result, ereturnvalue::OK);
    EXPECT_EQ(compiled.listing, "0000 OUTBLOCK 1\n0005 JMP 0\n0010 BLOCK 2\n0015 JMP 0\n");
    EXPECT_TRUE(compiled.blocks[0].ok);
    EXPECT_TRUE(compiled.blocks[1].attempted);
}

TEST(CompileDriver, EachBlockHeaderStartsItsOwnLineRecord)
{
    std::vector<std::string> codes{"echo(1);", "echo(2);"};
    const Compiled compiled = CompileBlocks({{5, 1, true, codes[0]}, {5, 2, true, codes[1]}});
    ASSERT_EQ(compiled.result, ereturnvalue::OK);
    // Both blocks are on line 5 of file 1, yet each gets its LINE.
    EXPECT_EQ(compiled.listing, R"(0000 OUTBLOCK 1
0005 JMP 21
0010 LINE 16777221
0015 PUSHINT 1
0020 PUSHINT 1
0025 CALLSYS -4097
0030 POP
0031 OUTBLOCK 2
0036 JMP 21
0041 LINE 16777221
0046 PUSHINT 2
0051 PUSHINT 1
0056 CALLSYS -4097
0061 POP
)");
}

TEST(CompileDriver, ImageGetsSourceFilesBlocksAndSymbols)
{
    ProgramImage image;
    image.addSourceFile("left over from an earlier compile");
    std::vector<BlockCompileResult> results;
    std::vector<std::string> codes{"$first = 1; function helper($p) { return $p; }", "$second = helper($first);"};
    ASSERT_EQ(CompileInto(image, {{1, 1, false, codes[0]}, {3, 2, true, codes[1]}}, results, "page.htm"),
              ereturnvalue::OK);
    EXPECT_EQ(image.sourceFiles(), std::vector<std::string>{"page.htm"});
    EXPECT_EQ(image.outputBufferCount(), 2);
    EXPECT_TRUE(image.hasBlockId(1));
    EXPECT_TRUE(image.hasBlockId(2));
    EXPECT_EQ(image.globalSymbols(), (std::map<int32_t, std::string>{{1, "first"}, {2, "second"}}));
    EXPECT_EQ(image.functionSymbols().at(1001), "helper");
    EXPECT_EQ(image.functionSymbols().at(-4097), "echo");

    Compiler::instance().setKeepSymbols(false);
    ASSERT_EQ(CompileInto(image, {{1, 1, false, codes[0]}}, results, "page.htm"), ereturnvalue::OK);
    Compiler::instance().setKeepSymbols(true);
    EXPECT_TRUE(image.globalSymbols().empty());
    EXPECT_TRUE(image.functionSymbols().empty());
}

// ---- Errors in blocks ----

TEST(CompileDriver, FailingBlockStopsTheCompile)
{
    std::vector<std::string> codes{"echo(1);", "$x = 1;\nbreak;\n$y = 2;", "echo(3);"};
    const Compiled compiled = CompileBlocks({{1, 1, true, codes[0]}, {10, 2, true, codes[1]}, {20, 3, true, codes[2]}});
    EXPECT_EQ(compiled.result, ereturnvalue::Reject);
    EXPECT_TRUE(compiled.blocks[0].ok);
    EXPECT_EQ(compiled.blocks[0].message, "");
    EXPECT_FALSE(compiled.blocks[1].ok);
    EXPECT_EQ(compiled.blocks[1].message, "{7} misplaced break");
    EXPECT_EQ(compiled.blocks[1].errorLine, 11);
    EXPECT_EQ(compiled.blocks[1].errorFile, "dir/page.htm");
    EXPECT_FALSE(compiled.blocks[2].attempted);
    EXPECT_TRUE(compiled.blocks[2].ok);
    EXPECT_EQ(compiled.blocks[2].message, "");
    EXPECT_EQ(compiled.blocks[2].errorLine, 0);
}

TEST(CompileDriver, ErrorLineIsWhereTheScannerStood)
{
    struct Case
    {
        const char* code;
        const char* message;
        int32_t line;
    };
    // Blocks start on line 10. A statement is compiled when the parser has
    // seen its end; "if" needs the next token to rule out an else.
    const Case cases[] = {
        {"$a = 1;\n\n$b = ;", "parse error", 12},
        {"if (1) {\n  break;\n}\n\n$x = 1;", "{7} misplaced break", 14},
        {"while (1) {\n  switch ($x) {\n    continue;\n  }\n}", "", 0},
        {"switch ($x) {\n  continue;\n}", "{8} misplaced continue", 12},
        {"$x = 1 @ 2;", "parse error", 10},
        {"@", "{9} syntax error", 10},
        {"function f() { ; }\nfunction f() { ; }", "{10} function already defined", 11},
        {"function echo() { ; }", "{10} function already defined", 10},
        {"function f() {\n  function g() { ; }\n}", "{11} nested function definition", 12},
        {"global $g;", "{12} statement outside function definition", 10},
        {"case 1:", "{13} misplaced case", 10},
        {"switch ($x) { case |raw|: ; }", "{4} invalid node error", 10},
        {"switch ($x) {\n case -(1+1): ; }", "{15} non constant expresion", 11},
        {"switch ($x) { case 1+1: ; }", "parse error", 10},
        {"function f() { }", "parse error", 10},
        {"$a[1][2] = 1;", "parse error", 10},
    };
    for (const Case& c : cases)
    {
        std::vector<std::string> codes{c.code};
        const Compiled compiled = CompileBlocks({{10, 1, true, codes[0]}});
        EXPECT_EQ(compiled.blocks[0].message, c.message) << c.code;
        if (*c.message)
        {
            EXPECT_EQ(compiled.result, ereturnvalue::Reject) << c.code;
            EXPECT_EQ(compiled.blocks[0].errorLine, c.line) << c.code;
        }
        else
        {
            EXPECT_EQ(compiled.result, ereturnvalue::OK) << c.code;
        }
    }
}

// ---- Errors found while finishing ----

TEST(CompileDriver, UndefinedFunctionIsReportedAtTheLastBlock)
{
    std::vector<std::string> codes{"f();", "echo(1);", "echo(2);"};
    const Compiled compiled = CompileBlocks({{2, 1, true, codes[0]}, {7, 2, true, codes[1]}, {9, 3, false, codes[2]}});
    EXPECT_EQ(compiled.result, ereturnvalue::Reject);
    EXPECT_TRUE(compiled.blocks[0].ok);
    EXPECT_EQ(compiled.blocks[0].message, "");
    EXPECT_FALSE(compiled.blocks[2].ok);
    EXPECT_EQ(compiled.blocks[2].message, "{1003} undefined function \"f\"");
    EXPECT_EQ(compiled.blocks[2].errorLine, 9);
    EXPECT_EQ(compiled.blocks[2].errorFile, "dir/page.htm");
}

TEST(CompileDriver, FirstUndefinedCallInCodeOrderIsNamed)
{
    std::vector<std::string> codes{"function a() { zeta(); }", "alpha(); a();"};
    const Compiled compiled = CompileBlocks({{1, 1, true, codes[0]}, {1, 2, true, codes[1]}});
    EXPECT_EQ(compiled.blocks[1].message, "{1003} undefined function \"zeta\"");
}

TEST(CompileDriver, FunctionDefinedInALaterBlockResolves)
{
    std::vector<std::string> codes{"f();", "function f() { ; }"};
    EXPECT_EQ(CompileBlocks({{1, 1, true, codes[0]}, {1, 2, false, codes[1]}}).result, ereturnvalue::OK);
}

// ---- Failures raised by the function set ----

TEST(CompileDriver, RegistrationFailuresEndTheCompileAtTheLastBlock)
{
    std::vector<std::string> codes{"echo(1);", "echo(2);"};
    const std::vector<BlockSource> blocks{{1, 1, true, codes[0]}, {1, 2, true, codes[1]}};
    ProgramImage image;
    std::vector<BlockCompileResult> results;

    RegisteringSet duplicate(RegisteringSet::Fault::DuplicateId);
    // A plain integer code outside the result codes comes back as the result.
    EXPECT_EQ(static_cast<int>(Compiler::instance().compile(duplicate, image, blocks, results, "p")), 1001);
    EXPECT_FALSE(results[0].attempted);
    EXPECT_EQ(results[1].message, "XXXX");

    RegisteringSet throwing(RegisteringSet::Fault::ThrowsResultCode);
    EXPECT_EQ(Compiler::instance().compile(throwing, image, blocks, results, "p"), ereturnvalue::MemAlloc);
    EXPECT_EQ(results[1].message, "unknownMem Alloc");
    EXPECT_FALSE(results[1].ok);
}

// ---- Lock ----

TEST(CompileDriver, CompilesFromSeveralThreadsDoNotMix)
{
    auto worker = [](int id, int& failures)
    {
        const std::string code =
            "$v" + std::to_string(id) + " = " + std::to_string(id) + "; echo($v" + std::to_string(id) + ");";
        for (int i = 0; i < 200; ++i)
        {
            const CompileRun run = CompileAndRun(code);
            if (run.compileResult != ereturnvalue::OK || run.output != std::to_string(id)) ++failures;
        }
    };
    int failures[3] = {0, 0, 0};
    std::thread a(worker, 1, std::ref(failures[0]));
    std::thread b(worker, 2, std::ref(failures[1]));
    worker(3, failures[2]);
    a.join();
    b.join();
    EXPECT_EQ(failures[0] + failures[1] + failures[2], 0);
}
