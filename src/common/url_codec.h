// URL decoding shared by the urldecode functions and request form data.
#pragma once

#include <string>
#include <string_view>

namespace tn
{

// Decodes "+" to a blank and "%XX" escapes to bytes ("%00" becomes "_", so the
// result never holds a zero byte). A bad escape is copied as it stands; a "%"
// in one of the last two positions ends the result. Input stops at its first
// zero byte.
std::string UrlDecode(std::string_view text);

} // namespace tn
