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

void expectText(const Value& v, std::string_view text)
{
    ASSERT_TRUE(v.isString()) << "type " << static_cast<int>(v.type());
    EXPECT_EQ(v.stringView(), text);
}

void expectInt(const Value& v, int32_t n)
{
    ASSERT_TRUE(v.isInteger()) << "type " << static_cast<int>(v.type());
    EXPECT_EQ(v.rawInt(), n);
}
} // namespace

TEST(EnvVar, ReadsStoredNamesExactly)
{
    FunctionCaller caller;
    caller.vm().environment()["Path_Info"] = "/x";
    caller.vm().environment()["5"] = "five";
    caller.vm().environment()["empty"] = "";

    expectText(caller.call(kEnvVar, {"Path_Info"}).result, "/x");
    EXPECT_TRUE(caller.call(kEnvVar, {"path_info"}).result.isNull()); // case-sensitive
    EXPECT_TRUE(caller.call(kEnvVar, {"missing"}).result.isNull());
    expectText(caller.call(kEnvVar, {5}).result, "five"); // the name is converted to text
    expectText(caller.call(kEnvVar, {"empty"}).result, "");
}

TEST(EnvVar, CountErrors)
{
    FunctionCaller caller;
    CallOutcome none = caller.call(kEnvVar);
    EXPECT_EQ(none.code, ereturnvalue::RuntimeError);
    EXPECT_EQ(none.message, "Runtime Error: Invalid call to envvar. Expecting 1 arguments, 0 were provided");
    EXPECT_EQ(caller.call(kNumEnvVar, {1}).message,
              "Runtime Error: Invalid call to numenvvar. Expecting 0 arguments, 1 were provided");
    EXPECT_EQ(caller.call(kSetEnvVar, {"a"}).message,
              "Runtime Error: Invalid call to setenvvar. Expecting 2 arguments, 1 were provided");
    EXPECT_EQ(caller.call(kGlobalEnvVar, {"a", "b"}).message,
              "Runtime Error: Invalid call to globalenvvar. Expecting 1 arguments, 2 were provided");
    EXPECT_EQ(caller.call(kSetGlobalEnvVar, {"a", "b", "c"}).message,
              "Runtime Error: Invalid call to setglobalenvvar. Expecting 2 arguments, 3 were provided");
}

TEST(NumEnvVar, CountsEntries)
{
    FunctionCaller caller;
    expectInt(caller.call(kNumEnvVar).result, 0);
    caller.vm().environment()["a"] = "1";
    caller.vm().environment()["b"] = "";
    expectInt(caller.call(kNumEnvVar).result, 2);
}

TEST(EnvVarIndex, WalksNamesInByteOrder)
{
    FunctionCaller caller;
    auto& env = caller.vm().environment();
    env["b"] = "2";
    env["a"] = "1";
    env["B"] = "3";
    env["\xE9t\xE9"] = "high"; // bytes above 127 sort after ASCII

    CallOutcome first = caller.call(kEnvVarIndex, {0, Value(), Value()});
    ASSERT_TRUE(first.ok()) << first.message;
    expectInt(first.result, 1);
    expectText(first.arguments[1], "B");
    expectText(first.arguments[2], "3");

    CallOutcome second = caller.call(kEnvVarIndex, {"1", 0, 0}); // the index is converted to integer
    expectText(second.arguments[1], "a");
    expectText(second.arguments[2], "1");

    CallOutcome last = caller.call(kEnvVarIndex, {3, Value(), Value()});
    expectInt(last.result, 1);
    expectText(last.arguments[1], "\xE9t\xE9");
    expectText(last.arguments[2], "high");
}

TEST(EnvVarIndex, OutOfRangeLeavesOutputsUnchanged)
{
    FunctionCaller caller;
    caller.vm().environment()["a"] = "1";
    for (int32_t index : {-1, 1, 1000})
    {
        CallOutcome outcome = caller.call(kEnvVarIndex, {index, "keep", 7});
        ASSERT_TRUE(outcome.ok()) << outcome.message;
        expectInt(outcome.result, 0);
        expectText(outcome.arguments[1], "keep");
        expectInt(outcome.arguments[2], 7);
    }
    expectInt(FunctionCaller().call(kEnvVarIndex, {0, "keep", 7}).result, 0); // empty environment
}

