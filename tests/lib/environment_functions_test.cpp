#include "support/call_function.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

using namespace tn;
using namespace tn::test;

namespace
{
constexpr int32_t kEnvVar = -4865;
constexpr int32_t kNumEnvVar = -4866;
constexpr int32_t kEnvVarIndex = -4867;
constexpr int32_t kSetEnvVar = -4868;
constexpr int32_t kGlobalEnvVar = -4869;
constexpr int32_t kSetGlobalEnvVar = -4870;

std::string resultOf(FunctionCaller& caller, int32_t id, std::vector<CallArg> args = {})
{
    const CallOutcome outcome = caller.call(id, std::move(args));
    EXPECT_TRUE(outcome.ok()) << outcome.message;
    return Shown(outcome.result);
}

// The result, then the two by-reference variables, which start as "keep" and 7.
std::string indexed(FunctionCaller& caller, CallArg index)
{
    const CallOutcome outcome = caller.call(kEnvVarIndex, {index, "keep", 7});
    EXPECT_TRUE(outcome.ok()) << outcome.message;
    return Shown(outcome.result) + ", " + Shown(outcome.arguments[1]) + ", " + Shown(outcome.arguments[2]);
}
} // namespace

TEST(EnvVar, ReadsAndCountsStoredNamesExactly)
{
    FunctionCaller caller;
    EXPECT_EQ(resultOf(caller, kNumEnvVar), "int 0");
    caller.vm().environment() = {{"Path_Info", "/x"}, {"5", "five"}, {"empty", ""}};
    EXPECT_EQ(resultOf(caller, kEnvVar, {"Path_Info"}), "text /x");
    EXPECT_EQ(resultOf(caller, kEnvVar, {"path_info"}), "null"); // case-sensitive
    EXPECT_EQ(resultOf(caller, kEnvVar, {"missing"}), "null");
    EXPECT_EQ(resultOf(caller, kEnvVar, {5}), "text five"); // the name is converted to text
    EXPECT_EQ(resultOf(caller, kEnvVar, {"empty"}), "text ");
    EXPECT_EQ(resultOf(caller, kNumEnvVar), "int 3");
}

// Arguments 2 and 3 are by reference: the machine checks them before the handler.
TEST(EnvVarIndex, ResultsGoToVariables)
{
    FunctionCaller caller;
    const std::pair<std::vector<CallArg>, const char*> rows[] = {
        {{0, Constant("x"), Value()}, "Invalid function argument 2. Must be a variable"},
        {{0, Value(), Constant(1)}, "Invalid function argument 3. Must be a variable"},
    };
    for (const auto& [args, message] : rows)
        EXPECT_EQ(caller.call(kEnvVarIndex, args).message, std::string("Runtime Error: ") + message);
}

TEST(EnvVarIndex, WalksNamesInByteOrder)
{
    FunctionCaller caller;
    EXPECT_EQ(indexed(caller, 0), "int 0, text keep, int 7");
    caller.vm().environment() = {{"b", "2"}, {"a", "1"}, {"B", "3"}, {"\xE9t\xE9", "high"}};
    EXPECT_EQ(indexed(caller, 0), "int 1, text B, text 3");
    EXPECT_EQ(indexed(caller, "1"), "int 1, text a, text 1");          // the index is converted to integer
    EXPECT_EQ(indexed(caller, Constant(2)), "int 1, text b, text 2");  // and is passed by value
    EXPECT_EQ(indexed(caller, 3), "int 1, text \xE9t\xE9, text high"); // bytes above 127 sort after ASCII
    for (const int32_t outside : {-1, 4, 1000})
        EXPECT_EQ(indexed(caller, outside), "int 0, text keep, int 7") << outside;
}

