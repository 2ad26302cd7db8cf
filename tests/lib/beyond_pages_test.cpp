// What a test page cannot set up: texts holding a zero byte (literals end at
// one and no function makes one), an image without function names, and
// scripts of one process side by side; and pop on an array that other values
// share. The rest of these functions is in
// tests/pages/lib.
#include "support/call_function.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace tn;
using namespace tn::test;
using namespace std::string_literals;

namespace
{
std::string shown(FunctionCaller& caller, int32_t id, const std::vector<CallArg>& args = {})
{
    const CallOutcome outcome = caller.call(id, args);
    EXPECT_TRUE(outcome.ok()) << outcome.message;
    return Shown(outcome.result);
}

constexpr int32_t kGlobalEnvVar = -4869, kSetGlobalEnvVar = -4870;
} // namespace

// Comparisons and the escaping functions stop at the first zero byte; every
// other text function treats it as a byte.
TEST(ZeroBytes, EndComparisonsAndEscapingOnly)
{
    FunctionCaller caller;
    const std::string ab = "a\0b"s, ac = "a\0c"s, zero = "\0"s;
    const struct
    {
        const char* name;
        int32_t id;
        std::vector<CallArg> args;
        std::string shown;
    } rows[] = {
        {"strcmp", -5378, {ab, ac}, "int 0"},
        {"strcmp", -5378, {ab, "a"}, "int 0"},
        {"strcmp", -5378, {"a", ab}, "int 0"},
        {"strcmp", -5378, {ab, "ab"}, "int -1"},
        {"strcmp", -5378, {zero, ""}, "int 0"},
        {"stricmp", -5379, {ab, "A"}, "int 0"},
        {"strncmp", -5380, {ab, ac, 3}, "int 0"},
        {"strnicmp", -5381, {ac, "A", 5}, "int 0"},
        {"strstr", -5382, {ab, "b"}, "int 2"},
        {"strrstr", -5383, {ab, zero}, "int 1"},
        {"strstr", -5382, {zero, zero}, "int 0"},
        {"strstr", -5382, {"ab", zero}, "int -1"},
        {"strrstr", -5383, {"a\0 b"s, " "}, "int 2"},
        {"strlen", -5377, {ab}, "int 3"},
        {"substr", -5408, {ab, 1, 2}, "text \0b"s},
        {"leftstr", -5409, {ab, 2}, "text a\0"s},
        {"rightstr", -5410, {ab, 2}, "text \0b"s},
        {"asc", -5411, {zero}, "int 0"},
        {"strtoupper", -5392, {ab}, "text A\0B"s},
        {"trim", -5394, {"\0 "s}, "text \0"s},
        {"ltrim", -5395, {" \0 "s}, "text \0 "s},
        {"trim", -5394, {" a\0b "s}, "text a\0b"s},
        {"trimquotes", -5397, {"'\0'"s}, "text \0"s},
        {"addquotes", -5398, {"a\0 b"s}, "text \"a\0 b\""s},
        {"addquotes", -5398, {"\0 "s}, "text \"\0 \""s},
        {"addquotes", -5398, {ab}, "text a\0b"s},
        {"tostring", -5126, {ab}, "text a\0b"s},
        {"toint", -5123, {"4\0002"s}, "int 4"},
        {"isvalidint", -5141, {"1\0"s}, "int 0"},
        {"escapestr", -5185, {"a\t\0\"b"s}, "text a\\t"},
        {"unescapestr", -5186, {"a\\\0n"s}, "text a"},
        {"escapetohtml", -5187, {"\\tb\0c"s}, "text \tb"},
        {"htmltoescape", -5188, {"\\\0\\"s}, "text \\\\"},
        {"texttohtml", -5189, {"<p>\0x"s}, "text <p>"},
        {"htmltotext", -5190, {"\0x"s}, "text "},
        {"urlencode", -5191, {"a b\0c"s}, "text a%20b"},
        {"urldecode", -5192, {"%41+\0%42"s}, "text A "},
        {"urlqueryencode", -5193, {"a b\0c"s}, "text a+b"},
        {"urlquerydecode", -5194, {"x%4\0001"s}, "text x"},
        {"urlencodestrict", -5197, {"a.b\0."s}, "text a%2Eb"},
        {"validateipaddress", -5195, {"1.2.3.4\0005"s}, "text 1.2.3.4"},
        {"escapeexport", -5196, {"a\nb\0\nc"s, 3}, "text a, b"},
        {"escapeexport", -5196, {"a\"\0\""s, 2}, "text a'"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(shown(caller, row.id, row.args), row.shown) << row.name;
}

TEST(FunctionNames, IsFuncDefFindsNothingInAnImageWithoutNames)
{
    FunctionCaller caller; // as an image loaded from a compiled file
    EXPECT_EQ(shown(caller, -5136, {"echo"}), "int 0");
    caller.functionSymbols = {{-4097, "echo"}};
    EXPECT_EQ(shown(caller, -5136, {"echo"}), "int 1");
}

TEST(GlobalEnvVar, SharedBetweenScriptsOfTheProcess)
{
    FunctionCaller writer;
    FunctionCaller reader;
    EXPECT_EQ(shown(writer, kSetGlobalEnvVar, {"globalenv-shared", "v1"}), "int 1");
    EXPECT_EQ(shown(reader, kGlobalEnvVar, {"globalenv-shared"}), "text v1");

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
    for (int i = 0; i < 200; i += 37)
        for (const char* prefix : {"globalenv-a-", "globalenv-b-"})
            EXPECT_EQ(shown(reader, kGlobalEnvVar, {prefix + std::to_string(i)}), "text " + std::to_string(i + 1));
}

TEST(Pop, EarlierCopiesKeepEveryElement)
{
    FunctionCaller caller;
    const Value original = ArrayOf({1, "b"});
    const CallOutcome outcome = caller.call(-5635, {original});
    EXPECT_EQ(Shown(outcome.result) + " " + Shown(outcome.arguments[0]), "text b array 1");
    EXPECT_EQ(Shown(original), "array 2");
}
