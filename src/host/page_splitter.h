// Cuts a source page into literal segments and code blocks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

struct CodeBlockText
{
    int32_t startOffset = 0; // offset of the open tag
    int32_t endOffset = 0;   // offset just past the close tag (text end when unclosed)
    int32_t line = 0;        // 1-based line on which the code starts
    std::string_view code;   // bytes between the tags, a view into the page text
};

// The open tag is matched without regard to case, the close tag exactly.
inline constexpr std::string_view kOpenTag = "<?tnl";
inline constexpr std::string_view kCloseTag = "?>";

// Replaces [literals] and [blocks] with the pieces of [text]: always one more
// literal than blocks, literal i standing before block i. A block without a
// close tag runs to the end of the text; an open tag that ends exactly at the
// end of the text is literal. Returns the number of blocks. The literals are
// copies; the blocks' code views [text], which has to outlive them.
size_t SplitPage(std::string_view text, std::vector<std::string>& literals, std::vector<CodeBlockText>& blocks);

} // namespace tn
