// ASCII text helpers. Texts are bytes without an assumed encoding, so only
// 'A'..'Z' and 'a'..'z' have a case, and the blanks are the four below.
#pragma once

#include <string>
#include <string_view>

namespace tn
{

constexpr char AsciiLower(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr char AsciiUpper(char c) noexcept
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string AsciiLowerCopy(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = AsciiLower(c);
    return out;
}

constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// The bytes that trimming removes: carriage return, line feed, blank, tab.
inline constexpr std::string_view kBlankBytes = "\r\n \t";

// [text] without blank bytes at the ends chosen.
constexpr std::string_view TrimBlanks(std::string_view text, bool start = true, bool end = true) noexcept
{
    if (start)
    {
        const size_t first = text.find_first_not_of(kBlankBytes);
        text.remove_prefix(first == std::string_view::npos ? text.size() : first);
    }
    if (end)
    {
        const size_t last = text.find_last_not_of(kBlankBytes);
        text = text.substr(0, last == std::string_view::npos ? 0 : last + 1);
    }
    return text;
}

// [text] up to its first zero byte, for the functions that read texts the
// way a zero-terminated string is read.
inline std::string_view UntilZero(std::string_view text) noexcept
{
    const size_t zero = text.find('\0');
    return zero == std::string_view::npos ? text : text.substr(0, zero);
}

} // namespace tn
