// What the whole-response golden cases cannot show: a cookie expiry taken
// from the clock, and a machine that has no response to fill.
#include "hostlib/host_context.h"
#include "support/call_function.h"

#include <gtest/gtest.h>

#include <regex>

namespace tn
{
namespace
{
using test::FunctionCaller;

constexpr int32_t kSetCookieHeader = -12290;
constexpr int32_t kHttpError = -12295;

TEST(ResponseFunctions, CookieWithoutValueIsDeletedAnHourAgo)
{
    FunctionCaller caller;
    HostContext host;
    caller.vm().setHost(&host);
    ASSERT_TRUE(caller.call(kSetCookieHeader, {"a", "", 0, "/x"}).ok());
    ASSERT_TRUE(caller.call(kSetCookieHeader, {"b"}).ok());
    const std::regex form("Set-Cookie: a=deleted; expires=((Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} [A-Z][a-z]{2} "
                          "[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT); path=/x\n"
                          "Set-Cookie: b=deleted; expires=[^;]+ GMT\n");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(host.response.headerText, match, form)) << host.response.headerText;
    DateValue expires;
    ASSERT_EQ(expires.parseHttp(match.str(1)), ereturnvalue::OK);
    const int64_t agoMs = DateValue::now().differenceMs(expires);
    EXPECT_GE(agoMs, 3600 * 1000 - 2000);
    EXPECT_LE(agoMs, 3600 * 1000 + 2000);
}

// Without a host context there is nothing to fill: a script error, not a crash.
TEST(ResponseFunctions, MachineWithoutHostContextRefusesTheCall)
{
    FunctionCaller caller;
    EXPECT_EQ(caller.call(kHttpError, {404}).message, "Runtime Error: Invalid call to redirect. no host context");
}

} // namespace
} // namespace tn
