#include "host/error_reporting.h"

#include "host/script_engine.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

TEST(FormatErrorLocationTest, HtmlFormNamesKindLocationAndLine)
{
    std::string out = "old";
    FormatErrorLocation(out, true, 12, "Compilation error", "{7} misplaced break", "lib/f.inc", "page.htm");
    EXPECT_EQ(out, "<b>Compilation error</b>: &acute;{7} misplaced break&acute; in <b>lib/f.inc</b> on line "
                   "<b>12</b><br>\n");
}

TEST(FormatErrorLocationTest, HtmlLocationFallsBackToScriptPathThenUnknown)
{
    std::string out;
    FormatErrorLocation(out, true, 0, "K", "<i>m</i>", "", "page.htm");
    EXPECT_EQ(out, "<b>K</b>: &acute;<i>m</i>&acute; in <b>page.htm</b><br>\n");
    FormatErrorLocation(out, true, -3, "K", "m", "", "");
    EXPECT_EQ(out, "<b>K</b>: &acute;m&acute; in <b>unknown script location</b><br>\n");
}

TEST(FormatErrorLocationTest, PlainFormIsMessageAndLineOnly)
{
    std::string out;
    FormatErrorLocation(out, false, 4, "K", "parse error", "f.htm", "p.htm");
    EXPECT_EQ(out, "parse error on line 4\n");
    FormatErrorLocation(out, false, 0, "K", "parse error", "f.htm", "p.htm");
    EXPECT_EQ(out, "parse error\n");
}

TEST(WriteErrorPageTest, ExactBytes)
{
    ByteBuffer out;
    out.append("previous");
    WriteErrorPage(out, "Invalid <compiled> script");
    EXPECT_EQ(out.view(), "Content-type: text/html\n\n<HTML>\n<HEAD>\n<TITLE>Tarnwell</TITLE>\n</HEAD>\n"
                          "<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#000000\" LINK=\"#800080\" VLINK=\"#800080\" "
                          "ALINK=\"#FF0000\">\nInvalid <compiled> script\n</BODY>\n</HTML>");
}

TEST(PlaceRuntimeErrorTest, OnlyTheLastBlockKeepsTheErrorText)
{
    ByteBuffer a;
    ByteBuffer b;
    ByteBuffer c;
    a.append("printed");
    c.append("also printed");
    ByteBuffer* outputs[] = {&a, &b, &c};
    PlaceRuntimeError(outputs, "Runtime Error: x");
    EXPECT_TRUE(a.empty());
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(c.view(), "Runtime Error: x");
    PlaceRuntimeError({}, "nothing to hold it");
}

TEST(IsRunFailureTest, OnlyRealFailuresCount)
{
    EXPECT_FALSE(IsRunFailure(ereturnvalue::OK));
    EXPECT_FALSE(IsRunFailure(ereturnvalue::Incomplete));
    EXPECT_FALSE(IsRunFailure(ereturnvalue::Wait));
    EXPECT_FALSE(IsRunFailure(ereturnvalue::SpecialError));
    EXPECT_TRUE(IsRunFailure(ereturnvalue::RuntimeError));
    EXPECT_TRUE(IsRunFailure(ereturnvalue::Empty));
    EXPECT_TRUE(IsRunFailure(ereturnvalue::MemAlloc));
}

class CompileErrorTextTest : public ::testing::Test
{
  protected:
    ereturnvalue compile(std::vector<std::string_view> codes)
    {
        std::vector<BlockSource> blocks;
        int32_t id = 1;
        for (std::string_view code : codes)
        {
            blocks.push_back(BlockSource{10 * id, id, true, code});
            ++id;
        }
        engine.setScriptPath("page.htm");
        return engine.compile(blocks, "page.htm");
    }
    ScriptEngine engine;
};

TEST_F(CompileErrorTextTest, FailingBlockIsFramedCleanAndUntriedBlocksAreNot)
{
    EXPECT_NE(compile({"print(1);", "\nbreak;", "print(3);"}), ereturnvalue::OK);
    std::string text = "untouched";
    EXPECT_EQ(CompileErrorText(engine, 1, text), ereturnvalue::OK);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(CompileErrorText(engine, 2, text), ereturnvalue::Error);
    EXPECT_EQ(text, "<b>Compilation error</b>: &acute;{7} misplaced break&acute; in <b>page.htm</b> on line "
                    "<b>21</b><br>\n");
    text = "untouched";
    EXPECT_EQ(CompileErrorText(engine, 3, text), ereturnvalue::OK);
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(CompileErrorText(engine, 4, text), ereturnvalue::Error);
    EXPECT_EQ(text, "Script id not found");
    EXPECT_EQ(CompileErrorText(engine, 0, text), ereturnvalue::Error);
}

TEST_F(CompileErrorTextTest, PlainFormWhenHtmlIsOff)
{
    engine.setHtmlFormatting(false);
    compile({"print(1);", "nosuchfunction();"});
    std::string text;
    EXPECT_EQ(CompileErrorText(engine, 2, text), ereturnvalue::Error);
    EXPECT_EQ(text, "{1003} undefined function \"nosuchfunction\" on line 20\n");
}

} // namespace
} // namespace tn
