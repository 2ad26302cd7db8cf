#include "support/call_function.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

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

// 6 November 1994 08:49:37 GMT, a Sunday.
Value sampleDate()
{
    DateValue d;
    d.year = 1994;
    d.month = 11;
    d.day = 6;
    d.hour = 8;
    d.minute = 49;
    d.second = 37;
    d.dayOfWeek = 7;
    d.isGmt = true;
    return Value::date(d);
}

Value blankDate()
{
    return Value::date(DateValue());
}

class TypeFunctions : public ::testing::Test
{
protected:
    Value call(int32_t id, std::vector<CallArg> args = {})
    {
        CallOutcome outcome = caller.call(id, std::move(args));
        EXPECT_TRUE(outcome.ok()) << outcome.message;
        return outcome.result;
    }
    int32_t intResult(int32_t id, std::vector<CallArg> args)
    {
        const Value v = call(id, std::move(args));
        EXPECT_TRUE(v.isInteger()) << "type " << static_cast<int>(v.type());
        return v.rawInt();
    }
    std::string textResult(int32_t id, std::vector<CallArg> args)
    {
        const Value v = call(id, std::move(args));
        EXPECT_TRUE(v.isString()) << "type " << static_cast<int>(v.type());
        return v.isString() ? std::string(v.stringView()) : std::string();
    }
    std::string errorOf(int32_t id, std::vector<CallArg> args)
    {
        CallOutcome outcome = caller.call(id, std::move(args));
        EXPECT_EQ(outcome.code, ereturnvalue::RuntimeError);
        return outcome.message;
    }

    FunctionCaller caller;
};
} // namespace

TEST_F(TypeFunctions, TypeGivesTheUnconvertedCode)
{
    EXPECT_EQ(intResult(kType, {Value()}), 0);
    EXPECT_EQ(intResult(kType, {5}), 1);
    EXPECT_EQ(intResult(kType, {Value::flags(5)}), 2);
    EXPECT_EQ(intResult(kType, {ArrayOf({})}), 3);
    EXPECT_EQ(intResult(kType, {"5"}), 4);
    EXPECT_EQ(intResult(kType, {sampleDate()}), 6);
    EXPECT_EQ(intResult(kType, {2.5}), 7);
    EXPECT_EQ(errorOf(kType, {}), "Runtime Error: Invalid call to type. Expecting 1 arguments, 0 were provided");
}

TEST_F(TypeFunctions, ToNull)
{
    EXPECT_TRUE(call(kToNull).isNull());
    EXPECT_EQ(errorOf(kToNull, {1}), "Runtime Error: Invalid call to tonull. Expecting 0 arguments, 1 were provided");
}

TEST_F(TypeFunctions, ConversionsWithoutArgumentGiveEmptyValues)
{
    const Value i = call(kToInt);
    ASSERT_TRUE(i.isInteger());
    EXPECT_EQ(i.rawInt(), 0);

    const Value f = call(kToFlags);
    ASSERT_EQ(f.type(), ValueType::Flags);
    EXPECT_EQ(f.rawInt(), 0);

    const Value a = call(kToArray);
    ASSERT_TRUE(a.isArray());
    EXPECT_EQ(a.arrayItems().count(), 0);

    const Value s = call(kToString);
    ASSERT_TRUE(s.isString());
    EXPECT_EQ(s.stringView(), "");

    const Value d = call(kToDate);
    ASSERT_TRUE(d.isDate());
    EXPECT_TRUE(d.dateValue().isBlank());
    EXPECT_EQ(intResult(kIsBlank, {d}), 1);

    const Value x = call(kToFloat);
    ASSERT_TRUE(x.isFloat());
    EXPECT_EQ(x.rawFloat(), 0.0);
}

TEST_F(TypeFunctions, ConversionCountErrorsNameTheFamily)
{
    for (int32_t id : {kToInt, kToFlags, kToArray, kToString, kToDate, kToFloat})
        EXPECT_EQ(errorOf(id, {1, 2}),
                  "Runtime Error: Invalid call to totype. Expecting 1 arguments, 2 were provided")
            << id;
    EXPECT_EQ(errorOf(kToInt, {1, 2, 3}),
              "Runtime Error: Invalid call to totype. Expecting 1 arguments, 3 were provided");
}

