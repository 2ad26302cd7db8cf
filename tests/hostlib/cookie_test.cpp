#include "hostlib/cookie.h"

#include <gtest/gtest.h>

#include <regex>

namespace tn
{
namespace
{

// Every field on one line: name=value [domain] [path] [secure] [expires].
std::string shown(const Cookie& c)
{
    std::string text = c.name + "=" + c.value;
    if (!c.domain.empty()) text += " domain:" + c.domain;
    if (!c.path.empty()) text += " path:" + c.path;
    if (c.secure) text += " secure";
    if (!c.expires.isBlank()) text += " expires:" + c.expires.httpForm();
    return text;
}

std::string shown(const std::vector<Cookie>& cookies)
{
    std::string text;
    for (const Cookie& c : cookies)
        text += "[" + shown(c) + "]";
    return text;
}

constexpr const char* kFull = "id=42; Domain=example.com; EXPIRES=Sun, 06 Nov 1994 08:49:37 GMT; path=/app; Secure";
constexpr const char* kFullShown = "id=42 domain:example.com path:/app secure expires:Sun, 06 Nov 1994 08:49:37 GMT";

TEST(CookieHeader, SplitsTrimsAndReadsAttributes)
{
    const struct
    {
        std::string header;
        std::string cookies;
    } rows[] = {
        {"a=1; b=2;; c", "[a=1][b=2][c=]"},
        // CR, LF, blank and tab are trimmed; empty names are skipped.
        {" \tsid = x=y \r\n; =orphan;   ;\r\n last=\t", "[sid=x=y][last=]"},
        {"", ""},
        {";;; ; =v", ""},
        // Attributes, in any case, belong to the cookie before them.
        {std::string(kFull) + "; next=1", std::string("[") + kFullShown + "][next=1]"},
        // The first pair is always the cookie itself, whatever its name.
        {"path=1; b=2", "[path=1][b=2]"},
        {"a=1; expires=someday", "[a=1]"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(shown(ParseCookieHeader(row.header)), row.cookies) << row.header;

    // A single cookie text ignores attributes it does not know.
    EXPECT_EQ(shown(ParseCookieText(std::string(kFull) + "; HttpOnly; max-age=5; other=x")), kFullShown);
    EXPECT_FALSE(ParseCookieText(" ; =x").valid());
    EXPECT_FALSE(Cookie().valid());
}

TEST(CookieText, AttributesInFixedOrderAndBackThroughTheParser)
{
    Cookie c;
    c.name = "a";
    c.value = "1";
    EXPECT_EQ(CookieText(c), "a=1");

    c.name = "n";
    c.value = "v";
    ASSERT_EQ(c.expires.parseHttp("Sun, 06 Nov 1994 08:49:37 GMT"), ereturnvalue::OK);
    c.path = "/";
    c.domain = "example";
    c.secure = true;
    EXPECT_EQ(CookieText(c), "n=v; domain=example; expires=Sun, 06 Nov 1994 08:49:37 GMT; path=/; secure");
    EXPECT_EQ(shown(ParseCookieText(CookieText(c))), shown(c));
    EXPECT_EQ(shown(ParseCookieHeader(CookieText(c))), "[" + shown(c) + "]");

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

    DateValue expires;
    ASSERT_EQ(expires.parseHttp(text.substr(text.find("expires=") + 8, 29)), ereturnvalue::OK);
    const int64_t agoMs = DateValue::now().differenceMs(expires);
    EXPECT_GE(agoMs, 3600 * 1000 - 2000);
    EXPECT_LE(agoMs, 3600 * 1000 + 2000);
}

} // namespace
} // namespace tn
