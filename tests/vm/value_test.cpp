#include "vm/value.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

using namespace tn;

namespace
{
const DateValue kDate{.year = 1994, .month = 11, .day = 6, .hour = 8, .minute = 49, .second = 37, .dayOfWeek = 7};

Value arrayOf(std::initializer_list<Value> items)
{
    Value v = Value::array();
    for (const Value& item : items)
        v.mutableArray().push(item);
    return v;
}
} // namespace

// NaN and the display form of a blank date are in tests/pages/lib/types.htm and dates.htm.
TEST(ValueConversion, EveryTypeToIntFloatTextTruthAndBlank)
{
    const struct
    {
        Value value;
        int32_t toInt;
        double toFloat;
        const char* text; // plain form
        bool truth;
        bool blank;
    } rows[] = {
        {Value(), 0, 0.0, "", false, true},
        {Value::integer(-5), -5, -5.0, "-5", true, false},
        {Value::flags(-1), -1, 4294967295.0, "-1", true, false},
        {Value::reference(7), 7, 7.0, "7", true, false},
        {Value::reference(0), 0, 0.0, "0", false, true},
        {Value::string(" 42abc"), 42, 42.0, " 42abc", true, false},
        {Value::string("1x"), 1, 1.0, "1x", true, false},
        {Value::string("x1"), 0, 0.0, "x1", false, false},
        {Value::string("0.9"), 0, 0.9, "0.9", false, false},
        {Value::string("2.5e1x"), 2, 25.0, "2.5e1x", true, false},
        {Value::string("99999999999"), 2147483647, 99999999999.0, "99999999999", true, false},
        {Value::string("-99999999999"), -2147483647 - 1, -99999999999.0, "-99999999999", true, false},
        {Value::string("0"), 0, 0.0, "0", false, false},
        {Value::string(""), 0, 0.0, "", false, true},
        {Value::floating(2.5), 2, 2.5, "2.500000", true, false},
        {Value::floating(-2.7), -2, -2.7, "-2.700000", true, false},
        {Value::floating(0.99), 0, 0.99, "0.990000", false, false},
        {Value::floating(0.0), 0, 0.0, "0.000000", false, true},
        {Value::date(kDate), 0, 0.0, "Sun, 06 Nov 1994 08:49:37 GMT", false, false},
        {Value::date(DateValue()), 0, 0.0, "BLANK", false, true},
        {arrayOf({Value(), Value(), Value()}), 3, 3.0, "3", true, false},
        {Value::array(), 0, 0.0, "0", false, true},
    };
    for (const auto& r : rows)
    {
        EXPECT_EQ(r.value.toInt(), r.toInt) << r.text;
        EXPECT_DOUBLE_EQ(r.value.toFloat(), r.toFloat) << r.text;
        EXPECT_EQ(r.value.toText(), r.text);
        EXPECT_EQ(r.value.truth(), r.truth) << r.text;
        EXPECT_EQ(r.value.isBlank(), r.blank) << r.text;
    }
}

TEST(ValueComparison, KindIsChosenByTypePair)
{
    const Value nan = Value::floating(std::numeric_limits<double>::quiet_NaN());
    DateValue later = kDate;
    later.second += 1;
    DateValue sameMoment = kDate; // zone flag and weekday do not take part
    sameMoment.dayOfWeek = 3;
    sameMoment.isGmt = false;
    const struct
    {
        Value a;
        CompareOp op;
        Value b;
        bool expected;
    } rows[] = {
        // strings byte-wise, case-sensitive, bytes unsigned
        {Value::string("B"), CompareOp::LT, Value::string("a"), true},
        {Value::string("10"), CompareOp::LT, Value::string("9"), true},
        {Value::string("\xE9"), CompareOp::GT, Value::string("z"), true},
        // a string against an integer compares its leading number
        {Value::string("10"), CompareOp::LT, Value::integer(9), false},
        // mixed numeric types compare as integers, two floats as doubles
        {Value::integer(1), CompareOp::LT, Value::floating(1.5), false},
        {Value::integer(2), CompareOp::EQ, Value::floating(2.7), true},
        {Value::floating(0.5), CompareOp::EQ, Value::integer(0), true},
        {Value::floating(0.5), CompareOp::NE, Value::floating(0.0), true},
        // arrays by count, null as 0
        {arrayOf({Value::integer(1)}), CompareOp::EQ, arrayOf({Value::integer(2)}), true},
        {Value(), CompareOp::EQ, Value::integer(0), true},
        {Value(), CompareOp::EQ, Value::string(""), true},
        // NaN is unordered and unequal
        {nan, CompareOp::LT, nan, false},
        {nan, CompareOp::GT, nan, false},
        {nan, CompareOp::LE, nan, false},
        {nan, CompareOp::GE, nan, false},
        {nan, CompareOp::EQ, nan, false},
        {nan, CompareOp::NE, nan, true},
        // dates by their moment; against a non-date a date is 0
        {Value::date(kDate), CompareOp::LT, Value::date(later), true},
        {Value::date(kDate), CompareOp::EQ, Value::date(sameMoment), true},
        {Value::date(kDate), CompareOp::EQ, Value::integer(0), true},
    };
    for (const auto& r : rows)
        EXPECT_EQ(CompareValues(r.a, r.b, r.op), r.expected)
            << r.a.toText() << " op " << int(r.op) << " " << r.b.toText();
}