TEST_F(TypeFunctions, ToIntAndToFlags)
{
    EXPECT_EQ(intResult(kToInt, {" 42abc"}), 42);
    EXPECT_EQ(intResult(kToInt, {"abc"}), 0);
    EXPECT_EQ(intResult(kToInt, {"-17"}), -17);
    EXPECT_EQ(intResult(kToInt, {"99999999999"}), 2147483647); // saturates like a 32-bit atoi
    EXPECT_EQ(intResult(kToInt, {"-99999999999"}), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(intResult(kToInt, {-2.7}), -2);
    EXPECT_EQ(intResult(kToInt, {2.7}), 2);
    EXPECT_EQ(intResult(kToInt, {ArrayOf({1, 2, 3})}), 3);
    EXPECT_EQ(intResult(kToInt, {sampleDate()}), 0);
    EXPECT_EQ(intResult(kToInt, {Value()}), 0);
    EXPECT_EQ(intResult(kToInt, {Value::flags(-1)}), -1);

    const Value flags = call(kToFlags, {-1});
    ASSERT_EQ(flags.type(), ValueType::Flags);
    EXPECT_EQ(flags.rawInt(), -1);
    const Value fromText = call(kToFlags, {"7 days"});
    ASSERT_EQ(fromText.type(), ValueType::Flags);
    EXPECT_EQ(fromText.rawInt(), 7);
}

TEST_F(TypeFunctions, ToFloat)
{
    auto floatOf = [this](CallArg arg)
    {
        const Value v = call(kToFloat, {std::move(arg)});
        EXPECT_TRUE(v.isFloat());
        return v.isFloat() ? v.rawFloat() : -12345.0;
    };
    EXPECT_EQ(floatOf(Value::flags(-1)), 4294967295.0); // flags read unsigned
    EXPECT_EQ(floatOf(-3), -3.0);
    EXPECT_EQ(floatOf(" 2.5xyz"), 2.5);
    EXPECT_EQ(floatOf("1e3"), 1000.0);
    EXPECT_EQ(floatOf("abc"), 0.0);
    EXPECT_EQ(floatOf(ArrayOf({1, 2})), 2.0);
    EXPECT_EQ(floatOf(sampleDate()), 0.0);
    EXPECT_EQ(floatOf(Value()), 0.0);
    EXPECT_EQ(floatOf(-0.25), -0.25);
}

TEST_F(TypeFunctions, ToStringUsesTheGeneralTextForm)
{
    EXPECT_EQ(textResult(kToString, {ArrayOf({1, 2, 3})}), "3");
    EXPECT_EQ(textResult(kToString, {-12}), "-12");
    EXPECT_EQ(textResult(kToString, {Value::flags(-1)}), "-1"); // flags print signed
    EXPECT_EQ(textResult(kToString, {2.5}), "2.500000");
    EXPECT_EQ(textResult(kToString, {Value()}), "");
    EXPECT_EQ(textResult(kToString, {std::string("a\0b", 3)}), std::string("a\0b", 3));

    // Dates follow the machine's display settings, not the plain GMT form.
    caller.vm().dateSettings() = DateDisplaySettings{0, false};
    EXPECT_EQ(textResult(kToString, {sampleDate()}), "11/6/1994");
    caller.vm().dateSettings() = DateDisplaySettings{2, false};
    EXPECT_EQ(textResult(kToString, {sampleDate()}), "11/6/1994 8:49:37 AM");
}

TEST_F(TypeFunctions, ToDate)
{
    const Value parsed = call(kToDate, {"Sun, 06 Nov 1994 08:49:37 GMT"});
    ASSERT_TRUE(parsed.isDate());
    const DateValue& d = parsed.dateValue();
    EXPECT_EQ(d.year, 1994);
    EXPECT_EQ(d.month, 11);
    EXPECT_EQ(d.day, 6);
    EXPECT_EQ(d.hour, 8);
    EXPECT_EQ(d.minute, 49);
    EXPECT_EQ(d.second, 37);

    for (CallArg arg : {CallArg("not a date"), CallArg(5), CallArg(2.5), CallArg(ArrayOf({1})), CallArg(Value())})
    {
        const Value v = call(kToDate, {arg});
        ASSERT_TRUE(v.isDate()) << static_cast<int>(arg.value.type());
        EXPECT_TRUE(v.dateValue().isBlank()) << static_cast<int>(arg.value.type());
    }

    const Value copy = call(kToDate, {sampleDate()});
    ASSERT_TRUE(copy.isDate());
    EXPECT_TRUE(copy.dateValue() == sampleDate().dateValue());
}

TEST_F(TypeFunctions, ToArray)
{
    const Value source = ArrayOf({1, Value::string("b"), ArrayOf({2})});
    const Value copy = call(kToArray, {source});
    ASSERT_TRUE(copy.isArray());
    ASSERT_EQ(copy.arrayItems().count(), 3);
    EXPECT_EQ(copy.arrayItems()[0].rawInt(), 1);
    EXPECT_EQ(copy.arrayItems()[1].stringView(), "b");
    EXPECT_TRUE(copy.arrayItems()[2].isArray());

    for (CallArg arg : {CallArg(7), CallArg("1,2"), CallArg(sampleDate()), CallArg(Value())})
    {
        const Value v = call(kToArray, {arg});
        ASSERT_TRUE(v.isArray());
        EXPECT_EQ(v.arrayItems().count(), 0);
    }
}

TEST_F(TypeFunctions, IsBlank)
{
    EXPECT_EQ(intResult(kIsBlank, {Value()}), 1);
    EXPECT_EQ(intResult(kIsBlank, {0}), 1);
    EXPECT_EQ(intResult(kIsBlank, {-1}), 0);
    EXPECT_EQ(intResult(kIsBlank, {Value::flags(0)}), 1);
    EXPECT_EQ(intResult(kIsBlank, {Value::flags(8)}), 0);
    EXPECT_EQ(intResult(kIsBlank, {ArrayOf({})}), 1);
    EXPECT_EQ(intResult(kIsBlank, {ArrayOf({Value()})}), 0);
    EXPECT_EQ(intResult(kIsBlank, {""}), 1);
    EXPECT_EQ(intResult(kIsBlank, {"0"}), 0);
    EXPECT_EQ(intResult(kIsBlank, {0.0}), 1);
    EXPECT_EQ(intResult(kIsBlank, {-0.0}), 1);
    EXPECT_EQ(intResult(kIsBlank, {0.001}), 0);
    EXPECT_EQ(intResult(kIsBlank, {std::nan("")}), 0);
    EXPECT_EQ(intResult(kIsBlank, {blankDate()}), 1);
    EXPECT_EQ(intResult(kIsBlank, {sampleDate()}), 0);
    EXPECT_EQ(errorOf(kIsBlank, {1, 2}),
              "Runtime Error: Invalid call to isblank. Expecting 1 arguments, 2 were provided");
}

TEST_F(TypeFunctions, IsFuncDefLooksUpTrimmedNamesCaseSensitively)
{
    caller.functionSymbols = {{-4097, "echo"}, {1001, "myfunc"}};
    EXPECT_EQ(intResult(kIsFuncDef, {"myfunc"}), 1);
    EXPECT_EQ(intResult(kIsFuncDef, {" myfunc "}), 1);
    EXPECT_EQ(intResult(kIsFuncDef, {"\r\n\tmyfunc \t\n"}), 1);
    EXPECT_EQ(intResult(kIsFuncDef, {"echo"}), 1);
    EXPECT_EQ(intResult(kIsFuncDef, {"MyFunc"}), 0);
    EXPECT_EQ(intResult(kIsFuncDef, {"my func"}), 0);
    EXPECT_EQ(intResult(kIsFuncDef, {"other"}), 0);
    EXPECT_EQ(intResult(kIsFuncDef, {""}), 0);
    EXPECT_EQ(intResult(kIsFuncDef, {" \t\r\n"}), 0);
    EXPECT_EQ(intResult(kIsFuncDef, {Value()}), 0);

    caller.functionSymbols.clear(); // an image loaded from a compiled file has no names
    EXPECT_EQ(intResult(kIsFuncDef, {"echo"}), 0);
    EXPECT_EQ(errorOf(kIsFuncDef, {}),
              "Runtime Error: Invalid call to isfuncdef. Expecting 1 arguments, 0 were provided");
}

TEST_F(TypeFunctions, IsValidIntAcceptsIntegersAndShortDigitTexts)
{
    for (int32_t id : {kIsValidInt, kIsValidPositiveInt})
    {
        EXPECT_EQ(intResult(id, {"123456789"}), 1) << id;
        EXPECT_EQ(intResult(id, {"0"}), 1) << id;
        EXPECT_EQ(intResult(id, {"000000001"}), 1) << id;
        EXPECT_EQ(intResult(id, {"1234567890"}), 0) << id;
        EXPECT_EQ(intResult(id, {""}), 0) << id;
        EXPECT_EQ(intResult(id, {"+5"}), 0) << id;
        EXPECT_EQ(intResult(id, {"-5"}), 0) << id;
        EXPECT_EQ(intResult(id, {" 5"}), 0) << id;
        EXPECT_EQ(intResult(id, {"5 "}), 0) << id;
        EXPECT_EQ(intResult(id, {"1.0"}), 0) << id;
        EXPECT_EQ(intResult(id, {std::string("1\0", 2)}), 0) << id;
        EXPECT_EQ(intResult(id, {5.0}), 0) << id;
        EXPECT_EQ(intResult(id, {Value()}), 0) << id;
        EXPECT_EQ(intResult(id, {Value::flags(5)}), 0) << id;
        EXPECT_EQ(intResult(id, {ArrayOf({1})}), 0) << id;
        EXPECT_EQ(intResult(id, {sampleDate()}), 0) << id;
        EXPECT_EQ(intResult(id, {2147483647}), 1) << id;
    }
    EXPECT_EQ(intResult(kIsValidInt, {-5}), 1);
    EXPECT_EQ(intResult(kIsValidPositiveInt, {-1}), 0);
    EXPECT_EQ(intResult(kIsValidPositiveInt, {0}), 1);
    EXPECT_EQ(errorOf(kIsValidPositiveInt, {}),
              "Runtime Error: Invalid call to isvalidint. Expecting 1 arguments, 0 were provided");
}

TEST_F(TypeFunctions, IsValidIdentifier)
{
    EXPECT_EQ(intResult(kIsValidIdentifier, {"ab-_9"}), 1);
    EXPECT_EQ(intResult(kIsValidIdentifier, {"9lives"}), 1); // no rule about the first character
    EXPECT_EQ(intResult(kIsValidIdentifier, {"-"}), 1);
    EXPECT_EQ(intResult(kIsValidIdentifier, {42}), 1); // converted to text
    EXPECT_EQ(intResult(kIsValidIdentifier, {"a b"}), 0);
    EXPECT_EQ(intResult(kIsValidIdentifier, {""}), 0);
    EXPECT_EQ(intResult(kIsValidIdentifier, {Value()}), 0);
    EXPECT_EQ(intResult(kIsValidIdentifier, {"a.b"}), 0);
    EXPECT_EQ(intResult(kIsValidIdentifier, {"caf\xE9"}), 0);
    EXPECT_EQ(intResult(kIsValidIdentifier, {1.5}), 0); // "1.500000"

    EXPECT_EQ(intResult(kIsValidIdentifierAllowWs, {"a b"}), 1);
    EXPECT_EQ(intResult(kIsValidIdentifierAllowWs, {" a "}), 1);
    EXPECT_EQ(intResult(kIsValidIdentifierAllowWs, {"   "}), 0);
    EXPECT_EQ(intResult(kIsValidIdentifierAllowWs, {"a\tb"}), 0);
    EXPECT_EQ(intResult(kIsValidIdentifierAllowWs, {"a\nb"}), 0);
    EXPECT_EQ(intResult(kIsValidIdentifierAllowWs, {""}), 0);
    EXPECT_EQ(errorOf(kIsValidIdentifierAllowWs, {"a", "b"}),
              "Runtime Error: Invalid call to isvalididentifier. Expecting 1 arguments, 2 were provided");
}
