// The compile driver through the real lexer and parser: block layout, error
// messages with their lines and files, errors found while finishing, the
// symbol tables, failures raised by a function set, and the compile lock.
#include "compiler/compile_run.h"
#include "hostlib/host_functions.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

using namespace tn;
using namespace tn::test;

namespace
{

CompileRun Compile(const std::vector<BlockSource>& blocks)
{
    return CompileBlocks(blocks, "dir/page.htm", Runs::None);
}

// Per block "ok", or the message and "@" error line; "-" marks a block that
// was not attempted (and so has no error line either).
std::string Summary(const CompileRun& r)
{
    std::string out;
    for (const BlockCompileResult& b : r.blocks)
    {
        out += out.empty() ? "" : " | ";
        out += b.attempted ? "" : "-";
        const bool clean = b.ok && b.message.empty() && (b.attempted || b.errorLine == 0);
        out += clean ? "ok" : b.message + "@" + std::to_string(b.errorLine);
    }
    return out;
}

// A second set that reuses an id of the core set under another name.
ereturnvalue doNothing(SysCall&)
{
    return ereturnvalue::OK;
}
constexpr SysFunction kDuplicateRows[] = {{"echoagain", -4097, ArgRule::any(), doNothing}};
const FunctionSet kDuplicateSet{kDuplicateRows};

} // namespace

TEST(CompileDriver, BlockLayout)
{
    // An empty block is its header and the jump over it.
    CompileRun r = Compile({{1, 1, true, ""}, {4, 2, false, "   \n"}});
    ASSERT_EQ(r.compileResult, ereturnvalue::OK);
    EXPECT_EQ(r.code, "OUTBLOCK 1, JMP 0, BLOCK 2, JMP 0");
    EXPECT_EQ(Summary(r), "ok | ok");

    // Both blocks are on line 5 of file 1, yet each gets its LINE.
    r = Compile({{5, 1, true, "echo(1);"}, {5, 2, true, "echo(2);"}});
    ASSERT_EQ(r.compileResult, ereturnvalue::OK);
    EXPECT_EQ(r.code, "OUTBLOCK 1, JMP 21, LINE 16777221, PUSHINT 1, PUSHINT 1, CALLSYS -4097, POP, "
                      "OUTBLOCK 2, JMP 21, LINE 16777221, PUSHINT 2, PUSHINT 1, CALLSYS -4097, POP");
}

TEST(CompileDriver, ImageGetsSourceFilesBlocksAndSymbols)
{
    ProgramImage image;
    image.addSourceFile("left over from an earlier compile");
    std::vector<BlockCompileResult> results;
    const std::vector<BlockSource> blocks{{1, 1, false, "$first = 1; function helper($p) { return $p; }"},
                                          {3, 2, true, "$second = helper($first);"}};
    const FunctionSets& functions = HostFunctionSets();
    ASSERT_EQ(Compiler::instance().compile(functions, image, blocks, results, "page.htm"), ereturnvalue::OK);
    EXPECT_EQ(image.sourceFiles(), std::vector<std::string>{"page.htm"});
    EXPECT_EQ(image.outputBufferCount(), 2);
    EXPECT_TRUE(image.hasBlockId(1));
    EXPECT_TRUE(image.hasBlockId(2));
    EXPECT_EQ(image.globalSymbols(), (std::map<int32_t, std::string>{{1, "first"}, {2, "second"}}));
    EXPECT_EQ(image.functionNames().value(image.functionNames().find("helper")), 1001);
    EXPECT_EQ(image.functionNames().value(image.functionNames().find("echo")), -4097);

    // Without symbols, whether switched off or for a program that is only
    // saved, the code stays the same; dropping them holds for that compile only.
    const std::string code = Disassemble(image);
    Compiler::instance().setKeepSymbols(false);
    ASSERT_EQ(Compiler::instance().compile(functions, image, blocks, results, "page.htm"), ereturnvalue::OK);
    Compiler::instance().setKeepSymbols(true);
    EXPECT_TRUE(image.globalSymbols().empty());
    EXPECT_EQ(image.functionNames().size(), 0);
    EXPECT_EQ(Disassemble(image), code);
    ASSERT_EQ(Compiler::instance().compile(functions, image, blocks, results, "page.htm", true), ereturnvalue::OK);
    EXPECT_EQ(image.functionNames().size(), 0);
    EXPECT_EQ(Disassemble(image), code);
    ASSERT_EQ(Compiler::instance().compile(functions, image, blocks, results, "page.htm"), ereturnvalue::OK);
    EXPECT_TRUE(image.hasFunctionName("helper"));
}

