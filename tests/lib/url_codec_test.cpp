#include "common/url_codec.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

using namespace std::string_literals;

TEST(UrlDecode, EscapesPlusAndFaults)
{
    const struct
    {
        std::string encoded;
        std::string decoded;
    } rows[] = {
        {"%41", "A"},
        {"a+b", "a b"},
        {"%2b%2B", "++"},
        {"%e9x", "\xE9x"},
        {"caf%C3%A9%20ok", "caf\xC3\xA9 ok"},
        {"", ""},
        {"plain-text_1.2", "plain-text_1.2"},
        // A zero byte decodes to "_"; a raw one ends the input.
        {"a%00b", "a_b"},
        {"ab\0%41"s, "ab"},
        {"\0"s, ""},
        // Bad escapes are copied.
        {"%zz", "%zz"},
        {"%4g", "%4g"},
        {"%%41", "%A"},
        {"%+41", "% 41"},
        // A "%" in the last two bytes stops decoding; three from the end is a full escape.
        {"abc%4", "abc"},
        {"abc%", "abc"},
        {"%", ""},
        {"%zz%", "%zz"},
        {"%z%", "%z"},
        {"x%41", "xA"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(UrlDecode(row.encoded), row.decoded) << row.encoded;
}

TEST(UrlEncode, SwitchesAndZeroByte)
{
    const struct
    {
        std::string text;
        UrlEncoding how;
        std::string encoded;
    } rows[] = {
        {"a b.c", UrlEncoding::Plain, "a%20b.c"},
        {"a b.c", UrlEncoding::Query, "a+b.c"},
        {"a b.c", UrlEncoding::Strict, "a%20b%2Ec"},
        {"\x01\x7F\x80\xFF", UrlEncoding::Plain, "%01%7F%80%FF"},
        {"", UrlEncoding::Query, ""},
        // A raw zero byte ends the input.
        {"a b\0c d"s, UrlEncoding::Query, "a+b"},
        {"\0x"s, UrlEncoding::Plain, ""},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(UrlEncode(row.text, row.how), row.encoded) << row.text;
        // The unchanged prefix stops at the first byte that encodes to something else.
        const size_t unchanged = UrlEncodeUnchanged(row.text, row.how);
        EXPECT_EQ(row.text.substr(0, unchanged), row.encoded.substr(0, unchanged)) << row.text;
        EXPECT_TRUE(unchanged == row.text.size() || row.encoded.size() <= unchanged ||
                    row.encoded[unchanged] != row.text[unchanged])
            << row.text;
    }
}

} // namespace
} // namespace tn
