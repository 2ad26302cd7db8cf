#include "common/url_codec.h"

#include <cstring>

namespace tn
{

namespace
{

int hexDigit(char c) noexcept
{
    if (c >= '0' && c <= '9')
    {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f')
    {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F')
    {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string UrlDecode(std::string_view text)
{
    const void* zero = text.empty() ? nullptr : std::memchr(text.data(), 0, text.size());
    if (zero != nullptr)
    {
        text = text.substr(0, static_cast<size_t>(static_cast<const char*>(zero) - text.data()));
    }
    std::string out(text.size(), '\0');
    char* dst = out.data();
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i)
    {
        const char c = text[i];
        if (c == '+')
        {
            *dst++ = ' ';
        }
        else if (c != '%')
        {
            *dst++ = c;
        }
        else if (i + 2 >= n)
        {
            break;
        }
        else
        {
            const int high = hexDigit(text[i + 1]);
            const int low = hexDigit(text[i + 2]);
            if (high < 0 || low < 0)
            {
                *dst++ = '%';
                continue;
            }
            const int value = high * 16 + low;
            *dst++ = value == 0 ? '_' : static_cast<char>(value);
            i += 2;
        }
    }
    out.resize(static_cast<size_t>(dst - out.data()));
    return out;
}

} // namespace tn
