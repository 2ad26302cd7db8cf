#include "lib/text_split.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

using Pieces = std::vector<std::string>;

Pieces split(std::string_view sep, std::string_view text, bool quotes = false, bool skip = false, int32_t max = 0)
{
    return SplitText(sep, text, quotes, skip, max);
}

TEST(SplitText, EmptyPiecesKeptOrSkipped)
{
    EXPECT_EQ(split(",", "a,,b"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split(",", ",a,"), (Pieces{"", "a", ""}));
    EXPECT_EQ(split(",", ","), (Pieces{"", ""}));
    EXPECT_EQ(split(",", "a,,b", false, true), (Pieces{"a", "b"}));
    EXPECT_EQ(split(",", ",a,", false, true), (Pieces{"a"}));
    EXPECT_EQ(split(",", ",,,", false, true), Pieces{});
    EXPECT_EQ(split(",", ""), Pieces{});
    EXPECT_EQ(split(",", "abc"), (Pieces{"abc"}));
}

TEST(SplitText, MultiByteSeparator)
{
    EXPECT_EQ(split("::", "a::b:c::"), (Pieces{"a", "b:c", ""}));
    EXPECT_EQ(split("ab", "aab"), (Pieces{"a", ""}));
    EXPECT_EQ(split("longer than text", "short"), (Pieces{"short"}));
}

TEST(SplitText, EmptySeparatorMeansWhiteSpace)
{
    EXPECT_EQ(split("", "a b\tc\nd\re\vf\fg"), (Pieces{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(split("", "a  b"), (Pieces{"a", "", "b"}));
    EXPECT_EQ(split("", " a b ", false, true), (Pieces{"a", "b"}));
    EXPECT_EQ(split("", "\"a b\" c", true), (Pieces{"\"a b\"", "c"}));
}

TEST(SplitText, QuotesProtectSeparators)
{
    EXPECT_EQ(split(",", "x,\"a,b\",y", true), (Pieces{"x", "\"a,b\"", "y"}));
    EXPECT_EQ(split(",", "x,\"a,b\",y", false), (Pieces{"x", "\"a", "b\"", "y"}));
    // An unbalanced quote protects the rest of the text.
    EXPECT_EQ(split(",", "a,\"b,c", true), (Pieces{"a", "\"b,c"}));
    EXPECT_EQ(split(",", "a\"\",b", true), (Pieces{"a\"\"", "b"}));
}

TEST(SplitText, MaximumPieceCount)
{
    EXPECT_EQ(split(",", "a,b,c,d", false, false, 2), (Pieces{"a", "b,c,d"}));
    EXPECT_EQ(split(",", "a,b,c,d", false, false, 1), (Pieces{"a,b,c,d"}));
    EXPECT_EQ(split(",", "a,b", false, false, 5), (Pieces{"a", "b"}));
    EXPECT_EQ(split(",", "a,b", false, false, -1), (Pieces{"a", "b"}));
    EXPECT_EQ(split(",", ",,a,b,c", false, true, 2), (Pieces{"a", "b,c"}));
    EXPECT_EQ(split("=", "k=v=w", false, false, 2), (Pieces{"k", "v=w"}));
}

} // namespace
} // namespace tn
