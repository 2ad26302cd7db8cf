// Quote rules shared by the string functions and the quote-aware split and
// join of arrays.
#pragma once

#include <string_view>

namespace tn
{

constexpr bool IsDoubleQuoted(std::string_view text) noexcept
{
    return text.size() >= 2 && text.front() == '"' && text.back() == '"';
}

// One pair of surrounding quotes removed, double or single; a lone single
// quote is both its own ends, a lone double quote is not.
constexpr std::string_view TrimQuotes(std::string_view text) noexcept
{
    const bool single = !text.empty() && text.front() == '\'' && text.back() == '\'';
    if (!IsDoubleQuoted(text) && !single) return text;
    return text.size() <= 2 ? std::string_view() : text.substr(1, text.size() - 2);
}

// Whether a text must be wrapped in double quotes: it holds a blank and is
// not wrapped already.
constexpr bool NeedsQuotes(std::string_view text) noexcept
{
    return !IsDoubleQuoted(text) && text.find(' ') != std::string_view::npos;
}

} // namespace tn
