#include "support/call_function.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace tn;
using namespace tn::test;

namespace
{
constexpr int32_t kType = -5121;
constexpr int32_t kToNull = -5122;
constexpr int32_t kToInt = -5123;
constexpr int32_t kToFlags = -5124;
constexpr int32_t kToArray = -5125;
constexpr int32_t kToString = -5126;
constexpr int32_t kToDate = -5127;
constexpr int32_t kToFloat = -5128;
constexpr int32_t kIsBlank = -5129;
constexpr int32_t kIsFuncDef = -5136;
constexpr int32_t kIsValidInt = -5141;
constexpr int32_t kIsValidPositiveInt = -5142;
constexpr int32_t kIsValidIdentifier = -5143;
constexpr int32_t kIsValidIdentifierAllowWs = -5144;

constexpr const char* kSampleHttp = "Sun, 06 Nov 1994 08:49:37 GMT";

Value sampleDate()
{
    DateValue d;
    d.parseHttp(kSampleHttp);
    return Value::date(d);
}

class TypeFunctions : public ::testing::Test
{
  protected:
    std::string shown(int32_t id, std::vector<CallArg> args = {})
    {
        const CallOutcome outcome = caller.call(id, std::move(args));
        EXPECT_TRUE(outcome.ok()) << outcome.message;
        return Shown(outcome.result);
    }
    std::string errorOf(int32_t id, std::vector<CallArg> args)
    {
        const CallOutcome outcome = caller.call(id, std::move(args));
        EXPECT_EQ(outcome.code, ereturnvalue::RuntimeError);
        return outcome.message;
    }

    FunctionCaller caller;
};
} // namespace

TEST_F(TypeFunctions, TypeAndEmptyConversions)
{
    const std::pair<CallArg, int> types[] = {
        {Value(), 0}, {5, 1}, {Value::flags(5), 2}, {ArrayOf({}), 3}, {"5", 4}, {sampleDate(), 6}, {2.5, 7}};
    for (const auto& [arg, code] : types)
        EXPECT_EQ(shown(kType, {arg}), "int " + std::to_string(code));
    EXPECT_EQ(shown(kToNull), "null");
    EXPECT_EQ(shown(kToInt), "int 0");
    EXPECT_EQ(shown(kToFlags), "flags 0");
    EXPECT_EQ(shown(kToArray), "array 0");
    EXPECT_EQ(shown(kToString), "text ");
    EXPECT_EQ(shown(kToDate), "date BLANK");
    EXPECT_EQ(shown(kToFloat), "float 0");
    EXPECT_EQ(shown(kIsBlank, {caller.call(kToDate).result}), "int 1");
}

