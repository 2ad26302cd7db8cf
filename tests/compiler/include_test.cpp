// Include preprocessing with real files in a temporary folder: directive
// recognition, unit splitting and line mapping, path resolution, errors and
// the bounds on self-inclusion and on wide trees, and a directive that cuts a
// statement. Included code through a whole run is in the include_* golden pages.
#include "compiler/compile_run.h"
#include "compiler/include_preprocessor.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <string>

using namespace tn;
using namespace tn::test;

namespace
{

class IncludeTest : public ::testing::Test
{
  protected:
    void write(const std::string& relative, const std::string& text) { folder_.write(relative, text); }
    std::string path(const std::string& relative) const { return folder_.file(relative); }
    std::string page() const { return path("page.htm"); }

    std::string relative(const std::string& full) const
    {
        const std::string prefix = folder_.path() + "/";
        return full.rfind(prefix, 0) == 0 ? full.substr(prefix.size()) : full;
    }
    // "start:path|code" per unit, or "error unit:line path message"; paths
    // relative to the folder.
    std::string expand(const std::string& code, int32_t startLine = 1)
    {
        IncludePreprocessor pre;
        if (pre.preprocess(code, page(), startLine) != ereturnvalue::OK)
            return "error " + std::to_string(pre.errorUnit()) + ":" + std::to_string(pre.errorLine()) + " " +
                   relative(pre.errorPath()) + " " + pre.errorMessage();
        std::string out;
        for (size_t i = 0; i < pre.unitCount(); ++i)
            out += std::to_string(pre.unit(i).startLine) + ":" + relative(pre.unit(i).path) + "|" +
                   std::string(pre.unit(i).code) + "\n";
        return out;
    }

    ScratchFolder folder_;
};

} // namespace

// ---- Directives and units ----

TEST_F(IncludeTest, DirectivesSplitTheCodeIntoUnits)
{
    write("inc.tn", "$i = 1;\n");
    write("a.tn", "A");
    write("empty.tn", "");
    write("nul.tn", std::string("N\0", 2));
    write("sub/a.tn", "#include \"b.tn\"\n");
    write("sub/b.tn", "inner");
    write("b.tn", "wrong one");
    const std::string notDirectives = "$a = 1; #include \"x.tn\"\n#include\n#include   \r\necho(1);";
    const std::pair<std::string, std::string> cases[] = {
        // the rest starts with the directive line's own line break, so it keeps the including lines
        {"$a = 1;\n$b = 2;\n#include \"inc.tn\"\n$c = 3;\n",
         "10:page.htm|$a = 1;\n$b = 2;\n\n1:inc.tn|$i = 1;\n\n12:page.htm|\n$c = 3;\n\n"},
        {"\n\n\r\n  #include \"a.tn\"\r\n\n\nend", "10:page.htm|\n\n\r\n\n1:a.tn|A\n13:page.htm|\r\n\n\nend\n"},
        // letter case, tabs and repeated letters of the word
        {"\t\t#INCLUDE\t\"a.tn\"  \t", "10:page.htm|\n1:a.tn|A\n10:page.htm|\n"},
        {"#includee\"a.tn\"", "10:page.htm|\n1:a.tn|A\n10:page.htm|\n"},
        // only a leading directive with an argument counts
        {notDirectives, "10:page.htm|" + notDirectives + "\n"},
        // an empty file adds an empty unit; a final NUL is dropped
        {"#include \"empty.tn\"\n#include \"nul.tn\"",
         "10:page.htm|\n1:empty.tn|\n10:page.htm|\n\n1:nul.tn|N\n11:page.htm|\n"},
        // a nested include resolves against the including file
        {"#include \"sub\\a.tn\"", "10:page.htm|\n1:sub/a.tn|\n1:sub/b.tn|inner\n1:sub/a.tn|\n\n10:page.htm|\n"},
    };
    for (const auto& [code, units] : cases)
        EXPECT_EQ(expand(code, 10), units) << testing::PrintToString(code);
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
    write("folder/x.tn", "");
    const std::pair<const char*, const char*> cases[] = {
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
    for (const auto& [directive, message] : cases)
        EXPECT_EQ(expand("$a = 1;\n" + std::string(directive) + "\n$b = 2;", 20),
                  "error 0:21 page.htm " + std::string(message));

    // An error in an included file names that file and its own line.
    write("a.tn", "one\ntwo\n#include \"gone.tn\"\n");
    EXPECT_EQ(expand("x\n#include \"a.tn\"", 5), "error 1:3 a.tn Include file error: \"gone.tn\"");
    // Self-inclusion ends at the depth bound, with the error in the file itself.
    write("self.tn", "$x = 1;\n#include \"self.tn\"\n");
    EXPECT_EQ(expand("#include \"self.tn\""), "error 64:2 self.tn Include file error: \"self.tn\"");
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

TEST_F(IncludeTest, DirectiveInsideAStatementCutsIt)
{
    write("body.tn", "echo(1);\n");
    const CompileRun r = CompileBlocks({{1, 1, true, "function f() {\n#include \"body.tn\"\n}"}}, page());
    EXPECT_EQ(r.compileResult, ereturnvalue::Reject);
    EXPECT_EQ(r.blocks[0].message, "parse error");
}
