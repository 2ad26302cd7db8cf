// Script texts cannot hold a zero byte (literals end at one and the decoders
// never produce one), so the rule that a zero byte ends every input is checked
// here, with texts made directly.
#include "support/call_function.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

namespace
{
Value textWithZero(std::string_view before, std::string_view after)
{
    std::string text(before);
    text += '\0';
    text += after;
    return Value::string(text);
}
} // namespace

TEST(EscapeFunctions, ZeroByteEndsTheInput)
{
    FunctionCaller caller;
    const struct
    {
        int32_t id;
        const char* name;
        Value text;
        const char* shown;
    } rows[] = {
        {-5185, "escapestr", textWithZero("a\t", "\"b"), "text a\\t"},
        {-5186, "unescapestr", textWithZero("a\\", "n"), "text a"},
        {-5187, "escapetohtml", textWithZero("\\tb", "c"), "text \tb"},
        {-5188, "htmltoescape", textWithZero("\\", "\\"), "text \\\\"},
        {-5189, "texttohtml", textWithZero("<p>", "x"), "text <p>"},
        {-5190, "htmltotext", textWithZero("", "x"), "text "},
        {-5191, "urlencode", textWithZero("a b", "c"), "text a%20b"},
        {-5192, "urldecode", textWithZero("%41+", "%42"), "text A "},
        {-5193, "urlqueryencode", textWithZero("a b", "c"), "text a+b"},
        {-5194, "urlquerydecode", textWithZero("x%4", "1"), "text x"},
        {-5197, "urlencodestrict", textWithZero("a.b", "."), "text a%2Eb"},
        {-5195, "validateipaddress", textWithZero("1.2.3.4", "5"), "text 1.2.3.4"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(Shown(caller.call(row.id, {row.text}).result), row.shown) << row.name;

    constexpr int32_t kEscapeExport = -5196;
    EXPECT_EQ(Shown(caller.call(kEscapeExport, {textWithZero("a\nb", "\nc"), 3}).result), "text a, b");
    EXPECT_EQ(Shown(caller.call(kEscapeExport, {textWithZero("a\"", "\""), 2}).result), "text a'");
}