TEST(EnvVarIndex, MachineChecksCountAndVariables)
{
    FunctionCaller caller;
    caller.vm().environment()["a"] = "1";
    EXPECT_EQ(caller.call(kEnvVarIndex, {0, Value()}).message,
              "Runtime Error: Invalid number of function arguments. Expected 3, actual 2");
    EXPECT_EQ(caller.call(kEnvVarIndex, {0, Value(), Value(), Value()}).message,
              "Runtime Error: Invalid number of function arguments. Expected 3, actual 4");
    EXPECT_EQ(caller.call(kEnvVarIndex, {0, Constant("x"), Value()}).message,
              "Runtime Error: Invalid function argument 2. Must be a variable");
    EXPECT_EQ(caller.call(kEnvVarIndex, {0, Value(), Constant(1)}).message,
              "Runtime Error: Invalid function argument 3. Must be a variable");
    // The index itself is by value and may be a constant.
    CallOutcome outcome = caller.call(kEnvVarIndex, {Constant(0), Value(), Value()});
    ASSERT_TRUE(outcome.ok()) << outcome.message;
    expectText(outcome.arguments[1], "a");
}

TEST(SetEnvVar, StoresUnderIdentifierSafeName)
{
    FunctionCaller caller;
    expectInt(caller.call(kSetEnvVar, {"my-var", "v"}).result, 1);
    expectText(caller.call(kEnvVar, {"my_var"}).result, "v");
    EXPECT_TRUE(caller.call(kEnvVar, {"my-var"}).result.isNull()); // lookups use the name as given

    expectInt(caller.call(kSetEnvVar, {12, 3}).result, 1); // a leading digit is rewritten
    expectText(caller.call(kEnvVar, {"_2"}).result, "3");

    expectInt(caller.call(kSetEnvVar, {"my-var", "w"}).result, 1);
    expectText(caller.call(kEnvVar, {"my_var"}).result, "w");
    expectInt(caller.call(kNumEnvVar).result, 2);
}

TEST(SetEnvVar, EmptyNameAndEmptyValue)
{
    FunctionCaller caller;
    expectInt(caller.call(kSetEnvVar, {"", "v"}).result, -3);
    expectInt(caller.call(kSetEnvVar, {Value(), "v"}).result, -3); // null converts to the empty name
    EXPECT_TRUE(caller.vm().environment().empty());

    expectInt(caller.call(kSetEnvVar, {"A", ""}).result, 1);
    expectText(caller.call(kEnvVar, {"A"}).result, "");
}

TEST(SetEnvVar, ValuesAreConvertedToText)
{
    FunctionCaller caller;
    caller.call(kSetEnvVar, {"n", ArrayOf({Value(), Value()})});
    caller.call(kSetEnvVar, {"f", 2.5});
    EXPECT_EQ(caller.vm().environment()["n"], "2");
    EXPECT_EQ(caller.vm().environment()["f"], "2.500000");
}

TEST(GlobalEnvVar, StartsEmptyAndIgnoresTheProcessEnvironment)
{
    ASSERT_NE(std::getenv("PATH"), nullptr);
    FunctionCaller caller;
    EXPECT_TRUE(caller.call(kGlobalEnvVar, {"PATH"}).result.isNull());
    EXPECT_TRUE(caller.call(kGlobalEnvVar, {"globalenv-never-set"}).result.isNull());
}

TEST(GlobalEnvVar, SharedBetweenScripts)
{
    FunctionCaller writer;
    expectInt(writer.call(kSetGlobalEnvVar, {"globalenv-shared", "v1"}).result, 1);

    FunctionCaller reader; // another script of the same process
    expectText(reader.call(kGlobalEnvVar, {"globalenv-shared"}).result, "v1");
    // Names are neither rewritten nor folded.
    EXPECT_TRUE(reader.call(kGlobalEnvVar, {"GLOBALENV-SHARED"}).result.isNull());
    EXPECT_TRUE(reader.call(kEnvVar, {"globalenv-shared"}).result.isNull()); // not in the script environment

    expectInt(writer.call(kSetGlobalEnvVar, {"globalenv-shared", 42}).result, 1);
    expectText(reader.call(kGlobalEnvVar, {"globalenv-shared"}).result, "42");
}

TEST(GlobalEnvVar, EmptyValueReadsAsNullAndEmptyNameIsRejected)
{
    FunctionCaller caller;
    expectInt(caller.call(kSetGlobalEnvVar, {"globalenv-empty", ""}).result, 1);
    EXPECT_TRUE(caller.call(kGlobalEnvVar, {"globalenv-empty"}).result.isNull());
    expectInt(caller.call(kSetGlobalEnvVar, {"", "v"}).result, -3);
    EXPECT_TRUE(caller.call(kGlobalEnvVar, {""}).result.isNull());
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
    {
        expectText(caller.call(kGlobalEnvVar, {"globalenv-a-" + std::to_string(i)}).result, std::to_string(i + 1));
        expectText(caller.call(kGlobalEnvVar, {"globalenv-b-" + std::to_string(i)}).result, std::to_string(i + 1));
    }
}
