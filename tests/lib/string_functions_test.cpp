#include "support/call_function.h"

#include <gtest/gtest.h>

#include <string>

using namespace tn;
using namespace tn::test;
using namespace std::string_literals;

namespace
{
constexpr int32_t kStrlen = -5377;
constexpr int32_t kSubstr = -5408;
constexpr int32_t kStrcmp = -5378, kStricmp = -5379, kStrncmp = -5380, kStrnicmp = -5381;
constexpr int32_t kStrstr = -5382, kStrrstr = -5383, kStrtoupper = -5392, kTrim = -5394, kLtrim = -5395;
constexpr int32_t kTrimquotes = -5397, kAddquotes = -5398, kLeftstr = -5409, kRightstr = -5410, kAsc = -5411;
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

// Scripts cannot make a zero byte yet (literals end at one, URL decoding
// turns it into "_"), so this is the only place that reaches it: comparisons
// stop at the first zero byte, every other function treats it as a byte.
TEST(StringFunctions, ZeroBytesEndComparisonsOnly)
{
    FunctionCaller caller;
    const std::string ab = "a\0b"s, ac = "a\0c"s, zero = "\0"s;
    const struct
    {
        int32_t id;
        std::vector<CallArg> args;
        std::string shown;
    } cases[] = {
        {kStrcmp, {ab, ac}, "int 0"},
        {kStrcmp, {ab, "a"}, "int 0"},
        {kStrcmp, {"a", ab}, "int 0"},
        {kStrcmp, {ab, "ab"}, "int -1"},
        {kStrcmp, {zero, ""}, "int 0"},
        {kStricmp, {ab, "A"}, "int 0"},
        {kStrncmp, {ab, ac, 3}, "int 0"},
        {kStrnicmp, {ac, "A", 5}, "int 0"},
        {kStrstr, {ab, "b"}, "int 2"},
        {kStrrstr, {ab, zero}, "int 1"},
        {kStrstr, {zero, zero}, "int 0"},
        {kStrstr, {"ab", zero}, "int -1"},
        {kStrrstr, {"a\0 b"s, " "}, "int 2"},
        {kStrlen, {ab}, "int 3"},
        {kSubstr, {ab, 1, 2}, "text \0b"s},
        {kLeftstr, {ab, 2}, "text a\0"s},
        {kRightstr, {ab, 2}, "text \0b"s},
        {kAsc, {zero}, "int 0"},
        {kStrtoupper, {ab}, "text A\0B"s},
        {kTrim, {"\0 "s}, "text \0"s},
        {kLtrim, {" \0 "s}, "text \0 "s},
        {kTrim, {" a\0b "s}, "text a\0b"s},
        {kTrimquotes, {"'\0'"s}, "text \0"s},
        {kAddquotes, {"a\0 b"s}, "text \"a\0 b\""s},
        {kAddquotes, {"\0 "s}, "text \"\0 \""s},
        {kAddquotes, {ab}, "text a\0b"s},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(Shown(caller.call(c.id, c.args).result), c.shown);
    }
}
