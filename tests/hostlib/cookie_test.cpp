#include "hostlib/cookie.h"

#include <gtest/gtest.h>

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

TEST(CookieParsing, HeaderTextAndTheTextWrittenBack)
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

    // The text written back reads the same (the order of its attributes is in
    // tests/golden/cases/response_headers).
    const std::string written = CookieText(ParseCookieText(kFull));
    EXPECT_EQ(shown(ParseCookieText(written)), kFullShown);
    EXPECT_EQ(shown(ParseCookieHeader(written)), std::string("[") + kFullShown + "]");
}

} // namespace
} // namespace tn
