#include "vm/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tn;

namespace
{
DateValue sampleDate()
{
    DateValue d;
    d.year = 1994;
    d.month = 11;
    d.day = 6;
    d.hour = 8;
    d.minute = 49;
    d.second = 37;
    d.dayOfWeek = 7;
    return d;
}

Value arrayOf(std::initializer_list<Value> items)
{
    Value v = Value::array();
    for (const Value& item : items)
        v.mutableArray().push(item);
    return v;
}
} // namespace

TEST(ValueConversion, ToIntAcrossTypes)
{
    EXPECT_EQ(Value().toInt(), 0);
    EXPECT_EQ(Value::flags(-1).toInt(), -1);
    EXPECT_EQ(Value::reference(7).toInt(), 7);
    EXPECT_EQ(Value::string(" 42abc").toInt(), 42);
    EXPECT_EQ(Value::string("abc").toInt(), 0);
    EXPECT_EQ(Value::string("-17x").toInt(), -17);
    EXPECT_EQ(Value::string("99999999999").toInt(), 2147483647);
    EXPECT_EQ(Value::string("-99999999999").toInt(), -2147483647 - 1);
    EXPECT_EQ(Value::floating(-2.7).toInt(), -2);
    EXPECT_EQ(Value::floating(2.9).toInt(), 2);
    EXPECT_EQ(Value::date(sampleDate()).toInt(), 0);
    EXPECT_EQ(arrayOf({Value(), Value(), Value()}).toInt(), 3);
}

TEST(ValueConversion, ToFloatReadsFlagsUnsigned)
{
    EXPECT_DOUBLE_EQ(Value::flags(-1).toFloat(), 4294967295.0);
    EXPECT_DOUBLE_EQ(Value::integer(-1).toFloat(), -1.0);
    EXPECT_DOUBLE_EQ(Value::string("2.5e1x").toFloat(), 25.0);
    EXPECT_DOUBLE_EQ(Value::string("x").toFloat(), 0.0);
}

TEST(ValueConversion, TextForms)
{
    EXPECT_EQ(Value().toText(), "");
    EXPECT_EQ(Value::integer(-5).toText(), "-5");
    EXPECT_EQ(Value::flags(-1).toText(), "-1");
    EXPECT_EQ(Value::floating(2.5).toText(), "2.500000");
    EXPECT_EQ(arrayOf({Value(), Value()}).toText(), "2");
    EXPECT_EQ(Value::date(sampleDate()).toText(), "Sun, 06 Nov 1994 08:49:37 GMT");
    EXPECT_EQ(Value::date(DateValue()).toText(), "BLANK");
    // The general form follows the display settings: a blank date shows as nothing.
    DateDisplaySettings settings;
    EXPECT_EQ(Value::date(DateValue()).toText(&settings), "");
}

TEST(ValueConversion, TruthAndBlank)
{
    EXPECT_TRUE(Value::string("1x").truth());
    EXPECT_FALSE(Value::string("x1").truth());
    EXPECT_FALSE(Value::string("0.9").truth());
    EXPECT_FALSE(Value::date(sampleDate()).truth());
    EXPECT_FALSE(Value::floating(0.99).truth());
    EXPECT_TRUE(Value::floating(-1.0).truth());
    EXPECT_TRUE(arrayOf({Value()}).truth());

    EXPECT_TRUE(Value().isBlank());
    EXPECT_TRUE(Value::floating(0.0).isBlank());
    EXPECT_FALSE(Value::floating(std::nan("")).isBlank());
    EXPECT_FALSE(Value::string("0").isBlank());
    EXPECT_TRUE(Value::string("").isBlank());
    EXPECT_TRUE(Value::date(DateValue()).isBlank());
    EXPECT_TRUE(Value::array().isBlank());
}

TEST(ValueComparison, KindIsChosenByTypePair)
{
    // strings byte-wise, case-sensitive
    EXPECT_TRUE(CompareValues(Value::string("B"), Value::string("a"), CompareOp::LT));
    EXPECT_TRUE(CompareValues(Value::string("10"), Value::string("9"), CompareOp::LT));
    EXPECT_TRUE(CompareValues(Value::string("\xE9"), Value::string("z"), CompareOp::GT));
    // a string against an integer compares the leading number
    EXPECT_FALSE(CompareValues(Value::string("10"), Value::integer(9), CompareOp::LT));
    // mixed numeric types compare as integers
    EXPECT_FALSE(CompareValues(Value::integer(1), Value::floating(1.5), CompareOp::LT));
    EXPECT_TRUE(CompareValues(Value::integer(2), Value::floating(2.7), CompareOp::EQ));
    EXPECT_TRUE(CompareValues(Value::floating(0.5), Value::integer(0), CompareOp::EQ));
    EXPECT_TRUE(CompareValues(Value::floating(0.5), Value::floating(0.0), CompareOp::NE));
    // arrays compare by count, null as 0
    EXPECT_TRUE(CompareValues(arrayOf({Value::integer(1)}), arrayOf({Value::integer(2)}), CompareOp::EQ));
    EXPECT_TRUE(CompareValues(Value(), Value::integer(0), CompareOp::EQ));
    EXPECT_TRUE(CompareValues(Value(), Value::string(""), CompareOp::EQ));
}

