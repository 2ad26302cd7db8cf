#include "host/page_splitter.h"

#include <gtest/gtest.h>

#include <chrono>

namespace tn
{
namespace
{

struct Split
{
    std::vector<std::string> literals;
    std::vector<CodeBlockText> blocks;
    size_t count = 0;
};

Split split(std::string_view text)
{
    Split s;
    s.count = SplitPage(text, s.literals, s.blocks);
    EXPECT_EQ(s.literals.size(), s.blocks.size() + 1);
    EXPECT_EQ(s.count, s.blocks.size());
    return s;
}

TEST(SplitPage, LiteralsAroundOneBlock)
{
    const Split s = split("A<?tnl B ?>C");
    ASSERT_EQ(s.count, 1u);
    EXPECT_EQ(s.literals[0], "A");
    EXPECT_EQ(s.literals[1], "C");
    EXPECT_EQ(s.blocks[0].code, " B ");
    EXPECT_EQ(s.blocks[0].line, 1);
    EXPECT_EQ(s.blocks[0].startOffset, 1);
    EXPECT_EQ(s.blocks[0].endOffset, 11);
}

TEST(SplitPage, NoBlocks)
{
    for (std::string_view text : {"", "plain page", "<?tn", "<?tnl", "x<?TNL", "?> <? tnl"})
    {
        const Split s = split(text);
        EXPECT_EQ(s.count, 0u) << text;
        EXPECT_EQ(s.literals[0], text);
    }
}

TEST(SplitPage, TagCaseRules)
{
    const Split upper = split("<?TNL a ?><?TnL b ?>");
    ASSERT_EQ(upper.count, 2u);
    EXPECT_EQ(upper.blocks[0].code, " a ");
    EXPECT_EQ(upper.blocks[1].code, " b ");
    EXPECT_EQ(upper.literals, (std::vector<std::string>{"", "", ""}));

    // "?>" is matched exactly, even inside a string of the code.
    const Split quoted = split("<?tnl echo \"?>\"; ?>tail");
    ASSERT_EQ(quoted.count, 1u);
    EXPECT_EQ(quoted.blocks[0].code, " echo \"");
    EXPECT_EQ(quoted.literals[1], "\"; ?>tail");

    // Near misses of the open tag stay literal.
    const Split near = split("<?tn l?> <?tnx ?> < ?tnl ?>");
    EXPECT_EQ(near.count, 0u);
}

TEST(SplitPage, UnterminatedAndNestedBlocks)
{
    const Split open = split("head<?tnl x = 1;\n");
    ASSERT_EQ(open.count, 1u);
    EXPECT_EQ(open.blocks[0].code, " x = 1;\n");
    EXPECT_EQ(open.blocks[0].endOffset, 17);
    EXPECT_EQ(open.literals[1], "");

    const Split nested = split("<?tnl a <?tnl b ?>c");
    ASSERT_EQ(nested.count, 1u);
    EXPECT_EQ(nested.blocks[0].code, " a <?tnl b ");
    EXPECT_EQ(nested.literals[1], "c");

    // A tag ending at the very end is literal; one byte more makes a block.
    const Split trailing = split("a?>b<?tnl");
    EXPECT_EQ(trailing.count, 0u);
    const Split oneMore = split("a<?tnl?");
    ASSERT_EQ(oneMore.count, 1u);
    EXPECT_EQ(oneMore.blocks[0].code, "?");

    const Split empty = split("<?tnl?>");
    ASSERT_EQ(empty.count, 1u);
    EXPECT_EQ(empty.blocks[0].code, "");
    EXPECT_EQ(empty.blocks[0].endOffset, 7);
}

TEST(SplitPage, LineNumbersCountLineFeedsInLiteralsAndCode)
{
    const std::string page = "line1\nline2\n<?tnl a\nb\nc ?>\n\nx<?tnl\n d ?>\r\n<?tnl e ?>";
    const Split s = split(page);
    ASSERT_EQ(s.count, 3u);
    EXPECT_EQ(s.blocks[0].line, 3);
    EXPECT_EQ(s.blocks[1].line, 7);
    EXPECT_EQ(s.blocks[2].line, 9);
    EXPECT_EQ(s.literals[1], "\n\nx");
    EXPECT_EQ(s.literals[2], "\r\n");
    EXPECT_EQ(s.blocks[1].code, "\n d ");
    for (const CodeBlockText& b : s.blocks)
    {
        EXPECT_EQ(page.compare(static_cast<size_t>(b.startOffset), 5, "<?tnl"), 0);
    }
}

TEST(SplitPage, OutputsAreReplacedAndBinarySafe)
{
    std::vector<std::string> literals{"stale"};
    std::vector<CodeBlockText> blocks(3);
    const std::string page("\0<?tnl\0?>\xFF", 10);
    EXPECT_EQ(SplitPage(page, literals, blocks), 1u);
    ASSERT_EQ(literals.size(), 2u);
    EXPECT_EQ(literals[0], std::string(1, '\0'));
    EXPECT_EQ(blocks[0].code, std::string(1, '\0'));
    EXPECT_EQ(literals[1], "\xFF");
}

TEST(SplitPage, ManyBlocksSplitQuickly)
{
    std::string page;
    for (int i = 0; i < 200; ++i)
    {
        page += "<p>literal text number " + std::to_string(i) + "</p>\n<?tnl echo(" + std::to_string(i) + "); ?>\n";
    }
    std::vector<std::string> literals;
    std::vector<CodeBlockText> blocks;
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < 100; ++round)
    {
        ASSERT_EQ(SplitPage(page, literals, blocks), 200u);
    }
    const auto perSplit = (std::chrono::steady_clock::now() - start) / 100;
    EXPECT_EQ(blocks[199].line, 400);
    EXPECT_EQ(blocks[199].code, " echo(199); ");
    // Generous bound: an unoptimised sanitizer build still stays far below it.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::microseconds>(perSplit).count(), 5000);
}

} // namespace
} // namespace tn
