// The golden CGI pages cover the precedence of environment, cookies, query
// and body; these cases cover the name rewrite and what no page shows.
#include "host/request_preparation.h"
#include "hostlib/host_functions.h"

#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

using Entries = std::map<std::string, std::string>;

Entries prepared(const Entries& environment, std::string_view body)
{
    VirtualMachine machine{HostFunctionSets()};
    EXPECT_EQ(PrepareRequest(environment, body, machine), ereturnvalue::OK);
    return machine.environment();
}

TEST(RequestPreparationTest, NamesAreMadeIdentifierSafeBeforeTheyAreCompared)
{
    const Entries environment = {{"9lives", "cat"},
                                 {"content_type", "env"},
                                 {"http_cookie", "Mixed=kept; q=cookie"},
                                 {"query_string", "content-type=query&new-name=1&Mixed=query&q=query"}};
    EXPECT_EQ(prepared(environment, "a=1&a=2&=skipped&c"),
              (Entries{{"_lives", "cat"},
                       {"content_type", "env"},
                       {"http_cookie", "Mixed=kept; q=cookie"},
                       {"query_string", "content-type=query&new-name=1&Mixed=query&q=query"},
                       {"Mixed", "kept"},
                       {"q", "cookie"},
                       {"new_name", "1"},
                       {"a", "1"},
                       {"c", ""}}));
}

// A name longer than the slice the rewrite works in: digits stay digits past
// the first byte, wherever the slices meet.
TEST(RequestPreparationTest, LongNamesAreRewrittenWhole)
{
    std::string name = "7";
    for (int i = 0; name.size() < 20000; ++i)
        name += (i % 3 == 0) ? "9" : (i % 3 == 1) ? "-" : "x";
    std::string expected = name;
    for (size_t i = 0; i < expected.size(); ++i)
        if (expected[i] == '-' || i == 0) expected[i] = '_';
    EXPECT_EQ(prepared({}, name + "=v"), (Entries{{expected, "v"}}));
}

} // namespace
} // namespace tn
