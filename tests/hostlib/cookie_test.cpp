#include "hostlib/cookie.h"

#include <gtest/gtest.h>

#include <regex>

namespace tn
{
namespace
{

DateValue sampleDate()
{
    DateValue d;
    EXPECT_EQ(d.parseHttp("Sun, 06 Nov 1994 08:49:37 GMT"), RC::OK);
    return d;
}

TEST(CookieHeader, PairsEmptyPiecesAndBareNames)
{
    const std::vector<Cookie> cookies = ParseCookieHeader("a=1; b=2;; c");
    ASSERT_EQ(cookies.size(), 3u);
    EXPECT_EQ(cookies[0].name, "a");
    EXPECT_EQ(cookies[0].value, "1");
    EXPECT_EQ(cookies[1].name, "b");
    EXPECT_EQ(cookies[1].value, "2");
    EXPECT_EQ(cookies[2].name, "c");
    EXPECT_EQ(cookies[2].value, "");
    for (const Cookie& c : cookies)
    {
        EXPECT_TRUE(c.valid());
        EXPECT_TRUE(c.expires.isBlank());
        EXPECT_FALSE(c.secure);
    }
}

TEST(CookieHeader, TrimmingAndEmptyNames)
{
    const std::vector<Cookie> cookies = ParseCookieHeader(" \tsid = x=y \r\n; =orphan;   ;\r\n last=\t");
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[0].name, "sid");
    EXPECT_EQ(cookies[0].value, "x=y");
    EXPECT_EQ(cookies[1].name, "last");
    EXPECT_EQ(cookies[1].value, "");
    EXPECT_TRUE(ParseCookieHeader("").empty());
    EXPECT_TRUE(ParseCookieHeader(";;; ; =v").empty());
}

TEST(CookieHeader, AttributesOfAFullCookieText)
{
    const std::string text = "id=42; Domain=example.com; EXPIRES=Sun, 06 Nov 1994 08:49:37 GMT; path=/app; Secure";
    const std::vector<Cookie> cookies = ParseCookieHeader(text + "; next=1");
    ASSERT_EQ(cookies.size(), 2u);
    EXPECT_EQ(cookies[1].name, "next");
    const Cookie& c = cookies[0];
    EXPECT_EQ(c.name, "id");
    EXPECT_EQ(c.value, "42");
    EXPECT_EQ(c.domain, "example.com");
    EXPECT_EQ(c.path, "/app");
    EXPECT_TRUE(c.secure);
    EXPECT_EQ(c.expires.httpForm(), "Sun, 06 Nov 1994 08:49:37 GMT");

    // A single cookie text ignores attributes it does not know.
    const Cookie one = ParseCookieText(text + "; HttpOnly; max-age=5; other=x");
    EXPECT_EQ(one.name, "id");
    EXPECT_EQ(one.value, "42");
    EXPECT_EQ(one.domain, "example.com");
    EXPECT_EQ(one.path, "/app");
    EXPECT_TRUE(one.secure);
    EXPECT_FALSE(one.expires.isBlank());
    EXPECT_FALSE(ParseCookieText(" ; =x").valid());

    // The first pair is always the cookie itself, whatever its name.
    const std::vector<Cookie> first = ParseCookieHeader("path=1; b=2");
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0].name, "path");
    EXPECT_EQ(first[0].path, "");

    const std::vector<Cookie> badDate = ParseCookieHeader("a=1; expires=someday");
    ASSERT_EQ(badDate.size(), 1u);
    EXPECT_TRUE(badDate[0].expires.isBlank());
}

TEST(CookieText, NameAndValueOnly)
{
    Cookie c;
    c.name = "a";
    c.value = "1";
    EXPECT_EQ(CookieText(c), "a=1");
    EXPECT_FALSE(Cookie().valid());
}

TEST(CookieText, AttributesInFixedOrder)
{
    Cookie c;
    c.name = "n";
    c.value = "v";
    c.expires = sampleDate();
    c.path = "/";
    c.domain = "example";
    c.secure = true;
    EXPECT_EQ(CookieText(c), "n=v; domain=example; expires=Sun, 06 Nov 1994 08:49:37 GMT; path=/; secure");

    c.domain.clear();
    c.secure = false;
    EXPECT_EQ(CookieText(c), "n=v; expires=Sun, 06 Nov 1994 08:49:37 GMT; path=/");
}

TEST(CookieText, EmptyValueDeletesTheCookie)
{
    Cookie c;
    c.name = "a";
    c.path = "/x";
    const std::string text = CookieText(c);
    const std::regex form("a=deleted; expires=(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} [A-Z][a-z]{2} [0-9]{4} "
                          "[0-9]{2}:[0-9]{2}:[0-9]{2} GMT; path=/x");
    ASSERT_TRUE(std::regex_match(text, form)) << text;

    const size_t at = text.find("expires=") + 8;
    DateValue expires;
    ASSERT_EQ(expires.parseHttp(text.substr(at, 29)), RC::OK);
    const int64_t agoMs = DateValue::now().differenceMs(expires);
    EXPECT_GE(agoMs, 3600 * 1000 - 2000);
    EXPECT_LE(agoMs, 3600 * 1000 + 2000);
}

TEST(CookieText, RoundTripThroughTheParser)
{
    Cookie c;
    c.name = "session";
    c.value = "abc";
    c.expires = sampleDate();
    c.domain = "example.org";
    c.path = "/p";
    c.secure = true;
    const std::vector<Cookie> back = ParseCookieHeader(CookieText(c));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].name, c.name);
    EXPECT_EQ(back[0].value, c.value);
    EXPECT_EQ(back[0].domain, c.domain);
    EXPECT_EQ(back[0].path, c.path);
    EXPECT_TRUE(back[0].secure);
    EXPECT_TRUE(back[0].expires == c.expires);
    EXPECT_EQ(CookieText(ParseCookieText(CookieText(c))), CookieText(c));
}

} // namespace
} // namespace tn
