#include "host/form_data.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tn
{
namespace
{

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(ParseFormData, PairsInOrderDecoded)
{
    const struct
    {
        const char* data;
        Pairs pairs;
    } rows[] = {
        {"a=1&b=2&a=3", {{"a", "1"}, {"b", "2"}, {"a", "3"}}},
        {"k=v=w", {{"k", "v=w"}}},
        {"", {}},
        {"&&a=1&&", {{"a", "1"}}},
        {"=x&b", {{"b", ""}}},
        {"flag&c=", {{"flag", ""}, {"c", ""}}},
        // A name that decodes to nothing is skipped too.
        {"%=1&%4=2&ok=3", {{"ok", "3"}}},
        {"first+name=J%C3%B6rg&q=a%26b%3Dc&z=%00", {{"first name", "J\xC3\xB6rg"}, {"q", "a&b=c"}, {"z", "_"}}},
        {"p=100%", {{"p", "100"}}},
        {"p=%zz", {{"p", "%zz"}}},
    };
    for (const auto& row : rows)
    {
        Pairs out;
        ParseFormData(row.data, [&](std::string name, std::string value)
                      { out.emplace_back(std::move(name), std::move(value)); });
        EXPECT_EQ(out, row.pairs) << row.data;
    }
}

} // namespace
} // namespace tn
