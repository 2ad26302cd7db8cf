// The split operation behind split/splitwithquotes, address checks and cookie
// headers.
#pragma once

#include "common/byte_scan.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

// Cuts [text] at each occurrence of [separator]; an empty separator makes every
// white-space byte a separator. With [quoteAware], double quotes toggle a
// quoted run (the quotes stay in the piece) inside which no separator counts.
// [skipEmpty] drops empty pieces. With [maxPieces] above 0 at most that many
// pieces come out, the last holding the unsplit rest. An empty text gives none.
//
// The pieces are views into [text], handed out one at a time so callers can
// build their own containers without an intermediate copy.
class TextSplitter
{
  public:
    TextSplitter(std::string_view separator, std::string_view text, bool quoteAware, bool skipEmpty,
                 int32_t maxPieces) noexcept;

    // The next piece; false when there are no more.
    bool next(std::string_view& piece) noexcept;
    // How many pieces next() has still to give, found by a dry run, so that
    // callers can size their container once.
    int32_t remaining() const noexcept;
    // Calls [visit] with each piece next() would give, in order.
    template <typename Visit> void forEach(Visit&& visit);

  private:
    bool plainByte() const noexcept { return separator_.size() == 1 && !quoteAware_ && !skipEmpty_ && maxPieces_ <= 0; }
    size_t findSeparator(size_t from, size_t& length) noexcept;
    bool atSeparator(size_t i) const noexcept;

    std::string_view separator_;
    std::string_view text_;
    size_t start_ = 0;
    int32_t maxPieces_;
    int32_t given_ = 0;
    bool quoteAware_;
    bool skipEmpty_;
    bool inQuotes_ = false; // carries over from piece to piece
    bool done_;
};

template <typename Visit> void TextSplitter::forEach(Visit&& visit)
{
    if (!plainByte())
    {
        std::string_view piece;
        while (next(piece))
            visit(piece);
        return;
    }
    // One separator byte and nothing else to heed: a straight scan.
    if (done_) return;
    done_ = true;
    const char c = separator_[0];
    const char* at = text_.data() + start_;
    const char* const end = text_.data() + text_.size();
    start_ = text_.size();
    for (;;)
    {
        const char* hit = FindByte(at, end, c);
        if (!hit)
        {
            visit(std::string_view(at, static_cast<size_t>(end - at)));
            return;
        }
        visit(std::string_view(at, static_cast<size_t>(hit - at)));
        at = hit + 1;
    }
}

std::vector<std::string> SplitText(std::string_view separator, std::string_view text, bool quoteAware, bool skipEmpty,
                                   int32_t maxPieces);

} // namespace tn
