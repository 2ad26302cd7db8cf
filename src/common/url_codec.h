// URL encoding and decoding, shared by the url functions and request form data.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tn
{

// Which bytes an encoding leaves alone. Query turns blanks into "+"; Strict
// also escapes the full stop (and never uses "+").
enum class UrlEncoding
{
    Plain,
    Query,
    Strict,
};

// Escapes every byte outside letters, digits, "*", "-", "_" and "." as "%XX"
// (upper-case hex). Input stops at its first zero byte.
std::string UrlEncode(std::string_view text, UrlEncoding how);

// Length of the leading part of [text] that encodes to itself; equal to the
// size when encoding would change nothing (a zero byte always stops it).
size_t UrlEncodeUnchanged(std::string_view text, UrlEncoding how) noexcept;

// Decodes "+" to a blank and "%XX" escapes to bytes ("%00" becomes "_", so the
// result never holds a zero byte). A bad escape is copied as it stands; a "%"
// in one of the last two positions ends the result. Input stops at its first
// zero byte.
std::string UrlDecode(std::string_view text);

} // namespace tn
