#include "support/call_function.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

namespace
{
constexpr int32_t kCount = -5633;
constexpr int32_t kPop = -5635;

int32_t countOf(FunctionCaller& caller, CallArg arg)
{
    CallOutcome outcome = caller.call(kCount, {std::move(arg)});
    EXPECT_TRUE(outcome.ok()) << outcome.message;
    EXPECT_TRUE(outcome.result.isInteger());
    return outcome.result.toInt();
}
} // namespace

TEST(Count, CountsTopLevelElementsOnly)
{
    FunctionCaller caller;
    EXPECT_EQ(countOf(caller, ArrayOf({1, "b", 2.5})), 3);
    EXPECT_EQ(countOf(caller, ArrayOf({1, ArrayOf({1, 2, 3, 4, 5})})), 2);
    EXPECT_EQ(countOf(caller, ArrayOf({})), 0);
    EXPECT_EQ(countOf(caller, "abc"), 0);
    EXPECT_EQ(countOf(caller, 5), 0);
    EXPECT_EQ(countOf(caller, Value()), 0);
    EXPECT_EQ(countOf(caller, Constant("abc")), 0); // by value: constants are fine
}

TEST(Count, MachineChecksTheDeclaredCount)
{
    FunctionCaller caller;
    CallOutcome two = caller.call(kCount, {ArrayOf({1}), 2});
    EXPECT_EQ(two.code, ereturnvalue::RuntimeError);
    EXPECT_EQ(two.message, "Runtime Error: Invalid number of function arguments. Expected 1, actual 2");
    EXPECT_EQ(caller.call(kCount).message, "Runtime Error: Invalid number of function arguments. Expected 1, actual 0");
}

TEST(Pop, RemovesTheLastElementFromTheCallersVariable)
{
    FunctionCaller caller;
    const Value original = ArrayOf({1, "b", 3.5});
    CallOutcome outcome = caller.call(kPop, {original});
    ASSERT_TRUE(outcome.ok()) << outcome.message;
    ASSERT_TRUE(outcome.result.isFloat());
    EXPECT_EQ(outcome.result.rawFloat(), 3.5);

    const Value& variable = outcome.arguments[0];
    ASSERT_TRUE(variable.isArray());
    ASSERT_EQ(variable.arrayItems().count(), 2);
    EXPECT_EQ(variable.arrayItems()[0].rawInt(), 1);
    EXPECT_EQ(variable.arrayItems()[1].stringView(), "b");
    // Copies of the array made before the call keep every element.
    EXPECT_EQ(original.arrayItems().count(), 3);

    CallOutcome again = caller.call(kPop, {variable});
    ASSERT_TRUE(again.result.isString());
    EXPECT_EQ(again.result.stringView(), "b");
    EXPECT_EQ(again.arguments[0].arrayItems().count(), 1);
}

TEST(Pop, NestedLastElementComesBackWhole)
{
    FunctionCaller caller;
    CallOutcome outcome = caller.call(kPop, {ArrayOf({ArrayOf({1, 2})})});
    ASSERT_TRUE(outcome.result.isArray());
    EXPECT_EQ(outcome.result.arrayItems().count(), 2);
    ASSERT_TRUE(outcome.arguments[0].isArray());
    EXPECT_EQ(outcome.arguments[0].arrayItems().count(), 0);
}

TEST(Pop, EmptyArrayAndNonArrayGiveNullAndKeepTheVariable)
{
    FunctionCaller caller;
    CallOutcome empty = caller.call(kPop, {ArrayOf({})});
    ASSERT_TRUE(empty.ok()) << empty.message;
    EXPECT_TRUE(empty.result.isNull());
    ASSERT_TRUE(empty.arguments[0].isArray());
    EXPECT_EQ(empty.arguments[0].arrayItems().count(), 0);

    CallOutcome text = caller.call(kPop, {"abc"});
    EXPECT_TRUE(text.result.isNull());
    ASSERT_TRUE(text.arguments[0].isString());
    EXPECT_EQ(text.arguments[0].stringView(), "abc");

    CallOutcome null = caller.call(kPop, {Value()});
    EXPECT_TRUE(null.result.isNull());
    EXPECT_TRUE(null.arguments[0].isNull());
}

TEST(Pop, MachineRequiresOneVariable)
{
    FunctionCaller caller;
    CallOutcome constant = caller.call(kPop, {Constant(5)});
    EXPECT_EQ(constant.code, ereturnvalue::RuntimeError);
    EXPECT_EQ(constant.message, "Runtime Error: Invalid function argument 1. Must be a variable");
    EXPECT_EQ(caller.call(kPop, {ArrayOf({1}), ArrayOf({2})}).message,
              "Runtime Error: Invalid number of function arguments. Expected 1, actual 2");
    EXPECT_EQ(caller.call(kPop).message, "Runtime Error: Invalid number of function arguments. Expected 1, actual 0");
}
