// The split operation behind split/splitwithquotes, address checks and cookie
// headers.
#pragma once

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
std::vector<std::string> SplitText(std::string_view separator, std::string_view text, bool quoteAware, bool skipEmpty,
                                   int32_t maxPieces);

} // namespace tn
