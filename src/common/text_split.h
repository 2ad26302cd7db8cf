// The split operation behind split/splitwithquotes, address checks and cookie
// headers.
#pragma once

#include <cstddef>
#include <cstdint>
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

  private:
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

std::vector<std::string> SplitText(std::string_view separator, std::string_view text, bool quoteAware, bool skipEmpty,
                                   int32_t maxPieces);

} // namespace tn
