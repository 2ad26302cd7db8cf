#include "host/form_data.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tn
{
namespace
{

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs parse(std::string_view data)
{
    Pairs out;
    ParseFormData(data,
                  [&](std::string name, std::string value) { out.emplace_back(std::move(name), std::move(value)); });
    return out;
}

TEST(ParseFormData, PairsInOrder)
{
    EXPECT_EQ(parse("a=1&b=2&a=3"), (Pairs{{"a", "1"}, {"b", "2"}, {"a", "3"}}));
    EXPECT_EQ(parse("k=v=w"), (Pairs{{"k", "v=w"}}));
    EXPECT_EQ(parse(""), Pairs{});
}

TEST(ParseFormData, EmptyPiecesAndNames)
{
    EXPECT_EQ(parse("&&a=1&&"), (Pairs{{"a", "1"}}));
    EXPECT_EQ(parse("=x&b"), (Pairs{{"b", ""}}));
    EXPECT_EQ(parse("flag&c="), (Pairs{{"flag", ""}, {"c", ""}}));
    // A name that decodes to nothing is skipped too.
    EXPECT_EQ(parse("%=1&%4=2&ok=3"), (Pairs{{"ok", "3"}}));
}

TEST(ParseFormData, NamesAndValuesAreDecoded)
{
    EXPECT_EQ(parse("first+name=J%C3%B6rg&q=a%26b%3Dc&z=%00"),
              (Pairs{{"first name", "J\xC3\xB6rg"}, {"q", "a&b=c"}, {"z", "_"}}));
    EXPECT_EQ(parse("p=100%"), (Pairs{{"p", "100"}}));
    EXPECT_EQ(parse("p=%zz"), (Pairs{{"p", "%zz"}}));
}

} // namespace
} // namespace tn
