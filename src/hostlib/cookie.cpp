#include "hostlib/cookie.h"
#include "common/ascii.h"

#include "common/text_split.h"

namespace tn
{

namespace
{

// Applies [name]=[value] to [cookie] when it is a cookie attribute.
bool applyAttribute(Cookie& cookie, std::string_view name, std::string_view value)
{
    if (EqualsIgnoreCase(name, "expires"))
    {
        // A date that does not parse leaves the blank date, so no expiry.
        cookie.expires.parseHttp(value);
    }
    else if (EqualsIgnoreCase(name, "path"))
    {
        cookie.path = value;
    }
    else if (EqualsIgnoreCase(name, "domain"))
    {
        cookie.domain = value;
    }
    else if (EqualsIgnoreCase(name, "secure"))
    {
        cookie.secure = true;
    }
    else
    {
        return false;
    }
    return true;
}

// Calls [visit] with the trimmed name and value of every piece that has a name.
template <typename Visit> void forEachPair(std::string_view text, Visit&& visit)
{
    for (const std::string& piece : SplitText(";", text, false, true, 0))
    {
        const std::string_view pair = TrimBlanks(piece);
        const size_t equals = pair.find('=');
        const std::string_view name = TrimBlanks(pair.substr(0, equals));
        const std::string_view value =
            equals == std::string_view::npos ? std::string_view() : TrimBlanks(pair.substr(equals + 1));
        if (!name.empty())
        {
            visit(name, value);
        }
    }
}

} // namespace

std::vector<Cookie> ParseCookieHeader(std::string_view header)
{
    std::vector<Cookie> cookies;
    forEachPair(header,
                [&](std::string_view name, std::string_view value)
                {
                    if (cookies.empty() || !applyAttribute(cookies.back(), name, value))
                    {
                        Cookie& cookie = cookies.emplace_back();
                        cookie.name = name;
                        cookie.value = value;
                    }
                });
    return cookies;
}

Cookie ParseCookieText(std::string_view text)
{
    Cookie cookie;
    forEachPair(text,
                [&](std::string_view name, std::string_view value)
                {
                    if (cookie.name.empty())
                    {
                        cookie.name = name;
                        cookie.value = value;
                    }
                    else
                    {
                        applyAttribute(cookie, name, value);
                    }
                });
    return cookie;
}

std::string CookieText(const Cookie& cookie)
{
    std::string text = cookie.name;
    std::string_view value = cookie.value;
    DateValue expires = cookie.expires;
    if (value.empty())
    {
        value = "deleted";
        expires = DateValue::now();
        expires.addHours(-1);
    }
    text += '=';
    text += value;
    if (!cookie.domain.empty())
    {
        text += "; domain=";
        text += cookie.domain;
    }
    if (!expires.isBlank())
    {
        text += "; expires=";
        text += expires.httpForm();
    }
    if (!cookie.path.empty())
    {
        text += "; path=";
        text += cookie.path;
    }
    if (cookie.secure)
    {
        text += "; secure";
    }
    return text;
}

} // namespace tn
