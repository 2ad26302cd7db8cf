#include "support/call_function.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

namespace
{
constexpr int32_t kStrlen = -5377;
constexpr int32_t kSubstr = -5408;
} // namespace

TEST(StringFunctions, StrlenMeasuresTheTextFormAndSubstrCutsBytes)
{
    FunctionCaller caller;
    const std::pair<CallArg, int32_t> lengths[] = {
        {"hello", 5}, {Value::string(std::string_view("a\0b", 3)), 3},       {1234, 4},
        {Value(), 0}, {ArrayOf({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), 2}, // "12"
        {2.5, 8},                                                            // "2.500000"
    };
    for (const auto& [arg, length] : lengths)
        EXPECT_EQ(Shown(caller.call(kStrlen, {arg}).result), "int " + std::to_string(length));

    const struct
    {
        CallArg text;
        int32_t start, count;
        const char* piece;
    } cuts[] = {{"hello", -3, 2, "he"},    {"hello", 5, 2, ""}, {"hello", 1, -1, "ello"},
                {"hello", 1, 100, "ello"}, {"hello", 1, 0, ""}, {12345, 1, 2, "23"}};
    for (const auto& cut : cuts)
        EXPECT_EQ(Shown(caller.call(kSubstr, {cut.text, cut.start, cut.count}).result),
                  std::string("text ") + cut.piece);

    EXPECT_EQ(caller.call(kStrlen, {"a", "b"}).message,
              "Runtime Error: Invalid call to strlen. Expecting 1 arguments, 2 were provided");
    EXPECT_EQ(caller.call(kSubstr, {"a", 1}).message,
              "Runtime Error: Invalid call to substr. Expecting 3 arguments, 2 were provided");
}
