#include "host/request_preparation.h"

#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

class RequestPreparationTest : public ::testing::Test
{
  protected:
    const std::string* stored(const std::string& name)
    {
        const auto found = machine.environment().find(name);
        return found == machine.environment().end() ? nullptr : &found->second;
    }
    std::string value(const std::string& name)
    {
        const std::string* v = stored(name);
        return v ? *v : "<absent>";
    }

    std::map<std::string, std::string> environment;
    VirtualMachine machine;
};

TEST_F(RequestPreparationTest, EnvironmentEntriesGetIdentifierSafeNames)
{
    environment = {{"content-type", "text/plain"}, {"9lives", "cat"}, {"path", "/bin"}};
    EXPECT_EQ(PrepareRequest(environment, "", machine), ereturnvalue::OK);
    EXPECT_EQ(value("content_type"), "text/plain");
    EXPECT_EQ(value("_lives"), "cat");
    EXPECT_EQ(value("path"), "/bin");
    EXPECT_EQ(machine.environment().size(), 3u);
}

TEST_F(RequestPreparationTest, EnvironmentBeatsQueryAndQueryBeatsBody)
{
    environment = {{"query_string", "path=query&q=query&both=query&sp=a+b%21"}, {"path", "/bin"}};
    PrepareRequest(environment, "q=body&both=body&b=body", machine);
    EXPECT_EQ(value("path"), "/bin");
    EXPECT_EQ(value("q"), "query");
    EXPECT_EQ(value("both"), "query");
    EXPECT_EQ(value("b"), "body");
    EXPECT_EQ(value("sp"), "a b!");
    EXPECT_EQ(value("query_string"), "path=query&q=query&both=query&sp=a+b%21");
}

TEST_F(RequestPreparationTest, QueryNamesAreCheckedAfterTheSafeRewrite)
{
    environment = {{"query_string", "content-type=query&new-name=1"}, {"content_type", "env"}};
    PrepareRequest(environment, "", machine);
    EXPECT_EQ(value("content_type"), "env");
    EXPECT_EQ(value("new_name"), "1");
}

TEST_F(RequestPreparationTest, CookiesReplaceEarlierEntriesAndLaterEntriesReplaceCookies)
{
    // "aaa" comes before http_cookie in name order, "zzz" after it.
    environment = {{"aaa", "env"},
                   {"http_cookie", "aaa=cookie; zzz=cookie; Mixed=kept; q=cookie"},
                   {"zzz", "env"},
                   {"query_string", "q=query&Mixed=query"}};
    PrepareRequest(environment, "", machine);
    EXPECT_EQ(value("aaa"), "cookie");
    EXPECT_EQ(value("zzz"), "env");
    EXPECT_EQ(value("Mixed"), "kept");
    EXPECT_EQ(value("mixed"), "<absent>");
    EXPECT_EQ(value("q"), "cookie");
    EXPECT_EQ(value("http_cookie"), "aaa=cookie; zzz=cookie; Mixed=kept; q=cookie");
}

TEST_F(RequestPreparationTest, BodyAloneAndNoQueryEntry)
{
    PrepareRequest(environment, "a=1&a=2&=skipped&c", machine);
    EXPECT_EQ(value("a"), "1");
    EXPECT_EQ(value("c"), "");
    EXPECT_EQ(machine.environment().size(), 2u);
}

} // namespace
} // namespace tn
