#include "host/error_reporting.h"

#include "host/script_engine.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

TEST(FormatErrorLocationTest, HtmlAndPlainForms)
{
    const struct
    {
        bool html;
        int32_t line;
        const char* fileName;
        const char* scriptPath;
        const char* expected;
    } rows[] = {
        {true, 12, "lib/f.inc", "page.htm",
         "<b>K</b>: &acute;<i>m</i>&acute; in <b>lib/f.inc</b> on line <b>12</b><br>\n"},
        {true, 0, "", "page.htm", "<b>K</b>: &acute;<i>m</i>&acute; in <b>page.htm</b><br>\n"},
        {true, -3, "", "", "<b>K</b>: &acute;<i>m</i>&acute; in <b>unknown script location</b><br>\n"},
        {false, 4, "f.htm", "p.htm", "<i>m</i> on line 4\n"},
        {false, 0, "f.htm", "p.htm", "<i>m</i>\n"},
    };
    for (const auto& row : rows)
    {
        std::string out = "old";
        FormatErrorLocation(out, row.html, row.line, "K", "<i>m</i>", row.fileName, row.scriptPath);
        EXPECT_EQ(out, row.expected);
    }
}

// The error page and where a runtime error lands are in the golden pages.
TEST(IsRunFailureTest, WaitsAndHttpErrorsAreNoFailures)
{
    for (const ereturnvalue rc :
         {ereturnvalue::OK, ereturnvalue::Incomplete, ereturnvalue::Wait, ereturnvalue::SpecialError})
        EXPECT_FALSE(IsRunFailure(rc)) << static_cast<int>(rc);
    for (const ereturnvalue rc : {ereturnvalue::RuntimeError, ereturnvalue::Empty, ereturnvalue::MemAlloc})
        EXPECT_TRUE(IsRunFailure(rc)) << static_cast<int>(rc);
}

TEST(CompileErrorTextTest, FramesFailingBlocksOnly)
{
    for (const bool html : {true, false})
    {
        ScriptEngine engine;
        engine.setHtmlFormatting(html);
        engine.setScriptPath("page.htm");
        std::vector<BlockSource> blocks;
        for (std::string_view code : {"print(1);", "\nbreak;", "print(3);"})
        {
            const int32_t id = static_cast<int32_t>(blocks.size()) + 1;
            blocks.push_back(BlockSource{10 * id, id, true, code});
        }
        EXPECT_NE(engine.compile(blocks, "page.htm"), ereturnvalue::OK);

        std::string text = "untouched";
        EXPECT_EQ(CompileErrorText(engine, 1, text), ereturnvalue::OK);
        EXPECT_EQ(CompileErrorText(engine, 3, text), ereturnvalue::OK); // never tried
        EXPECT_EQ(text, "untouched");
        EXPECT_EQ(CompileErrorText(engine, 2, text), ereturnvalue::Error);
        EXPECT_EQ(text, html ? "<b>Compilation error</b>: &acute;{7} misplaced break&acute; in <b>page.htm</b> on "
                               "line <b>21</b><br>\n"
                             : "{7} misplaced break on line 21\n");
        for (const int32_t unknown : {0, 4})
        {
            EXPECT_EQ(CompileErrorText(engine, unknown, text), ereturnvalue::Error);
            EXPECT_EQ(text, "Script id not found");
        }
    }
}

} // namespace
} // namespace tn
