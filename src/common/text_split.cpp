#include "common/text_split.h"

namespace tn
{

namespace
{

bool isSpaceByte(char c) noexcept
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Finds the next separator at or after [from]: its position and length, or npos.
class SeparatorFinder
{
  public:
    SeparatorFinder(std::string_view separator, std::string_view text, bool quoteAware) noexcept
        : separator_(separator), text_(text), quoteAware_(quoteAware)
    {
    }

    size_t next(size_t from, size_t& length) noexcept
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
        // The quote state carries over from piece to piece.
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

  private:
    bool atSeparator(size_t i) const noexcept
    {
        if (separator_.empty())
        {
            return isSpaceByte(text_[i]);
        }
        return text_.compare(i, separator_.size(), separator_) == 0;
    }

    std::string_view separator_;
    std::string_view text_;
    bool quoteAware_;
    bool inQuotes_ = false;
};

} // namespace

std::vector<std::string> SplitText(std::string_view separator, std::string_view text, bool quoteAware, bool skipEmpty,
                                   int32_t maxPieces)
{
    std::vector<std::string> pieces;
    if (text.empty())
    {
        return pieces;
    }
    SeparatorFinder finder(separator, text, quoteAware);
    size_t start = 0;
    for (;;)
    {
        if (maxPieces > 0 && pieces.size() + 1 >= static_cast<size_t>(maxPieces))
        {
            break;
        }
        size_t length = 0;
        const size_t at = finder.next(start, length);
        if (at == std::string_view::npos)
        {
            break;
        }
        if (at > start || !skipEmpty)
        {
            pieces.emplace_back(text.substr(start, at - start));
        }
        start = at + length;
    }
    if (start < text.size() || !skipEmpty)
    {
        pieces.emplace_back(text.substr(start));
    }
    return pieces;
}

} // namespace tn
