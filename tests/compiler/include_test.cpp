// Include preprocessing with real files in a temporary folder: directive
// recognition, unit splitting and line mapping, path resolution, errors and
// the bound on self-inclusion, then the same through the compile driver.
#include "compiler/compile_run.h"
#include "compiler/include_preprocessor.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

using namespace tn;
using namespace tn::test;

namespace
{

namespace fs = std::filesystem;

class IncludeTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        static int counter = 0;
        root_ =
            fs::temp_directory_path() / ("tn_include_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        fs::create_directories(root_);
        dir_ = root_.string();
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void write(const std::string& relative, const std::string& text)
    {
        const fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    std::string path(const std::string& relative) const { return dir_ + "/" + relative; }
    std::string page() const { return path("page.htm"); }

    // "start:path|code" per unit, paths relative to the folder.
    std::string units(const IncludePreprocessor& pre) const
    {
        std::string out;
        for (size_t i = 0; i < pre.unitCount(); ++i)
        {
            const CompileUnit& unit = pre.unit(i);
            std::string where = unit.path;
            if (where.rfind(dir_ + "/", 0) == 0) where = where.substr(dir_.size() + 1);
            out += std::to_string(unit.startLine) + ":" + where + "|" + std::string(unit.code) + "\n";
        }
        return out;
    }

    fs::path root_;
    std::string dir_;
};

} // namespace

// ---- Directives and units ----

TEST_F(IncludeTest, SplitsAroundADirectiveAndKeepsTheIncludingLines)
{
    write("inc.tn", "$i = 1;\n");
    IncludePreprocessor pre;
    ASSERT_EQ(pre.preprocess("$a = 1;\n$b = 2;\n#include \"inc.tn\"\n$c = 3;\n", page(), 10), ereturnvalue::OK);
    // The rest starts with the directive line's own line break, on line 12.
    EXPECT_EQ(units(pre), "10:page.htm|$a = 1;\n$b = 2;\n\n"
                          "1:inc.tn|$i = 1;\n\n"
                          "12:page.htm|\n$c = 3;\n\n");
}

TEST_F(IncludeTest, BlankLinesCountBeforeAndAfterADirective)
{
    write("inc.tn", "x");
    IncludePreprocessor pre;
    ASSERT_EQ(pre.preprocess("\n\n\r\n  #include \"inc.tn\"\r\n\n\nend", page(), 1), ereturnvalue::OK);
    ASSERT_EQ(pre.unitCount(), 3u);
    EXPECT_EQ(pre.unit(2).startLine, 4);
    EXPECT_EQ(pre.unit(2).code, "\r\n\n\nend");
}

TEST_F(IncludeTest, RecognisesCaseTabsAndRepeatedLetters)
{
    write("a.tn", "A");
    IncludePreprocessor pre;
    ASSERT_EQ(pre.preprocess("\t\t#INCLUDE\t\"a.tn\"  \t", page(), 1), ereturnvalue::OK);
    EXPECT_EQ(units(pre), "1:page.htm|\n1:a.tn|A\n1:page.htm|\n");
    ASSERT_EQ(pre.preprocess("#includee\"a.tn\"", page(), 1), ereturnvalue::OK);
    EXPECT_EQ(pre.unitCount(), 3u);
}

TEST_F(IncludeTest, OnlyALeadingDirectiveWithAnArgumentCounts)
{
    IncludePreprocessor pre;
    const std::string code = "$a = 1; #include \"x.tn\"\n#include\n#include   \r\necho(1);";
    ASSERT_EQ(pre.preprocess(code, page(), 1), ereturnvalue::OK);
    EXPECT_EQ(units(pre), "1:page.htm|" + code + "\n");
}

TEST_F(IncludeTest, EmptyIncludedFileAddsAnEmptyUnitAndAFinalNulIsDropped)
{
    write("empty.tn", "");
    write("nul.tn", std::string("N\0", 2));
    IncludePreprocessor pre;
    ASSERT_EQ(pre.preprocess("#include \"empty.tn\"\n#include \"nul.tn\"", page(), 1), ereturnvalue::OK);
    EXPECT_EQ(units(pre), "1:page.htm|\n1:empty.tn|\n1:page.htm|\n\n1:nul.tn|N\n2:page.htm|\n");
}

TEST_F(IncludeTest, NestedIncludesResolveAgainstTheIncludingFile)
{
    write("sub/a.tn", "#include \"b.tn\"\n");
    write("sub/b.tn", "inner");
    write("b.tn", "wrong one");
    IncludePreprocessor pre;
    ASSERT_EQ(pre.preprocess("#include \"sub\\a.tn\"", page(), 1), ereturnvalue::OK);
    EXPECT_EQ(units(pre), "1:page.htm|\n"
                          "1:sub/a.tn|\n"
                          "1:sub/b.tn|inner\n"
                          "1:sub/a.tn|\n\n"
                          "1:page.htm|\n");
}

TEST_F(IncludeTest, PageWithoutFolderResolvesAgainstTheWorkingFolder)
{
    IncludePreprocessor pre;
    ASSERT_EQ(pre.preprocess("#include \"surely-missing-file.tn\"", "page.htm", 1), ereturnvalue::Reject);
    EXPECT_EQ(pre.errorMessage(), "Include file error: \"surely-missing-file.tn\"");
}

// ---- Errors ----

TEST_F(IncludeTest, DirectiveErrors)
{
    fs::create_directories(root_ / "folder");
    struct Case
    {
        std::string code;
        std::string message;
    };
    const Case cases[] = {
        {"#include 'a.tn'", "Invalid include directive"},
        {"#include \"\"", "Invalid include directive"},
        {"#include a.tn", "Invalid include directive"},
        {"#include \"a.tn\" // note", "Invalid include directive"},
        {"#include \"/etc/hosts\"", "Include file absolute path used: \"/etc/hosts\""},
        {"#include \"\\x\\y.tn\"", "Include file absolute path used: \"\\x\\y.tn\""},
        {"#include \"C:\\x.tn\"", "Include file absolute path used: \"C:\\x.tn\""},
        {"#include \"C:/x.tn\"", "Include file absolute path used: \"C:/x.tn\""},
        {"#include \"C:x.tn\"", "Include file error: \"C:x.tn\""},
        {"#include \"missing.tn\"", "Include file error: \"missing.tn\""},
        {"#include \"folder\"", "Include file error: \"folder\""},
    };
    for (const Case& c : cases)
    {
        IncludePreprocessor pre;
        EXPECT_EQ(pre.preprocess("$a = 1;\n" + c.code + "\n$b = 2;", page(), 20), ereturnvalue::Reject) << c.code;
        EXPECT_EQ(pre.errorMessage(), c.message) << c.code;
        EXPECT_EQ(pre.errorLine(), 21) << c.code;
        EXPECT_EQ(pre.errorPath(), page()) << c.code;
        EXPECT_EQ(pre.errorUnit(), 0) << c.code;
    }
}

TEST_F(IncludeTest, ErrorInAnIncludedFileNamesThatFileAndItsLine)
{
    write("a.tn", "one\ntwo\n#include \"gone.tn\"\n");
    IncludePreprocessor pre;
    ASSERT_EQ(pre.preprocess("x\n#include \"a.tn\"", page(), 5), ereturnvalue::Reject);
    EXPECT_EQ(pre.errorMessage(), "Include file error: \"gone.tn\"");
    EXPECT_EQ(pre.errorPath(), path("a.tn"));
    EXPECT_EQ(pre.errorLine(), 3);
    EXPECT_EQ(pre.errorUnit(), 1);
}

TEST_F(IncludeTest, SelfInclusionEndsWithAFileError)
{
    write("self.tn", "$x = 1;\n#include \"self.tn\"\n");
    write("ping.tn", "#include \"pong.tn\"");
    write("pong.tn", "\n#include \"ping.tn\"");
    IncludePreprocessor pre;
    ASSERT_EQ(pre.preprocess("#include \"self.tn\"", page(), 1), ereturnvalue::Reject);
    EXPECT_EQ(pre.errorMessage(), "Include file error: \"self.tn\"");
    EXPECT_EQ(pre.errorPath(), path("self.tn"));
    EXPECT_EQ(pre.errorLine(), 2);

    ASSERT_EQ(pre.preprocess("#include \"ping.tn\"", page(), 1), ereturnvalue::Reject);
    EXPECT_EQ(pre.errorMessage().rfind("Include file error: \"p", 0), 0u) << pre.errorMessage();
}

TEST_F(IncludeTest, WideIncludeTreesAreBoundedToo)
{
    // Each level includes the next one eight times: 8^5 units unbounded.
    for (int level = 0; level < 5; ++level)
    {
        std::string text;
        for (int i = 0; i < 8; ++i)
            text += "#include \"l" + std::to_string(level + 1) + ".tn\"\n";
        write("l" + std::to_string(level) + ".tn", text);
    }
    write("l5.tn", "leaf");
    IncludePreprocessor pre;
    EXPECT_EQ(pre.preprocess("#include \"l0.tn\"", page(), 1), ereturnvalue::Reject);
    EXPECT_LE(pre.unitCount(), IncludePreprocessor::kMaxUnits);
    EXPECT_EQ(pre.errorMessage().rfind("Include file error: \"l", 0), 0u) << pre.errorMessage();
}

// ---- Through the compile driver ----

TEST_F(IncludeTest, IncludedCodeCompilesAndRuns)
{
    write("lib/util.tn", "function twice($v)\n{\n    return $v * 2;\n}\n#include \"more.tn\"\n");
    write("lib/more.tn", "$base = 20;\n");
    std::vector<std::string> codes{"#include \"lib/util.tn\"\necho(twice($base));"};
    const CompileRun run = CompileAndRunBlocks({{3, 1, true, codes[0]}}, page());
    ASSERT_EQ(run.compileResult, ereturnvalue::OK) << run.compileMessage();
    EXPECT_EQ(run.output, "40");
}

TEST_F(IncludeTest, CompileErrorInAnIncludedFileNamesItAndItsOwnLine)
{
    write("lib/bad.tn", "$a = 1;\n\nbreak;\n");
    std::vector<std::string> codes{"echo(1);", "$x = 1;\n#include \"lib/bad.tn\"\n"};
    ProgramImage image;
    std::vector<BlockCompileResult> results;
    EXPECT_EQ(CompileInto(image, {{1, 1, true, codes[0]}, {6, 2, true, codes[1]}}, results, page()),
              ereturnvalue::Reject);
    EXPECT_EQ(results[1].message, "{7} misplaced break");
    EXPECT_EQ(results[1].errorLine, 3);
    EXPECT_EQ(results[1].errorFile, path("lib/bad.tn"));
    EXPECT_EQ(image.sourceFiles(), (std::vector<std::string>{page(), path("lib/bad.tn")}));
}

TEST_F(IncludeTest, IncludeErrorIsTheBlockMessageOnce)
{
    std::vector<std::string> codes{"$x = 1;\n\n#include \"nope.tn\"\n"};
    ProgramImage image;
    std::vector<BlockCompileResult> results;
    EXPECT_EQ(CompileInto(image, {{4, 1, true, codes[0]}}, results, page()), ereturnvalue::Reject);
    EXPECT_EQ(results[0].message, "Include file error: \"nope.tn\"");
    EXPECT_EQ(results[0].errorLine, 6);
    EXPECT_EQ(results[0].errorFile, page());
    EXPECT_FALSE(results[0].ok);
}

TEST_F(IncludeTest, DirectiveInsideAStatementCutsIt)
{
    write("body.tn", "echo(1);\n");
    std::vector<std::string> codes{"function f() {\n#include \"body.tn\"\n}"};
    ProgramImage image;
    std::vector<BlockCompileResult> results;
    EXPECT_EQ(CompileInto(image, {{1, 1, true, codes[0]}}, results, page()), ereturnvalue::Reject);
    EXPECT_EQ(results[0].message, "parse error");
}

TEST_F(IncludeTest, RuntimeErrorInAnIncludedFileNamesItsLine)
{
    write("lib/fail.tn", "function boom()\n{\n    return count(1, 2);\n}\n");
    std::vector<std::string> codes{"#include \"lib/fail.tn\"\nboom();"};
    const CompileRun run = CompileAndRunBlocks({{1, 1, true, codes[0]}}, page());
    ASSERT_EQ(run.compileResult, ereturnvalue::OK) << run.compileMessage();
    EXPECT_EQ(run.runResult, ereturnvalue::RuntimeError);
    const std::string where = ", on line 3 of " + path("lib/fail.tn");
    EXPECT_NE(run.runMessage.find(where), std::string::npos) << run.runMessage;
}