TEST(SetEnvVar, StoresTextUnderIdentifierSafeNames)
{
    FunctionCaller caller;
    EXPECT_EQ(resultOf(caller, kSetEnvVar, {"my-var", "v"}), "int 1");
    EXPECT_EQ(resultOf(caller, kEnvVar, {"my_var"}), "text v");
    EXPECT_EQ(resultOf(caller, kEnvVar, {"my-var"}), "null"); // lookups use the name as given
    EXPECT_EQ(resultOf(caller, kSetEnvVar, {"my-var", "w"}), "int 1");
    EXPECT_EQ(resultOf(caller, kSetEnvVar, {12, 3}), "int 1"); // a leading digit is rewritten
    EXPECT_EQ(resultOf(caller, kSetEnvVar, {"n", ArrayOf({Value(), Value()})}), "int 1");
    EXPECT_EQ(resultOf(caller, kSetEnvVar, {"f", 2.5}), "int 1");
    EXPECT_EQ(caller.vm().environment(),
              (VirtualMachine::Environment{{"my_var", "w"}, {"_2", "3"}, {"n", "2"}, {"f", "2.500000"}}));

    // An empty name (null converts to one) changes nothing; an empty value is stored.
    EXPECT_EQ(resultOf(caller, kSetEnvVar, {"", "v"}), "int -3");
    EXPECT_EQ(resultOf(caller, kSetEnvVar, {Value(), "v"}), "int -3");
    EXPECT_EQ(resultOf(caller, kNumEnvVar), "int 4");
    EXPECT_EQ(resultOf(caller, kSetEnvVar, {"A", ""}), "int 1");
    EXPECT_EQ(resultOf(caller, kEnvVar, {"A"}), "text ");
}

TEST(GlobalEnvVar, SharedBetweenScriptsAndApartFromTheProcessEnvironment)
{
    ASSERT_NE(std::getenv("PATH"), nullptr);
    FunctionCaller writer;
    FunctionCaller reader; // another script of the same process
    EXPECT_EQ(resultOf(reader, kGlobalEnvVar, {"PATH"}), "null");
    EXPECT_EQ(resultOf(reader, kGlobalEnvVar, {"globalenv-shared"}), "null");

    EXPECT_EQ(resultOf(writer, kSetGlobalEnvVar, {"globalenv-shared", "v1"}), "int 1");
    EXPECT_EQ(resultOf(reader, kGlobalEnvVar, {"globalenv-shared"}), "text v1");
    // Names are neither rewritten nor folded, and stay out of the script environment.
    EXPECT_EQ(resultOf(reader, kGlobalEnvVar, {"GLOBALENV-SHARED"}), "null");
    EXPECT_EQ(resultOf(writer, kEnvVar, {"globalenv-shared"}), "null");
    EXPECT_EQ(resultOf(writer, kSetGlobalEnvVar, {"globalenv-shared", 42}), "int 1");
    EXPECT_EQ(resultOf(reader, kGlobalEnvVar, {"globalenv-shared"}), "text 42");

    // An empty value reads as null; an empty name is refused.
    EXPECT_EQ(resultOf(writer, kSetGlobalEnvVar, {"globalenv-shared", ""}), "int 1");
    EXPECT_EQ(resultOf(reader, kGlobalEnvVar, {"globalenv-shared"}), "null");
    EXPECT_EQ(resultOf(writer, kSetGlobalEnvVar, {"", "v"}), "int -3");
    EXPECT_EQ(resultOf(reader, kGlobalEnvVar, {""}), "null");
}

TEST(GlobalEnvVar, ConcurrentScriptsKeepEveryStore)
{
    auto worker = [](const std::string& prefix)
    {
        FunctionCaller caller;
        for (int i = 0; i < 200; ++i)
            caller.call(kSetGlobalEnvVar, {prefix + std::to_string(i), i + 1});
    };
    std::thread a(worker, "globalenv-a-");
    std::thread b(worker, "globalenv-b-");
    a.join();
    b.join();
    FunctionCaller caller;
    for (int i = 0; i < 200; i += 37)
        for (const char* prefix : {"globalenv-a-", "globalenv-b-"})
            EXPECT_EQ(resultOf(caller, kGlobalEnvVar, {prefix + std::to_string(i)}), "text " + std::to_string(i + 1));
}
