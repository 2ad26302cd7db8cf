// Every core function called with random arguments of every type, edge
// values included: a call may end in a runtime error, never in a crash, a
// hang or an error of any other kind. The sanitizer run gives this its teeth.
#include "lib/core_functions.h"
#include "support/call_function.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>

using namespace tn;
using namespace tn::test;

namespace
{
Value randomValue(std::mt19937& random, int depth = 0)
{
    // clang-format off
    static const char* const kTexts[] = {
        "", " ", "0", "-5", "2147483648", "a,b,,\"c,d\"", "%", "%4", "%zz%41", "\\", "'", "\"", "\"a b\"", "1.2.3.4",
        "Sun, 06 Nov 1994 08:49:37 GMT", "\xE9\xFF", "\t\r\n ", "abc", "ABC def", "1994110608:49:37:000"};
    // clang-format on
    static const int32_t kIntegers[] = {0, 1, -1, 2, 5, 31, 255, 256, 1000, -1000, 30827, 1601, INT32_MAX, INT32_MIN};
    static const double kFloats[] = {0.0, -0.0, 1.5, -2.75, 1e300, -1e300, NAN, INFINITY};
    switch (random() % 7)
    {
    case 0:
        return Value();
    case 1:
        return Value::integer(kIntegers[random() % std::size(kIntegers)]);
    case 2:
        return Value::floating(kFloats[random() % std::size(kFloats)]);
    case 3:
        return Value::string(std::string(kTexts[random() % std::size(kTexts)]) +
                             std::string(random() % 4 == 0 ? random() % 300 : 0, 'x'));
    case 4:
    {
        DateValue d;
        if (random() % 3) d.parseHttp(kTexts[14]);
        d.year += static_cast<int32_t>(random() % 3) * 29000 - 29000;
        return Value::date(d);
    }
    case 5:
    {
        ValueVector items;
        const int n = depth < 2 ? static_cast<int>(random() % 6) : 0;
        for (int i = 0; i < n; ++i)
            items.push(randomValue(random, depth + 1));
        return Value::array(std::move(items));
    }
    default:
        return Value::flags(kIntegers[random() % std::size(kIntegers)]);
    }
}
} // namespace

TEST(RandomArguments, NoFunctionFailsOtherThanWithARuntimeError)
{
    std::mt19937 random(20261206);
    FunctionCaller caller;
    int completed = 0;
    for (int round = 0; round < 1000; ++round)
        for (const SysFunction* row : CoreFunctionSet().rows())
        {
            std::vector<CallArg> args;
            // Mostly counts the function accepts, so that the handlers run.
            const int spread = row->rule.max >= 0 ? row->rule.max - row->rule.min + 1 : 3;
            const int argc = random() % 4 ? row->rule.min + static_cast<int>(random() % static_cast<unsigned>(spread))
                                          : static_cast<int>(random() % 6);
            for (int i = 0; i < argc; ++i)
                args.emplace_back(randomValue(random));
            const CallOutcome outcome = caller.call(row->id, args);
            const bool expected = outcome.code == ereturnvalue::OK || outcome.code == ereturnvalue::Incomplete ||
                                  outcome.code == ereturnvalue::RuntimeError;
            EXPECT_TRUE(expected) << row->name << " " << static_cast<int>(outcome.code) << " " << outcome.message;
            if (outcome.code == ereturnvalue::RuntimeError)
            {
                EXPECT_EQ(outcome.message.rfind("Runtime Error: ", 0), 0u) << row->name << ": " << outcome.message;
            }
            completed += outcome.code == ereturnvalue::OK;
        }
    EXPECT_GT(completed, 1000 * 114 / 2);
}
