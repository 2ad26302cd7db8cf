#include "common/text_split.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

using Pieces = std::vector<std::string>;

// Plain splitting, quotes and white space are in tests/pages/lib/split_join.htm.
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
        {",", "a,,b", false, true, 0, {"a", "b"}},
        {",", ",a,", false, true, 0, {"a"}},
        {",", ",,,", false, true, 0, {}},
        // An empty separator means any white space.
        {"", "a b\tc\nd\re\vf\fg", false, false, 0, {"a", "b", "c", "d", "e", "f", "g"}},
        {"", " a b ", false, true, 0, {"a", "b"}},
        // A quote inside a piece protects nothing after it closes.
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
        // Long enough for the word-wide search and count; bytes above 127 are no separators.
        {",",
         "abcdefghijklmnopq,r,\xac\xac,,\x2c\xacxyz,",
         false,
         false,
         0,
         {"abcdefghijklmnopq", "r", "\xac\xac", "", "", "\xacxyz", ""}},
        {"ab", "xxabyyyyyyyyyyyyyyyyyyab", false, false, 0, {"xx", "yyyyyyyyyyyyyyyyyy", ""}},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(SplitText(row.separator, row.text, row.quotes, row.skipEmpty, row.max), row.pieces)
            << "[" << row.separator << "] " << row.text;
        // The count given up front sizes the caller's container.
        const TextSplitter splitter(row.separator, row.text, row.quotes, row.skipEmpty, row.max);
        EXPECT_EQ(splitter.remaining(), static_cast<int32_t>(row.pieces.size())) << row.text;
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
