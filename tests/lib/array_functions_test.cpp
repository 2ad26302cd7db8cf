#include "support/call_function.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

namespace
{
constexpr int32_t kCount = -5633;
constexpr int32_t kPop = -5635;

// An array's elements as "[int 1,text b]"; any other value as Shown() gives it.
std::string listed(const Value& v)
{
    if (!v.isArray()) return Shown(v);
    std::string text = "[";
    for (int32_t i = 0; i < v.arrayItems().count(); ++i)
        text += (i ? "," : "") + listed(v.arrayItems()[i]);
    return text + "]";
}

// What pop gives, then what it leaves in the caller's variable.
std::string pop(FunctionCaller& caller, const Value& variable)
{
    const CallOutcome outcome = caller.call(kPop, {variable});
    EXPECT_TRUE(outcome.ok()) << outcome.message;
    return listed(outcome.result) + " leaving " + listed(outcome.arguments[0]);
}
} // namespace

TEST(Count, CountsTopLevelElementsOnly)
{
    FunctionCaller caller;
    const std::pair<CallArg, int32_t> rows[] = {
        {ArrayOf({1, "b", 2.5}), 3},
        {ArrayOf({1, ArrayOf({1, 2, 3, 4, 5})}), 2},
        {ArrayOf({}), 0},
        {"abc", 0},
        {5, 0},
        {Value(), 0},
        {Constant("abc"), 0}, // by value: constants are fine
    };
    for (const auto& [arg, count] : rows)
    {
        const CallOutcome outcome = caller.call(kCount, {arg});
        EXPECT_TRUE(outcome.ok()) << outcome.message;
        EXPECT_EQ(Shown(outcome.result), "int " + std::to_string(count));
    }
}

TEST(Pop, RemovesTheLastElementFromTheCallersVariable)
{
    FunctionCaller caller;
    const Value original = ArrayOf({1, "b", 3.5});
    EXPECT_EQ(pop(caller, original), "float 3.5 leaving [int 1,text b]");
    EXPECT_EQ(listed(original), "[int 1,text b,float 3.5]"); // earlier copies keep every element
    EXPECT_EQ(pop(caller, ArrayOf({1, "b"})), "text b leaving [int 1]");
    EXPECT_EQ(pop(caller, ArrayOf({ArrayOf({1, 2})})), "[int 1,int 2] leaving []");
    // An empty array or any other value gives null and stays as it was.
    EXPECT_EQ(pop(caller, ArrayOf({})), "null leaving []");
    EXPECT_EQ(pop(caller, Value::string("abc")), "null leaving text abc");
    EXPECT_EQ(pop(caller, Value()), "null leaving null");
}

TEST(Pop, NeedsAVariable)
{
    FunctionCaller caller;
    EXPECT_EQ(caller.call(kPop, {Constant(5)}).message,
              "Runtime Error: Invalid function argument 1. Must be a variable");
}
