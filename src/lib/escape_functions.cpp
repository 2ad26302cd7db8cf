// Escaping functions: backslash escapes (escapestr, unescapestr and their html
// names), the pass-through html conversions, export fields (escapeexport), URL
// encoding and decoding, and IPv4 address normalisation (validateipaddress).
// Every text argument ends at its first zero byte.
#include "lib/core_functions.h"

#include "common/ascii.h"
#include "common/text_split.h"
#include "common/url_codec.h"
#include "vm/virtual_machine.h"

#include <cstdio>
#include <cstring>

namespace tn
{

namespace
{
// Export modes.
constexpr int32_t kExportLine = 1;
constexpr int32_t kExportQuoted = 2;
constexpr int32_t kExportList = 3;

// An address part has at most this many digits; four of them and three dots
// bound the length of any valid address.
constexpr size_t kMaxAddressDigits = 9;
constexpr size_t kMaxAddressLength = 4 * kMaxAddressDigits + 3;

// Argument 1 as text up to its first zero byte.
std::string_view inputText(SysCall& call)
{
    return UntilZero(call.text(1));
}

char escapeLetter(char c) noexcept
{
    switch (c)
    {
    case '\t':
        return 't';
    case '\n':
        return 'n';
    case '\f':
        return 'f';
    case '\r':
        return 'r';
    case '"':
        return '"';
    case '\\':
        return '\\';
    default:
        return 0;
    }
}

// escapestr and htmltoescape.
ereturnvalue escapeText(SysCall& call)
{
    const std::string_view input = inputText(call);
    size_t escapes = 0;
    for (const char c : input)
        escapes += escapeLetter(c) != 0 ? 1u : 0u;
    if (escapes == 0) return call.returnPiece(1, input);
    std::string out(input.size() + escapes, '\0');
    char* dst = out.data();
    for (const char c : input)
    {
        const char letter = escapeLetter(c);
        if (letter != 0)
        {
            *dst++ = '\\';
            *dst++ = letter;
        }
        else
            *dst++ = c;
    }
    return call.returnText(std::move(out));
}

char unescapedByte(char c) noexcept
{
    switch (c)
    {
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    default:
        return c; // the backslash is dropped; '"', '$' and '\\' come out as themselves
    }
}

// unescapestr and escapetohtml. A trailing lone backslash has nothing to pair
// with and ends the result.
ereturnvalue unescapeText(SysCall& call)
{
    const std::string_view input = inputText(call);
    const size_t first = input.find('\\');
    if (first == std::string_view::npos) return call.returnPiece(1, input);
    std::string out(input.size(), '\0');
    std::memcpy(out.data(), input.data(), first);
    char* dst = out.data() + first;
    for (size_t i = first; i < input.size(); ++i)
    {
        const char c = input[i];
        if (c != '\\')
            *dst++ = c;
        else if (++i < input.size())
            *dst++ = unescapedByte(input[i]);
    }
    out.resize(static_cast<size_t>(dst - out.data()));
    return call.returnText(std::move(out));
}

// texttohtml and htmltotext: no entity conversion in this host.
ereturnvalue passText(SysCall& call)
{
    return call.returnPiece(1, inputText(call));
}

ereturnvalue urlEncode(SysCall& call)
{
    const std::string_view input = call.text(1);
    const auto how = static_cast<UrlEncoding>(call.variant()); // the row names the encoding
    if (UrlEncodeUnchanged(input, how) == input.size()) return call.returnPiece(1, input);
    return call.returnText(UrlEncode(input, how));
}

ereturnvalue urlDecode(SysCall& call)
{
    const std::string_view input = inputText(call);
    if (input.find_first_of("+%") == std::string_view::npos) return call.returnPiece(1, input);
    return call.returnText(UrlDecode(input));
}

// Parses an address part: 1 to 9 decimal digits, nothing else. -1 when invalid.
int32_t addressPart(std::string_view part) noexcept
{
    if (part.empty() || part.size() > kMaxAddressDigits) return -1;
    int32_t value = 0;
    for (const char c : part)
    {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

ereturnvalue validateIpAddress(SysCall& call)
{
    const std::string_view input = inputText(call);
    // Longer texts cannot be valid; refuse them before splitting.
    if (input.size() > kMaxAddressLength) return call.returnText(std::string_view());
    const std::vector<std::string> parts = SplitText(".", input, false, false, 0);
    if (parts.size() != 4) return call.returnText(std::string_view());
    int32_t values[4];
    for (size_t i = 0; i < 4; ++i)
    {
        values[i] = addressPart(parts[i]);
        if (values[i] < 0 || values[i] > 255) return call.returnText(std::string_view());
    }
    char address[16];
    const int length =
        std::snprintf(address, sizeof address, "%d.%d.%d.%d", values[0], values[1], values[2], values[3]);
    return call.returnText(std::string_view(address, static_cast<size_t>(length)));
}

// At a line feed of a list: trims the output built so far and, unless that
// leaves nothing, separates the next line with ", " (or a blank after a comma).
// Once the output starts with a non-blank byte it keeps it, so the front is
// trimmed only while it holds the first line: the whole pass stays linear.
void endListLine(std::string& out)
{
    const std::string_view kept = TrimBlanks(out);
    out.erase(0, static_cast<size_t>(kept.data() - out.data())).resize(kept.size());
    if (out.empty()) return;
    if (out.back() == ',')
        out += ' ';
    else
        out += ", ";
}

ereturnvalue escapeExport(SysCall& call)
{
    const std::string_view input = inputText(call);
    const int32_t mode = call.integer(2);
    std::string out;
    switch (mode)
    {
    case kExportLine:
    case kExportQuoted:
        out.reserve(input.size());
        for (const char c : input)
        {
            if (c == '\r') continue;
            if (c == '\n' || (c == '\t' && mode == kExportLine))
                out += ' ';
            else if (c == '"' && mode == kExportQuoted)
                out += '\'';
            else
                out += c;
        }
        break;
    case kExportList:
        out.reserve(input.size() + input.size() / 2);
        for (const char c : input)
        {
            if (c == '\r') continue;
            if (c == '\n')
                endListLine(out);
            else
                out += c;
        }
        break;
    default:
        break;
    }
    return call.returnText(std::move(out));
}

constexpr SysFunction url(const char* name, int32_t id, SysHandler handler, UrlEncoding encoding)
{
    return Fn(name, id, ArgRule::exactly(1), handler).as(static_cast<int32_t>(encoding)).message("urlendecode");
}

constexpr SysFunction kEscapeFunctions[] = {
    {"escapestr", -5185, ArgRule::exactly(1), escapeText},
    {"unescapestr", -5186, ArgRule::exactly(1), unescapeText},
    {"escapetohtml", -5187, ArgRule::exactly(1), unescapeText},
    {"htmltoescape", -5188, ArgRule::exactly(1), escapeText},
    {"texttohtml", -5189, ArgRule::exactly(1), passText},
    {"htmltotext", -5190, ArgRule::exactly(1), passText},
    url("urlencode", -5191, urlEncode, UrlEncoding::Plain),
    url("urldecode", -5192, urlDecode, UrlEncoding::Plain),
    url("urlqueryencode", -5193, urlEncode, UrlEncoding::Query),
    url("urlquerydecode", -5194, urlDecode, UrlEncoding::Plain),
    {"validateipaddress", -5195, ArgRule::exactly(1), validateIpAddress},
    {"escapeexport", -5196, ArgRule::exactly(2), escapeExport},
    url("urlencodestrict", -5197, urlEncode, UrlEncoding::Strict),
};

} // namespace

std::span<const SysFunction> EscapeFunctions()
{
    return kEscapeFunctions;
}

} // namespace tn