TEST(CompileDriver, ErrorLineIsWhereTheScannerStood)
{
    // Blocks start on line 10. A statement is compiled when the parser has
    // seen its end; "if" needs the next token to rule out an else.
    const std::pair<const char*, const char*> cases[] = {
        {"$a = 1;\n\n$b = ;", "parse error@12"},
        {"if (1) {\n  break;\n}\n\n$x = 1;", "{7} misplaced break@14"},
        {"while (1) {\n  switch ($x) {\n    continue;\n  }\n}", "ok"},
        {"switch ($x) {\n  continue;\n}", "{8} misplaced continue@12"},
        {"$x = 1 @ 2;", "parse error@10"},
        {"@", "{9} syntax error@10"},
        {"function f() { ; }\nfunction f() { ; }", "{10} function already defined@11"},
        {"function echo() { ; }", "{10} function already defined@10"},
        {"function f() {\n  function g() { ; }\n}", "{11} nested function definition@12"},
        {"global $g;", "{12} statement outside function definition@10"},
        {"case 1:", "{13} misplaced case@10"},
        // a case belongs to the switch around it, even inside a loop; a loop alone is not enough
        {"switch ($x) { while (0) { case 1: ; } }", "ok"},
        {"while (0) { default: }", "{13} misplaced case@10"},
        {"switch ($x) { case |raw|: ; }", "{4} invalid node error@10"},
        {"switch ($x) {\n case -(1+1): ; }", "{15} non constant expresion@11"},
    };
    for (const auto& [code, expected] : cases)
    {
        const CompileRun r = Compile({{10, 1, true, code}});
        EXPECT_EQ(Summary(r), expected) << code;
        EXPECT_EQ(r.compileResult, std::string(expected) == "ok" ? ereturnvalue::OK : ereturnvalue::Reject) << code;
    }
}

TEST(CompileDriver, UndefinedFunctionIsTheFirstInCodeOrder)
{
    // The first undefined call in code order is named.
    const CompileRun r = Compile({{1, 1, true, "function a() { zeta(); }"}, {1, 2, true, "alpha(); a();"}});
    EXPECT_EQ(r.blocks[1].message, "{1003} undefined function \"zeta\"");
    // Names are case-sensitive; a function defined in a later block resolves.
    EXPECT_EQ(Compile({{1, 1, true, "function f() { ; } F();"}}).blocks[0].message, "{1003} undefined function \"F\"");
    EXPECT_EQ(Compile({{1, 1, true, "f();"}, {1, 2, false, "function f() { ; }"}}).compileResult, ereturnvalue::OK);
}

TEST(CompileDriver, RegistrationFailuresEndTheCompileAtTheLastBlock)
{
    const std::vector<BlockSource> blocks{{1, 1, true, "echo(1);"}, {1, 2, true, "echo(2);"}};
    ProgramImage image;
    std::vector<BlockCompileResult> results;

    const FunctionSets duplicate{HostFunctionSets().front(), &kDuplicateSet};
    // A plain integer code outside the result codes comes back as the result.
    EXPECT_EQ(static_cast<int>(Compiler::instance().compile(duplicate, image, blocks, results, "p")), 1001);
    EXPECT_FALSE(results[0].attempted);
    EXPECT_EQ(results[1].message, "XXXX");
}

TEST(CompileDriver, CompilesFromSeveralThreadsDoNotMix)
{
    auto worker = [](int id, int& failures)
    {
        const std::string v = "$v" + std::to_string(id);
        for (int i = 0; i < 200; ++i)
            failures += RunOutput(v + " = " + std::to_string(id) + "; echo(" + v + ");") != std::to_string(id);
    };
    int failures[3] = {0, 0, 0};
    std::thread a(worker, 1, std::ref(failures[0]));
    std::thread b(worker, 2, std::ref(failures[1]));
    worker(3, failures[2]);
    a.join();
    b.join();
    EXPECT_EQ(failures[0] + failures[1] + failures[2], 0);
}

// Language cases a page cannot hold; the rest are the pages under tests/pages/lang.
TEST(CompileDriver, PlainBlocksOnlyDefineAndRawTextEndsAtAZeroByte)
{
    const CompileRun r = CompileBlocks(
        {{1, 1, false, "function f() { return \"from plain\"; } echo(\"never\");"}, {3, 2, true, "echo(f());"}},
        "page.htm");
    ASSERT_EQ(r.compileResult, ereturnvalue::OK) << r.compileMessage();
    EXPECT_EQ(r.output, "from plain");
    EXPECT_EQ(RunOutput(std::string("echo(|ab\0cd|);", 14)), "ab");
}
