// String functions: length, comparison, search, case, trimming, quoting,
// cutting and byte/code conversion. Texts are byte strings; positions are
// zero-based byte offsets.
#include "lib/core_functions.h"

#include "common/ascii.h"
#include "common/byte_scan.h"
#include "common/quotes.h"
#include "vm/virtual_machine.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace tn
{

namespace
{
// Comparison variants: bits, so one handler serves all four names.
constexpr int32_t kIgnoreCase = 1;
constexpr int32_t kCounted = 2;

// Case variants.
constexpr int32_t kToUpper = 0;
constexpr int32_t kToLower = 1;

// Trim variants: which ends are trimmed.
constexpr int32_t kTrimStart = 1;
constexpr int32_t kTrimEnd = 2;

// Search variants.
constexpr int32_t kFirst = 0;
constexpr int32_t kLast = 1;

constexpr int32_t kLeft = 0;
constexpr int32_t kRight = 1;

// Patterns up to this length are searched by direct comparison; the cost per
// text byte stays bounded by it.
constexpr size_t kShortPattern = 16;

ereturnvalue strLen(SysCall& call)
{
    return call.returnInt(static_cast<int32_t>(call.text(1).size()));
}

// strcmp, stricmp, strncmp, strnicmp. Texts end at their first zero byte; a
// negative count limits nothing.
ereturnvalue stringCompare(SysCall& call)
{
    const std::string_view a = call.text(1);
    const std::string_view b = call.text(2);
    const bool ignoreCase = (call.variant() & kIgnoreCase) != 0;
    size_t limit = std::string_view::npos;
    if (call.variant() & kCounted)
    {
        const int32_t count = call.integer(3);
        if (count >= 0) limit = static_cast<size_t>(count);
    }
    for (size_t i = 0; i < limit; ++i)
    {
        char x = i < a.size() ? a[i] : '\0';
        char y = i < b.size() ? b[i] : '\0';
        if (ignoreCase)
        {
            x = AsciiLower(x);
            y = AsciiLower(y);
        }
        if (x != y) return call.returnInt(static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1);
        if (x == '\0') break;
    }
    return call.returnInt(0);
}

// First occurrence of [pattern] (non-empty, not longer than [text]). Short
// patterns are compared where their first byte is found.
size_t findFirst(std::string_view text, std::string_view pattern)
{
    const size_t m = pattern.size();
    if (m > kShortPattern)
    {
        // The C library's memmem is linear in the worst case; string_view::find is not.
        const void* hit = memmem(text.data(), text.size(), pattern.data(), m);
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : std::string_view::npos;
    }
    const char* const begin = text.data();
    const char* const last = begin + (text.size() - m); // the last place a match can start
    for (const char* at = begin; at <= last; ++at)
    {
        at = FindByte(at, last + 1, pattern[0]);
        if (!at) break;
        if (SameShortBytes(at + 1, pattern.data() + 1, m - 1)) return static_cast<size_t>(at - begin);
    }
    return std::string_view::npos;
}

// Last occurrence of [pattern] (non-empty, not longer than [text]). Short
// patterns are compared in place; longer ones use a failure table over the
// reversed pattern so that the scan stays linear.
size_t findLast(std::string_view text, std::string_view pattern)
{
    const size_t m = pattern.size();
    if (m <= kShortPattern)
    {
        const char first = pattern[0];
        for (size_t end = text.size() - m + 1; end > 0;)
        {
            const void* hit = memrchr(text.data(), first, end);
            if (!hit) return std::string_view::npos;
            const size_t pos = static_cast<size_t>(static_cast<const char*>(hit) - text.data());
            if (SameShortBytes(text.data() + pos, pattern.data(), m)) return pos;
            end = pos;
        }
        return std::string_view::npos;
    }
    // rev(s)[i] is s[size - 1 - i].
    const auto rp = [&](size_t i) { return pattern[m - 1 - i]; };
    std::vector<size_t> fail(m, 0);
    for (size_t i = 1, k = 0; i < m; ++i)
    {
        while (k > 0 && rp(i) != rp(k))
            k = fail[k - 1];
        if (rp(i) == rp(k)) ++k;
        fail[i] = k;
    }
    const size_t n = text.size();
    for (size_t i = 0, k = 0; i < n; ++i)
    {
        const char c = text[n - 1 - i];
        while (k > 0 && c != rp(k))
            k = fail[k - 1];
        if (c == rp(k)) ++k;
        if (k == m) return n - 1 - i; // the match ends (reversed) at i, so starts here in the text
    }
    return std::string_view::npos;
}

// strstr and strrstr.
ereturnvalue strStr(SysCall& call)
{
    const std::string_view text = call.text(1);
    const std::string_view pattern = call.text(2);
    if (text.empty() || pattern.empty() || pattern.size() > text.size()) return call.returnInt(-1);
    size_t pos;
    if (call.variant() == kFirst)
        pos = findFirst(text, pattern);
    else
        pos = findLast(text, pattern);
    return call.returnInt(pos == std::string_view::npos ? -1 : static_cast<int32_t>(pos));
}

// Changes the case of [n] bytes, eight at a time: [from] is 'a' for upper
// case and 'A' for lower case, and the 26 bytes from it on flip the case bit.
// Bytes from 0x80 up are left alone. True when some byte changed.
bool changeCase(const char* in, char* out, size_t n, unsigned char from) noexcept
{
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kHigh = 0x8080808080808080u;
    const uint64_t atFrom = kOnes * (0x80u - from);
    const uint64_t pastLast = kOnes * (0x80u - from - 26u);
    uint64_t changed = 0;
    size_t i = 0;
    const auto word = [&](size_t at)
    {
        uint64_t x;
        std::memcpy(&x, in + at, 8);
        const uint64_t low = x & ~kHigh; // no carry crosses a byte
        const uint64_t flip = ((low + atFrom) & ~(low + pastLast) & ~x & kHigh) >> 2;
        changed |= flip;
        x ^= flip;
        std::memcpy(out + at, &x, 8);
    };
    for (; i + 8 <= n; i += 8)
        word(i);
    // The last bytes as the word that ends the text: a byte changed once
    // is out of the range and stays as it is, so going over it again is harmless.
    if (i < n && n >= 8)
    {
        word(n - 8);
        i = n;
    }
    for (; i < n; ++i)
    {
        const auto c = static_cast<unsigned char>(in[i]);
        const unsigned flip = static_cast<unsigned>(static_cast<unsigned char>(c - from) < 26u) << 5;
        changed |= flip;
        out[i] = static_cast<char>(c ^ flip);
    }
    return changed != 0;
}

// strtoupper and strtolower. Texts without a byte to change are handed on.
ereturnvalue strCase(SysCall& call)
{
    const unsigned char from = call.variant() == kToUpper ? 'a' : 'A';
    Value& argument = call.arg(1);
    if (argument.isUnsharedString())
    {
        // The call's own text, made for it (a join's result, say): changed where it is.
        const size_t n = argument.stringView().size();
        changeCase(argument.cString(), argument.textBuffer(), n, from);
        return call.returnValue(std::move(argument));
    }
    const std::string_view text = call.text(1);
    // Block by block into a result sized once; most texts fit the first block.
    char block[4096];
    Value out;
    bool changed = false;
    for (size_t pos = 0; pos < text.size();)
    {
        const size_t n = std::min(sizeof block, text.size() - pos);
        changed |= changeCase(text.data() + pos, block, n, from);
        if (pos == 0)
        {
            if (!changed && n == text.size()) break;
            out = Value::stringWithCapacity({block, n}, static_cast<int32_t>(text.size()));
        }
        else
            out.appendToString({block, n});
        pos += n;
    }
    if (!changed) return call.returnPiece(1, text);
    return call.returnValue(std::move(out));
}

// trim, ltrim, rtrim.
ereturnvalue strTrim(SysCall& call)
{
    return call.returnPiece(1, TrimBlanks(call.text(1), call.variant() & kTrimStart, call.variant() & kTrimEnd));
}

ereturnvalue trimQuotes(SysCall& call)
{
    const std::string_view text = call.text(1);
    return call.returnPiece(1, TrimQuotes(text));
}

ereturnvalue addQuotes(SysCall& call)
{
    const std::string_view text = call.text(1);
    if (!NeedsQuotes(text)) return call.returnPiece(1, text);
    Value out = Value::stringWithCapacity("\"", static_cast<int32_t>(std::min<size_t>(text.size() + 2, 0x7FFFFFF0)));
    out.appendToString(text);
    out.appendToString("\"");
    return call.returnValue(std::move(out));
}

// The [count] bytes from [start]; a negative count takes the rest.
std::string_view cut(std::string_view text, int32_t start, int32_t count)
{
    const size_t from = static_cast<size_t>(std::max(start, 0));
    if (from >= text.size()) return {};
    const size_t rest = text.size() - from;
    return text.substr(from, count < 0 ? rest : std::min(rest, static_cast<size_t>(count)));
}

ereturnvalue subStr(SysCall& call)
{
    const std::string_view text = call.text(1);
    return call.returnPiece(1, cut(text, call.integer(2), call.integer(3)));
}

// leftstr and rightstr.
ereturnvalue leftRight(SysCall& call)
{
    const std::string_view text = call.text(1);
    const int32_t count = call.integer(2);
    if (call.variant() == kLeft) return call.returnPiece(1, cut(text, 0, count));
    if (count <= 0) return call.returnText(std::string_view{});
    const size_t n = std::min(text.size(), static_cast<size_t>(count));
    return call.returnPiece(1, text.substr(text.size() - n));
}

ereturnvalue asc(SysCall& call)
{
    const std::string_view text = call.text(1);
    return call.returnInt(text.empty() ? 0 : static_cast<int32_t>(static_cast<signed char>(text[0])));
}

ereturnvalue chr(SysCall& call)
{
    const int32_t code = call.integer(1);
    if (code < 1 || code > 255) return call.returnText(std::string_view{});
    const char byte = static_cast<char>(static_cast<unsigned char>(code));
    return call.returnText(std::string_view{&byte, 1});
}

constexpr SysFunction kStringFunctions[] = {
    {"strlen", -5377, ArgRule::exactly(1), strLen},
    Fn("strcmp", -5378, ArgRule::exactly(2), stringCompare).message("stringcompare"),
    Fn("stricmp", -5379, ArgRule::exactly(2), stringCompare).as(kIgnoreCase).message("stringcompare"),
    Fn("strncmp", -5380, ArgRule::exactly(3), stringCompare).as(kCounted).message("stringcompare"),
    Fn("strnicmp", -5381, ArgRule::exactly(3), stringCompare).as(kCounted | kIgnoreCase).message("stringcompare"),
    Fn("strstr", -5382, ArgRule::exactly(2), strStr).as(kFirst),
    Fn("strrstr", -5383, ArgRule::exactly(2), strStr).as(kLast),
    Fn("strtoupper", -5392, ArgRule::exactly(1), strCase).as(kToUpper).message("strcase"),
    Fn("strtolower", -5393, ArgRule::exactly(1), strCase).as(kToLower).message("strcase"),
    Fn("trim", -5394, ArgRule::exactly(1), strTrim).as(kTrimStart | kTrimEnd).message("strtrim").reusingTarget(),
    Fn("ltrim", -5395, ArgRule::exactly(1), strTrim).as(kTrimStart).message("strtrim").reusingTarget(),
    Fn("rtrim", -5396, ArgRule::exactly(1), strTrim).as(kTrimEnd).message("strtrim").reusingTarget(),
    {"trimquotes", -5397, ArgRule::exactly(1), trimQuotes},
    {"addquotes", -5398, ArgRule::exactly(1), addQuotes},
    Fn("substr", -5408, ArgRule::exactly(3), subStr).reusingTarget(),
    Fn("leftstr", -5409, ArgRule::exactly(2), leftRight).as(kLeft).message("leftright").reusingTarget(),
    Fn("rightstr", -5410, ArgRule::exactly(2), leftRight).as(kRight).message("leftright").reusingTarget(),
    {"asc", -5411, ArgRule::exactly(1), asc},
    {"chr", -5412, ArgRule::exactly(1), chr},
};
} // namespace

std::span<const SysFunction> StringFunctions()
{
    return kStringFunctions;
}

} // namespace tn
