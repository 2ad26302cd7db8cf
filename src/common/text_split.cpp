#include "common/text_split.h"

#include <algorithm>
#include <cstring>

namespace tn
{

namespace
{

// The C library's isspace in the "C" locale.
bool isSpaceByte(char c) noexcept
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Occurrences of [c] in [text], eight bytes at a time: a byte of x ^ c is
// zero exactly where [c] is, and the sum below sets the top bit of each byte
// that is not zero, without a carry into the next.
int32_t countByte(std::string_view text, char c) noexcept
{
    constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Fu;
    const uint64_t pattern = 0x0101010101010101u * static_cast<unsigned char>(c);
    int32_t n = 0;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8)
    {
        uint64_t x;
        std::memcpy(&x, text.data() + i, 8);
        x ^= pattern;
        // One top bit per matching byte: shifted down and summed by the multiply.
        const uint64_t hits = (~(((x & kLow7) + kLow7) | x | kLow7)) >> 7;
        n += static_cast<int32_t>((hits * 0x0101010101010101u) >> 56);
    }
    for (; i < text.size(); ++i)
    {
        n += text[i] == c;
    }
    return n;
}

} // namespace

TextSplitter::TextSplitter(std::string_view separator, std::string_view text, bool quoteAware, bool skipEmpty,
                           int32_t maxPieces) noexcept
    : separator_(separator), text_(text), maxPieces_(maxPieces), quoteAware_(quoteAware), skipEmpty_(skipEmpty),
      done_(text.empty())
{
}

bool TextSplitter::atSeparator(size_t i) const noexcept
{
    if (separator_.empty())
    {
        return isSpaceByte(text_[i]);
    }
    return text_.compare(i, separator_.size(), separator_) == 0;
}

// Position of the next separator at or after [from] and its length, or npos.
size_t TextSplitter::findSeparator(size_t from, size_t& length) noexcept
{
    length = separator_.empty() ? 1 : separator_.size();
    if (!quoteAware_)
    {
        if (separator_.size() == 1)
        {
            // One separator byte, the common case. Pieces are mostly short, so a
            // few bytes are looked at directly before memchr's call pays off.
            const char c = separator_[0];
            const size_t n = text_.size();
            const size_t near = std::min(n, from + 16);
            for (size_t i = from; i < near; ++i)
            {
                if (text_[i] == c)
                {
                    return i;
                }
            }
            if (near >= n) return std::string_view::npos;
            const void* hit = std::memchr(text_.data() + near, c, n - near);
            return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text_.data()) : std::string_view::npos;
        }
        if (!separator_.empty())
        {
            return text_.find(separator_, from);
        }
        for (size_t i = from; i < text_.size(); ++i)
        {
            if (isSpaceByte(text_[i]))
            {
                return i;
            }
        }
        return std::string_view::npos;
    }
    for (size_t i = from; i < text_.size(); ++i)
    {
        if (!inQuotes_ && atSeparator(i))
        {
            return i;
        }
        if (text_[i] == '"')
        {
            inQuotes_ = !inQuotes_;
        }
    }
    return std::string_view::npos;
}

bool TextSplitter::next(std::string_view& piece) noexcept
{
    while (!done_)
    {
        size_t length = 0;
        const bool limitReached = maxPieces_ > 0 && given_ + 1 >= maxPieces_;
        const size_t at = limitReached ? std::string_view::npos : findSeparator(start_, length);
        if (at == std::string_view::npos)
        {
            // The rest after the last separator, empty when the text ends with one.
            done_ = true;
            piece = text_.substr(start_);
        }
        else
        {
            piece = text_.substr(start_, at - start_);
            start_ = at + length;
        }
        if (!piece.empty() || !skipEmpty_)
        {
            ++given_;
            return true;
        }
    }
    return false;
}

int32_t TextSplitter::remaining() const noexcept
{
    if (plainByte())
    {
        if (done_) return 0;
        return countByte(text_.substr(start_), separator_[0]) + 1;
    }
    TextSplitter probe = *this;
    int32_t n = 0;
    std::string_view piece;
    while (probe.next(piece))
    {
        ++n;
    }
    return n;
}

std::vector<std::string> SplitText(std::string_view separator, std::string_view text, bool quoteAware, bool skipEmpty,
                                   int32_t maxPieces)
{
    std::vector<std::string> pieces;
    TextSplitter splitter(separator, text, quoteAware, skipEmpty, maxPieces);
    std::string_view piece;
    while (splitter.next(piece))
    {
        pieces.emplace_back(piece);
    }
    return pieces;
}

} // namespace tn