// One source value per row, one function per column. The conversions
// themselves are the Value's; these rows show each function's wiring.
TEST_F(TypeFunctions, ConversionsOfEverySourceType)
{
    caller.vm().dateSettings() = DateDisplaySettings{2, false};
    const std::string sample = std::string("date ") + kSampleHttp;
    const struct
    {
        CallArg arg;
        std::string toInt, toFloat, toString, toDate, toArray; // toflags keeps toint's bits
    } rows[] = {
        {Value(), "int 0", "float 0", "text ", "date BLANK", "array 0"},
        {-3, "int -3", "float -3", "text -3", "date BLANK", "array 0"},
        {Value::flags(-1), "int -1", "float 4294967295", "text -1", "date BLANK", "array 0"},
        {ArrayOf({1, 2, 3}), "int 3", "float 3", "text 3", "date BLANK", "array 3"},
        {" 42abc", "int 42", "float 42", "text  42abc", "date BLANK", "array 0"},
        {"abc", "int 0", "float 0", "text abc", "date BLANK", "array 0"},
        {kSampleHttp, "int 0", "float 0", std::string("text ") + kSampleHttp, sample, "array 0"},
        {std::string("a\0b", 3), "int 0", "float 0", std::string("text a\0b", 8), "date BLANK", "array 0"},
        // Dates show with the machine's display settings, not the plain GMT form.
        {sampleDate(), "int 0", "float 0", "text 11/6/1994 8:49:37 AM", sample, "array 0"},
        {2.5, "int 2", "float 2.5", "text 2.500000", "date BLANK", "array 0"},
        {-2.75, "int -2", "float -2.75", "text -2.750000", "date BLANK", "array 0"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(Shown(row.arg.value));
        EXPECT_EQ(shown(kToInt, {row.arg}), row.toInt);
        EXPECT_EQ(shown(kToFlags, {row.arg}), "flags " + row.toInt.substr(4));
        EXPECT_EQ(shown(kToFloat, {row.arg}), row.toFloat);
        EXPECT_EQ(shown(kToString, {row.arg}), row.toString);
        EXPECT_EQ(shown(kToDate, {row.arg}), row.toDate);
        EXPECT_EQ(shown(kToArray, {row.arg}), row.toArray);
    }
    caller.vm().dateSettings() = DateDisplaySettings{0, false};
    EXPECT_EQ(shown(kToString, {sampleDate()}), "text 11/6/1994");

    const Value copy = caller.call(kToArray, {ArrayOf({1, "b", ArrayOf({2})})}).result;
    ASSERT_TRUE(copy.isArray());
    ASSERT_EQ(copy.arrayItems().count(), 3);
    EXPECT_EQ(Shown(copy.arrayItems()[0]) + "," + Shown(copy.arrayItems()[1]) + "," + Shown(copy.arrayItems()[2]),
              "int 1,text b,array 1");
}

// Values grouped by their results from isblank, isvalidint, isvalidpositiveint,
// isvalididentifier and isvalididentifierallowws, in that order.
TEST_F(TypeFunctions, BlankAndValidityTests)
{
    caller.vm().dateSettings() = DateDisplaySettings{2, false};
    const std::pair<const char*, std::vector<CallArg>> groups[] = {
        {"10000", {Value(), "", 0.0, -0.0, Value::date(DateValue())}},
        {"11111", {0}},
        {"01011", {-1}}, // valid, but not positive
        {"01111", {2147483647, "0", "123456789", "000000001", 42}},
        {"10011", {Value::flags(0), ArrayOf({})}},
        // Ten digits may not fit; no rule about the first character; a NaN is not blank and prints as nan.
        {"00011", {Value::flags(8), ArrayOf({Value()}), "1234567890", "-5", std::nan(""), "ab-_9", "9lives", "-"}},
        {"00001", {" 5", "5 ", "a b", " a "}},
        {"00000",
         {"+5", "1.0", std::string("1\0", 2), 5.0, 0.001, sampleDate(), "   ", "a.b", "caf\xE9", 1.5, "a\tb", "a\nb"}},
    };
    const int32_t ids[] = {kIsBlank, kIsValidInt, kIsValidPositiveInt, kIsValidIdentifier, kIsValidIdentifierAllowWs};
    for (const auto& [expected, args] : groups)
        for (const CallArg& arg : args)
        {
            std::string results;
            for (const int32_t id : ids)
            {
                const std::string result = shown(id, {arg});
                results += result == "int 1" ? '1' : result == "int 0" ? '0' : '?';
            }
            EXPECT_EQ(results, expected) << Shown(arg.value);
        }
}

TEST_F(TypeFunctions, IsFuncDefLooksUpTrimmedNamesCaseSensitively)
{
    caller.functionSymbols = {{-4097, "echo"}, {1001, "myfunc"}};
    for (const char* name : {"myfunc", " myfunc ", "\r\n\tmyfunc \t\n", "echo"})
        EXPECT_EQ(shown(kIsFuncDef, {name}), "int 1") << name;
    for (CallArg name :
         {CallArg("MyFunc"), CallArg("my func"), CallArg("other"), CallArg(""), CallArg(" \t\r\n"), CallArg(Value())})
        EXPECT_EQ(shown(kIsFuncDef, {name}), "int 0") << Shown(name.value);
    caller.functionSymbols.clear(); // an image loaded from a compiled file has no names
    EXPECT_EQ(shown(kIsFuncDef, {"echo"}), "int 0");
}
