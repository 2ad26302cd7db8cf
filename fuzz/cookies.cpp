// The cookie parsers. A cookie read from a full cookie text is written back
// and read again to the same name and value.
#include "hostlib/cookie.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tn;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const Cookie& cookie : ParseCookieHeader(text))
        CookieText(cookie);
    const Cookie cookie = ParseCookieText(text);
    if (cookie.valid() && !cookie.value.empty())
    {
        const Cookie again = ParseCookieText(CookieText(cookie));
        if (again.name != cookie.name || again.value != cookie.value) std::abort();
    }
    return 0;
}
