#include "common/text_split.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

using Pieces = std::vector<std::string>;

TEST(SplitText, SeparatorsQuotesSkippingAndLimit)
{
    const struct
    {
        const char* separator;
        const char* text;
        bool quotes, skipEmpty;
        int32_t max;
        Pieces pieces;
    } rows[] = {
        {",", "a,,b", false, false, 0, {"a", "", "b"}},
        {",", ",a,", false, false, 0, {"", "a", ""}},
        {",", ",", false, false, 0, {"", ""}},
        {",", "", false, false, 0, {}},
        {",", "abc", false, false, 0, {"abc"}},
        {",", "a,,b", false, true, 0, {"a", "b"}},
        {",", ",a,", false, true, 0, {"a"}},
        {",", ",,,", false, true, 0, {}},
        {"::", "a::b:c::", false, false, 0, {"a", "b:c", ""}},
        {"ab", "aab", false, false, 0, {"a", ""}},
        {"longer than text", "short", false, false, 0, {"short"}},
        // An empty separator means any white space.
        {"", "a b\tc\nd\re\vf\fg", false, false, 0, {"a", "b", "c", "d", "e", "f", "g"}},
        {"", "a  b", false, false, 0, {"a", "", "b"}},
        {"", " a b ", false, true, 0, {"a", "b"}},
        {"", "\"a b\" c", true, false, 0, {"\"a b\"", "c"}},
        // Quotes protect separators; an unbalanced one protects the rest.
        {",", "x,\"a,b\",y", true, false, 0, {"x", "\"a,b\"", "y"}},
        {",", "x,\"a,b\",y", false, false, 0, {"x", "\"a", "b\"", "y"}},
        {",", "a,\"b,c", true, false, 0, {"a", "\"b,c"}},
        {",", "a\"\",b", true, false, 0, {"a\"\"", "b"}},
        // The last of at most max pieces keeps the rest of the text.
        {",", "a,b,c,d", false, false, 2, {"a", "b,c,d"}},
        {",", "a,b,c,d", false, false, 1, {"a,b,c,d"}},
        {",", "a,b", false, false, 5, {"a", "b"}},
        {",", "a,b", false, false, -1, {"a", "b"}},
        {",", ",,a,b,c", false, true, 2, {"a", "b,c"}},
        {",", "a,,,b,c", false, true, 2, {"a", ",,b,c"}},
        {",", "a,b,", false, false, 3, {"a", "b", ""}},
        {",", "a,b,", false, true, 3, {"a", "b"}},
        // Limits and skipping with quotes: the rest keeps its quotes and separators.
        {",", "\"a,b\",c,d", true, false, 2, {"\"a,b\"", "c,d"}},
        {",", "\"a,b\"", true, false, 1, {"\"a,b\""}},
        {"", "  a \"b c\"  d ", true, true, 0, {"a", "\"b c\"", "d"}},
        {"\"", "a\"b", true, false, 0, {"a", "b"}},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(SplitText(row.separator, row.text, row.quotes, row.skipEmpty, row.max), row.pieces)
            << "[" << row.separator << "] " << row.text;
    }
}

// The pieces are views into the text itself, given out one at a time.
TEST(TextSplitter, HandsOutViewsIntoTheText)
{
    const std::string_view text = "ab, cd,";
    TextSplitter splitter(",", text, false, false, 0);
    std::string_view piece;
    ASSERT_TRUE(splitter.next(piece));
    EXPECT_EQ(piece.data(), text.data());
    EXPECT_EQ(piece, "ab");
    ASSERT_TRUE(splitter.next(piece));
    EXPECT_EQ(piece.data(), text.data() + 3);
    EXPECT_EQ(piece, " cd");
    ASSERT_TRUE(splitter.next(piece));
    EXPECT_EQ(piece, "");
    EXPECT_FALSE(splitter.next(piece));
    EXPECT_FALSE(splitter.next(piece));
}

} // namespace
} // namespace tn