// Texts are in AppendsAcrossBlockSizesKeepSnapshots.
TEST(ValueCopy, CopiesNeverShareChanges)
{
    Value a = arrayOf({Value::integer(1), Value::string("x")});
    Value b = a;
    b.mutableArray()[0] = Value::integer(99);
    EXPECT_EQ(a.arrayItems()[0].toInt(), 1);
    EXPECT_EQ(b.arrayItems()[0].toInt(), 99);

    Value d = Value::date(kDate);
    Value e = d;
    e.mutableDate().year = 2000;
    EXPECT_EQ(d.dateValue().year, 1994);

    // Changing a nested element of the outer copy leaves the original alone.
    Value outer = arrayOf({arrayOf({Value::integer(1)})});
    Value copy = outer;
    Value inner = copy.arrayItems()[0];
    inner.mutableArray()[0] = Value::integer(5);
    copy.mutableArray()[0] = inner;
    EXPECT_EQ(outer.arrayItems()[0].arrayItems()[0].toInt(), 1);
    EXPECT_EQ(copy.arrayItems()[0].arrayItems()[0].toInt(), 5);

    Value z = Value::string(std::string_view("a\0b", 3));
    z.appendToString(std::string_view("\0c", 2));
    EXPECT_EQ(z.stringView(), std::string_view("a\0b\0c", 5));
    EXPECT_EQ(z.cString()[5], '\0');
}

// Appends that cross every block size (small blocks are reused from lists)
// with a shared snapshot taken before each step, and appends of a text that
// shares the block it is appended to.
TEST(ValueCopy, AppendsAcrossBlockSizesKeepSnapshots)
{
    Value s = Value::string("");
    std::string expected;
    std::vector<std::pair<Value, std::string>> snapshots;
    for (int i = 0; i < 60; ++i)
    {
        snapshots.emplace_back(s, expected);
        const std::string piece(static_cast<size_t>(i % 7), static_cast<char>('a' + i % 26));
        s.appendToString(piece);
        expected += piece;
        ASSERT_EQ(s.stringView(), expected) << i;
        ASSERT_EQ(s.cString()[expected.size()], '\0');
    }
    for (const auto& [value, text] : snapshots)
        EXPECT_EQ(value.stringView(), text);

    for (const size_t length : {size_t(5), size_t(30), size_t(100), size_t(200)})
    {
        Value t = Value::string(std::string(length, 'q'));
        const Value shared = t;
        t.appendToString(shared.stringView());
        EXPECT_EQ(t.stringView(), std::string(2 * length, 'q'));
        EXPECT_EQ(shared.stringView(), std::string(length, 'q'));
        // Unshared, past the pooled sizes the block is resized under its own text.
        Value u = Value::string(std::string(length * 4, 'u'));
        u.appendToString(u.stringView().substr(1));
        EXPECT_EQ(u.stringView(), std::string(length * 8 - 1, 'u'));
    }
}

TEST(ValueVectorTest, GrowsOnAccessWithNullElementsUpToTheLimit)
{
    ValueVector v;
    v.at(10) = Value::integer(3);
    EXPECT_EQ(v.count(), 11);
    EXPECT_TRUE(v[0].isNull());
    EXPECT_TRUE(v[9].isNull());
    EXPECT_EQ(v.find(11), nullptr);
    EXPECT_TRUE(v.pop());
    EXPECT_EQ(v.count(), 10);
    // Dropped slots read as Null when the vector grows over them again.
    v.at(4) = Value::integer(4);
    v.at(5) = Value::string("five");
    v.truncate(2);
    EXPECT_EQ(v.count(), 2);
    v.at(6);
    for (int32_t i = 2; i <= 6; ++i)
        EXPECT_TRUE(v[i].isNull()) << i;
    v.at(3) = Value::integer(3);
    v.releaseElements();
    EXPECT_TRUE(v.at(3).isNull());
    ValueVector empty;
    EXPECT_FALSE(empty.pop());
    EXPECT_EQ(empty.top(), nullptr);

    try
    {
        empty.at(0x70000000 - 100);
        FAIL() << "expected MemAlloc";
    }
    catch (ereturnvalue code)
    {
        EXPECT_EQ(code, ereturnvalue::MemAlloc);
    }
    EXPECT_EQ(empty.count(), 0);
}

// Texts of every length around the copy paths and block sizes, made whole
// and zero-terminated; element storage grown one element at a time through
// the pooled sizes and past them keeps its elements and reads fresh slots as Null.
TEST(ValueVectorTest, TextsAndElementsCrossEveryBlockSize)
{
    const std::string source(700, 'x');
    ValueVector v;
    for (int32_t n = 0; n < 600; ++n)
    {
        std::string text = source.substr(0, static_cast<size_t>(n));
        if (n > 0) text[static_cast<size_t>(n) - 1] = static_cast<char>('a' + n % 26);
        v.pushString(text);
        ASSERT_EQ(v.count(), n + 1);
        ASSERT_EQ(v[n].stringView(), text) << n;
        ASSERT_EQ(v[n].cString()[n], '\0') << n;
        ASSERT_EQ(v[n].refCount(), 1);
    }
    for (int32_t n = 0; n < 600; ++n)
        ASSERT_EQ(v[n].stringView().size(), static_cast<size_t>(n));
    v.truncate(3);
    v.at(40);
    for (int32_t i = 3; i <= 40; ++i)
        EXPECT_TRUE(v[i].isNull()) << i;
    EXPECT_EQ(v[2].stringView(), "xc");
    ValueVector copy(v);
    v.clear();
    EXPECT_EQ(copy.count(), 41);
    EXPECT_EQ(copy[1].stringView(), "b");
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
    nested.setNull(); // a recursive release would overflow the C++ stack here
    EXPECT_TRUE(nested.isNull());
}
