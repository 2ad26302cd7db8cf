#include "support/call_function.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

namespace
{
constexpr int32_t kStrlen = -5377;
constexpr int32_t kSubstr = -5408;
} // namespace

TEST(Strlen, MeasuresTheTextForm)
{
    FunctionCaller caller;
    EXPECT_EQ(caller.call(kStrlen, {"hello"}).result.toInt(), 5);
    EXPECT_EQ(caller.call(kStrlen, {Value::string(std::string_view("a\0b", 3))}).result.toInt(), 3);
    EXPECT_EQ(caller.call(kStrlen, {1234}).result.toInt(), 4);
    EXPECT_EQ(caller.call(kStrlen, {Value()}).result.toInt(), 0);
    EXPECT_EQ(caller.call(kStrlen, {ArrayOf({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})}).result.toInt(), 2);
    EXPECT_EQ(caller.call(kStrlen, {2.5}).result.toInt(), 8); // "2.500000"
    EXPECT_EQ(caller.call(kStrlen, {"a", "b"}).message,
              "Runtime Error: Invalid call to strlen. Expecting 1 arguments, 2 were provided");
}

TEST(Substr, CutsByByteOffsets)
{
    FunctionCaller caller;
    auto sub = [&](CallArg text, int32_t start, int32_t count) {
        return std::string(caller.call(kSubstr, {std::move(text), start, count}).result.stringView());
    };
    EXPECT_EQ(sub("hello", -3, 2), "he");
    EXPECT_EQ(sub("hello", 5, 2), "");
    EXPECT_EQ(sub("hello", 1, -1), "ello");
    EXPECT_EQ(sub("hello", 1, 100), "ello");
    EXPECT_EQ(sub("hello", 1, 0), "");
    EXPECT_EQ(sub(12345, 1, 2), "23");
    EXPECT_EQ(caller.call(kSubstr, {"a", 1}).message,
              "Runtime Error: Invalid call to substr. Expecting 3 arguments, 2 were provided");
}