TEST(ValueComparison, NanAndDates)
{
    const Value nan = Value::floating(std::numeric_limits<double>::quiet_NaN());
    for (CompareOp op : {CompareOp::LT, CompareOp::GT, CompareOp::LE, CompareOp::GE, CompareOp::EQ})
        EXPECT_FALSE(CompareValues(nan, nan, op));
    EXPECT_TRUE(CompareValues(nan, nan, CompareOp::NE));

    DateValue later = sampleDate();
    later.second += 1;
    EXPECT_TRUE(CompareValues(Value::date(sampleDate()), Value::date(later), CompareOp::LT));
    DateValue other = sampleDate();
    other.isGmt = false;
    other.dayOfWeek = 3;
    EXPECT_TRUE(CompareValues(Value::date(sampleDate()), Value::date(other), CompareOp::EQ));
    // a date against a non-date compares as 0
    EXPECT_TRUE(CompareValues(Value::date(sampleDate()), Value::integer(0), CompareOp::EQ));
}

TEST(ValueCopy, CopiesNeverShareChanges)
{
    Value a = arrayOf({Value::integer(1), Value::string("x")});
    Value b = a;
    b.mutableArray()[0] = Value::integer(99);
    EXPECT_EQ(a.arrayItems()[0].toInt(), 1);
    EXPECT_EQ(b.arrayItems()[0].toInt(), 99);

    Value s = Value::string("abc");
    Value t = s;
    t.appendToString("def");
    EXPECT_EQ(s.stringView(), "abc");
    EXPECT_EQ(t.stringView(), "abcdef");

    Value d = Value::date(sampleDate());
    Value e = d;
    e.mutableDate().year = 2000;
    EXPECT_EQ(d.dateValue().year, 1994);

    // nested arrays: changing the outer copy's nested element leaves the original alone
    Value outer = arrayOf({arrayOf({Value::integer(1)})});
    Value copy = outer;
    Value inner = copy.arrayItems()[0];
    inner.mutableArray()[0] = Value::integer(5);
    copy.mutableArray()[0] = inner;
    EXPECT_EQ(outer.arrayItems()[0].arrayItems()[0].toInt(), 1);
    EXPECT_EQ(copy.arrayItems()[0].arrayItems()[0].toInt(), 5);
}

TEST(ValueCopy, AppendKeepsZeroBytesAndTerminator)
{
    Value s = Value::string(std::string_view("a\0b", 3));
    s.appendToString(std::string_view("\0c", 2));
    EXPECT_EQ(s.stringView(), std::string_view("a\0b\0c", 5));
    EXPECT_EQ(s.cString()[5], '\0');
}

TEST(ValueVectorTest, GrowsOnAccessWithNullElements)
{
    ValueVector v;
    v.at(10) = Value::integer(3);
    EXPECT_EQ(v.count(), 11);
    EXPECT_TRUE(v[0].isNull());
    EXPECT_TRUE(v[9].isNull());
    EXPECT_EQ(v.find(11), nullptr);
    EXPECT_TRUE(v.pop());
    EXPECT_EQ(v.count(), 10);
    ValueVector empty;
    EXPECT_FALSE(empty.pop());
    EXPECT_EQ(empty.top(), nullptr);
}

TEST(ValueVectorTest, LimitThrowsMemAlloc)
{
    ValueVector v;
    try
    {
        v.at(0x70000000 - 100);
        FAIL() << "expected MemAlloc";
    }
    catch (ereturnvalue code)
    {
        EXPECT_EQ(code, ereturnvalue::MemAlloc);
    }
    EXPECT_EQ(v.count(), 0);
}

TEST(ValueVectorTest, DeeplyNestedArraysReleaseWithoutRecursion)
{
    Value nested = Value::array();
    for (int i = 0; i < 200000; ++i)
    {
        Value outer = Value::array();
        outer.mutableArray().push(std::move(nested));
        nested = std::move(outer);
    }
    nested.setNull(); // must not overflow the C++ stack
    SUCCEED();
}
