// Cookies: the Set-Cookie text of one cookie, and the parser for request
// cookie headers and full cookie texts.
#pragma once

#include "vm/date_value.h"

#include <string>
#include <string_view>
#include <vector>

namespace tn
{

struct Cookie
{
    std::string name;
    std::string value;
    DateValue expires; // blank: no expires attribute
    std::string domain;
    std::string path;
    bool secure = false;

    bool valid() const noexcept { return !name.empty(); }
};

// Splits a cookie header at ";" into cookies, in order. Names and values are
// trimmed of CR, LF, blank and tab; a piece without "=" is a name with an empty
// value; empty names are skipped. After the first cookie, pieces named
// expires, path, domain or secure (any case) set that attribute of the cookie
// before them instead of starting a new one.
std::vector<Cookie> ParseCookieHeader(std::string_view header);

// Reads one full cookie text (as CookieText makes it): the first pair is the
// cookie, the known attributes after it set its fields and any other piece is
// ignored. The result is not valid when the text holds no named pair.
Cookie ParseCookieText(std::string_view text);

// "name=value" followed by the domain, expires, path and secure attributes that
// are set. An empty value asks the browser to drop the cookie: the value
// becomes "deleted" and expires one hour in the past.
std::string CookieText(const Cookie& cookie);

} // namespace tn
