#include "lib/url_codec.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

using namespace std::string_literals;

TEST(UrlDecode, EscapesAndPlus)
{
    EXPECT_EQ(UrlDecode("%41"), "A");
    EXPECT_EQ(UrlDecode("a+b"), "a b");
    EXPECT_EQ(UrlDecode("%2b%2B"), "++");
    EXPECT_EQ(UrlDecode("%e9x"), "\xE9x");
    EXPECT_EQ(UrlDecode("caf%C3%A9%20ok"), "caf\xC3\xA9 ok");
    EXPECT_EQ(UrlDecode(""), "");
    EXPECT_EQ(UrlDecode("plain-text_1.2"), "plain-text_1.2");
}

TEST(UrlDecode, ZeroByteBecomesUnderscore)
{
    EXPECT_EQ(UrlDecode("%00"), "_");
    EXPECT_EQ(UrlDecode("a%00b"), "a_b");
}

TEST(UrlDecode, BadEscapesAreCopied)
{
    EXPECT_EQ(UrlDecode("%zz"), "%zz");
    EXPECT_EQ(UrlDecode("%4g"), "%4g");
    EXPECT_EQ(UrlDecode("%%41"), "%A");
    EXPECT_EQ(UrlDecode("%+41"), "% 41");
}

TEST(UrlDecode, PercentNearTheEndStopsDecoding)
{
    EXPECT_EQ(UrlDecode("abc%4"), "abc");
    EXPECT_EQ(UrlDecode("abc%"), "abc");
    EXPECT_EQ(UrlDecode("%"), "");
    EXPECT_EQ(UrlDecode("%zz%"), "%zz");
    // Three bytes from the end is still a full escape.
    EXPECT_EQ(UrlDecode("x%41"), "xA");
    EXPECT_EQ(UrlDecode("%z%"), "%z");
}

TEST(UrlDecode, InputEndsAtZeroByte)
{
    EXPECT_EQ(UrlDecode("ab\0%41"s), "ab");
    EXPECT_EQ(UrlDecode("\0"s), "");
}

} // namespace
} // namespace tn
