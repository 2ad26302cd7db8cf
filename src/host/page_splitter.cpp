#include "host/page_splitter.h"

#include <algorithm>
#include <cstring>

namespace tn
{

namespace
{

// Position of the next open tag at or after [from] whose last byte is not the
// last byte of [text], or npos.
size_t findOpenTag(std::string_view text, size_t from) noexcept
{
    const size_t n = text.size();
    const char* base = text.data();
    while (from + kOpenTag.size() < n)
    {
        const void* hit = std::memchr(base + from, '<', n - kOpenTag.size() - from);
        if (hit == nullptr)
        {
            return std::string_view::npos;
        }
        const size_t at = static_cast<size_t>(static_cast<const char*>(hit) - base);
        // Setting bit 5 folds exactly the capitals onto their lower-case letters here.
        if (base[at + 1] == '?' && (base[at + 2] | 0x20) == 't' && (base[at + 3] | 0x20) == 'n' &&
            (base[at + 4] | 0x20) == 'l')
        {
            return at;
        }
        from = at + 1;
    }
    return std::string_view::npos;
}

} // namespace

size_t SplitPage(std::string_view text, std::vector<std::string>& literals, std::vector<CodeBlockText>& blocks)
{
    literals.clear();
    blocks.clear();
    size_t literalStart = 0;
    size_t countedTo = 0; // line feeds before this offset are in lineFeeds
    int32_t lineFeeds = 0;
    for (;;)
    {
        const size_t tag = findOpenTag(text, literalStart);
        if (tag == std::string_view::npos)
        {
            break;
        }
        const size_t codeStart = tag + kOpenTag.size();
        lineFeeds += static_cast<int32_t>(std::count(text.begin() + countedTo, text.begin() + codeStart, '\n'));
        countedTo = codeStart;

        const size_t close = text.find(kCloseTag, codeStart);
        const size_t codeEnd = close == std::string_view::npos ? text.size() : close;
        const size_t blockEnd = close == std::string_view::npos ? text.size() : close + kCloseTag.size();

        literals.emplace_back(text.substr(literalStart, tag - literalStart));
        CodeBlockText& block = blocks.emplace_back();
        block.startOffset = static_cast<int32_t>(tag);
        block.endOffset = static_cast<int32_t>(blockEnd);
        block.line = lineFeeds + 1;
        block.code = text.substr(codeStart, codeEnd - codeStart);
        literalStart = blockEnd;
    }
    literals.emplace_back(text.substr(literalStart));
    return blocks.size();
}

} // namespace tn
