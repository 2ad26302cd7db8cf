#include "devtools/check_messages.h"
#include "devtools/function_catalog.h"
#include "devtools/listing.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

namespace tn::dev
{
namespace
{

TEST(CheckMessages, OneFileLineMessagePerError)
{
    test::ScratchFolder scratch;
    struct Case
    {
        const char* name;
        const char* text;
        const char* expected; // "@" stands for the page's path
    };
    const Case cases[] = {
        {"good.tnl", "<p><?tnl print(1); ?></p>", ""},
        {"break.tnl", "a\n<?tnl\n$x = 1;\nbreak;\n?>", "@:4: {7} misplaced break\n"},
        {"undefined.tnl", "<?tnl f(); ?><?tnl ?>", "@:1: {1003} undefined function \"f\"\n"},
        {"plain.tnl", "<p>no code</p>", "@:1: no code block: the page would be served empty\n"},
        {"empty.tnl", "", "@: Empty script: @\n"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string path = scratch.write(c.name, c.text);
        std::string expected = c.expected;
        for (size_t at = expected.find('@'); at != std::string::npos; at = expected.find('@'))
            expected.replace(at, 1, path);
        EXPECT_EQ(CheckMessages(path, LoadPageForTool(path)), expected);
    }
    const std::string missing = scratch.file("missing.tnl");
    EXPECT_EQ(CheckMessages(missing, LoadPageForTool(missing)), missing + ": Script not found: " + missing + "\n");
}

TEST(Listing, NamesFunctionsCallsAndSourceLines)
{
    test::ScratchFolder scratch;
    const std::string path = scratch.write("page.tnl", "<?tnl\n"
                                                       "function twice($n)\n"
                                                       "{\n"
                                                       "    return $n * 2;\n"
                                                       "}\n"
                                                       "print(strlen(twice(4)));\n"
                                                       "?>");
    const LoadedPage page = LoadPageForTool(path);
    ASSERT_EQ(page.result, ereturnvalue::OK);
    const std::string listing = ListProgram(page.script->engine().image(), FileSourceLines());
    for (const char* expected : {"; file 1: ", "; function twice, 1 parameter\n", "; end of function twice\n",
                                 "  ; return $n * 2;\n", " ; strlen\n", " twice\n", "0000  OUTBLOCK      1\n"})
        EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;

    // A compiled file has no symbols: the bounds stay, the name goes.
    const std::string compiled = scratch.file("page.ctn");
    ASSERT_EQ(page.script->saveCompiled(compiled), ereturnvalue::OK);
    const LoadedPage fromFile = LoadPageForTool(compiled);
    ASSERT_EQ(fromFile.result, ereturnvalue::OK);
    EXPECT_TRUE(fromFile.compiledFile);
    const std::string bare = ListProgram(fromFile.script->engine().image(), FileSourceLines());
    EXPECT_NE(bare.find("; function at 0"), std::string::npos) << bare;
    EXPECT_EQ(bare.find("; function twice,"), std::string::npos) << bare;
}

// The count texts are checked against docs/functions.md in function_reference_test.cpp.
TEST(FunctionCatalogTest, NamePatterns)
{
    EXPECT_TRUE(NameMatches("strtoupper", "UPPER"));
    EXPECT_TRUE(NameMatches("dateadddays", "date*days"));
    EXPECT_FALSE(NameMatches("dateadddays", "date*hours"));
    EXPECT_EQ(SystemFunctionName(-5377), "strlen");
}

} // namespace
} // namespace tn::dev
