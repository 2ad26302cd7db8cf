#include "common/text_split.h"

namespace tn
{

namespace
{

// The C library's isspace in the "C" locale.
bool isSpaceByte(char c) noexcept
{
    return c == ' ' || (c >= '\t' && c <= '\r');
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
