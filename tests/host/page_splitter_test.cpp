#include "host/page_splitter.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tn
{
namespace
{

using Texts = std::vector<std::string>;

TEST(SplitPage, LiteralsCodeAndPositions)
{
    struct Block
    {
        std::string code;
        int32_t line, start, end;
    };
    const struct
    {
        std::string page;
        Texts literals;
        std::vector<Block> blocks;
    } rows[] = {
        {"A<?tnl B ?>C", {"A", "C"}, {{" B ", 1, 1, 11}}},
        {"", {""}, {}},
        {"plain page", {"plain page"}, {}},
        {"x<?TNL", {"x<?TNL"}, {}},
        {"?> <? tnl", {"?> <? tnl"}, {}},
        // Near misses of the open tag stay literal.
        {"<?tn l?> <?tnx ?> < ?tnl ?>", {"<?tn l?> <?tnx ?> < ?tnl ?>"}, {}},
        // The open tag ignores case.
        {"<?TNL a ?><?TnL b ?>", {"", "", ""}, {{" a ", 1, 0, 10}, {" b ", 1, 10, 20}}},
        // "?>" is matched exactly, even inside a string of the code.
        {"<?tnl echo \"?>\"; ?>tail", {"", "\"; ?>tail"}, {{" echo \"", 1, 0, 14}}},
        // An unclosed block runs to the end; an open tag does not nest.
        {"head<?tnl x = 1;\n", {"head", ""}, {{" x = 1;\n", 1, 4, 17}}},
        {"<?tnl a <?tnl b ?>c", {"", "c"}, {{" a <?tnl b ", 1, 0, 18}}},
        // A tag ending at the very end is literal; one byte more makes a block.
        {"a?>b<?tnl", {"a?>b<?tnl"}, {}},
        {"a<?tnl?", {"a", ""}, {{"?", 1, 1, 7}}},
        {"<?tnl?>", {"", ""}, {{"", 1, 0, 7}}},
        // Lines count the line feeds of literals and code alike.
        {"l1\nl2\n<?tnl a\nb\nc ?>\n\nx<?tnl\n d ?>\r\n<?tnl e ?>",
         {"l1\nl2\n", "\n\nx", "\r\n", ""},
         {{" a\nb\nc ", 3, 6, 20}, {"\n d ", 7, 23, 34}, {" e ", 9, 36, 46}}},
        {std::string("\0<?tnl\0?>\xFF", 10), {std::string(1, '\0'), "\xFF"}, {{std::string(1, '\0'), 1, 1, 9}}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.page);
        Texts literals{"stale"};
        std::vector<CodeBlockText> blocks(3);
        ASSERT_EQ(SplitPage(row.page, literals, blocks), row.blocks.size());
        EXPECT_EQ(literals, row.literals);
        ASSERT_EQ(blocks.size(), row.blocks.size());
        for (size_t i = 0; i < blocks.size(); ++i)
        {
            EXPECT_EQ(blocks[i].code, row.blocks[i].code) << i;
            EXPECT_EQ(blocks[i].line, row.blocks[i].line) << i;
            EXPECT_EQ(blocks[i].startOffset, row.blocks[i].start) << i;
            EXPECT_EQ(blocks[i].endOffset, row.blocks[i].end) << i;
        }
    }
}

TEST(SplitPage, ManyBlocksSplitQuickly)
{
    std::string page;
    for (int i = 0; i < 200; ++i)
        page += "<p>literal text number " + std::to_string(i) + "</p>\n<?tnl echo(" + std::to_string(i) + "); ?>\n";
    Texts literals;
    std::vector<CodeBlockText> blocks;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 100; ++round)
        ASSERT_EQ(SplitPage(page, literals, blocks), 200u);
    const auto perSplit = (std::chrono::steady_clock::now() - start) / 100;
    EXPECT_EQ(blocks[199].line, 400);
    EXPECT_EQ(blocks[199].code, " echo(199); ");
    // Generous bound: an unoptimised sanitizer build still stays far below it.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::microseconds>(perSplit).count(), 5000);
}

} // namespace
} // namespace tn
