#include "common/url_codec.h"

#include "common/ascii.h"

#include <array>
#include <cstdint>

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

// What the encoder does with each byte.
enum ByteClass : uint8_t
{
    kKeep,
    kEscape,
    kBlank,    // "+" or escaped, by encoding
    kFullStop, // escaped in strict mode only
    kEnd,      // zero byte: the input ends here
};

constexpr std::array<uint8_t, 256> makeByteClasses()
{
    std::array<uint8_t, 256> classes{};
    for (int c = 0; c < 256; ++c)
    {
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        classes[static_cast<size_t>(c)] = alnum || c == '*' || c == '-' || c == '_' ? kKeep : kEscape;
    }
    classes[' '] = kBlank;
    classes['.'] = kFullStop;
    classes[0] = kEnd;
    return classes;
}

constexpr std::array<uint8_t, 256> kByteClasses = makeByteClasses();

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The class of a byte after the encoding's switches have been applied.
inline uint8_t classify(char c, UrlEncoding how) noexcept
{
    const uint8_t cls = kByteClasses[static_cast<unsigned char>(c)];
    if (cls == kBlank) return how == UrlEncoding::Query ? kBlank : kEscape;
    if (cls == kFullStop) return how == UrlEncoding::Strict ? kEscape : kKeep;
    return cls;
}

} // namespace

size_t UrlEncodeUnchanged(std::string_view text, UrlEncoding how) noexcept
{
    size_t i = 0;
    while (i < text.size() && classify(text[i], how) == kKeep)
        ++i;
    return i;
}

std::string UrlEncode(std::string_view text, UrlEncoding how)
{
    // First pass sizes the result exactly, so the second never reallocates.
    size_t length = 0;
    size_t escapes = 0;
    for (; length < text.size(); ++length)
    {
        const uint8_t cls = classify(text[length], how);
        if (cls == kEnd) break;
        escapes += cls == kEscape ? 1u : 0u;
    }
    std::string out(length + 2 * escapes, '\0');
    char* dst = out.data();
    for (size_t i = 0; i < length; ++i)
    {
        const char c = text[i];
        switch (classify(c, how))
        {
        case kEscape:
        {
            const auto byte = static_cast<unsigned char>(c);
            *dst++ = '%';
            *dst++ = kHexDigits[byte >> 4];
            *dst++ = kHexDigits[byte & 15];
            break;
        }
        case kBlank:
            *dst++ = '+';
            break;
        default:
            *dst++ = c;
            break;
        }
    }
    return out;
}

std::string UrlDecode(std::string_view text)
{
    text = UntilZero(text);
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
