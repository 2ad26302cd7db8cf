#include "vm/date_value.h"
#include "vm/date_value_detail.h"

#include "vm/date_value_test_zone.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>

namespace tn
{
namespace
{

using testing::fields;
using testing::makeDate;
using testing::rawDate;
using testing::ScopedTimeZone;

const DateValue kSample = makeDate(1994, 11, 6, 8, 49, 37, 250);

TEST(DateValueNumbers, ReadDecimalActsLikeA32BitAtoiAndWritePaddedLikePrintf)
{
    using datedetail::readDecimal;
    EXPECT_EQ(readDecimal("1994"), 1994);
    EXPECT_EQ(readDecimal(" \t\n-12x"), -12);
    EXPECT_EQ(readDecimal("+7"), 7);
    EXPECT_EQ(readDecimal(""), 0);
    EXPECT_EQ(readDecimal("x1"), 0);
    EXPECT_EQ(readDecimal("- 1"), 0);
    EXPECT_EQ(readDecimal("2147483648"), INT_MAX);
    EXPECT_EQ(readDecimal("-2147483648"), INT_MIN);
    EXPECT_EQ(readDecimal("-99999999999999999999999"), INT_MIN);
    // The view ends the number even when more digits follow in memory.
    EXPECT_EQ(readDecimal(std::string_view("123456").substr(0, 2)), 12);

    for (const int32_t value : {0, 5, -5, 42, 123, -1234, 99999, INT_MAX, INT_MIN})
        for (const int width : {0, 2, 3, 4})
        {
            char expected[32];
            std::snprintf(expected, sizeof expected, "%0*d", width, value);
            char actual[32];
            EXPECT_EQ(std::string(actual, datedetail::writePadded(actual, value, width)), expected);
        }
}

// Good dates in HTTP and compact form, as a script sees them, are in tests/pages/lib/dates*.htm.
TEST(DateValueHttpForm, BrokenFieldsStayInBoundsOfTheNameTables)
{
    DateValue odd = rawDate(-5, 13, 123, 7, -1, 60);
    odd.dayOfWeek = 9;
    EXPECT_EQ(odd.httpForm(), "XXXXX, 123 XXXXX -005 07:-1:60 GMT");
}

TEST(DateValueCompactForm, ReadsBackWhatItPrints)
{
    for (const char* refused : {"", "1994110624:00:00:000"})
    {
        DateValue date = rawDate(1, 1, 1, 1, 1, 1, 1, false);
        EXPECT_EQ(date.parseCompact(refused), ereturnvalue::UnknownFormat) << refused;
        EXPECT_TRUE(date.isBlank() && date.isGmt) << refused;
    }
    // Five-digit years do not fit the 20 characters.
    for (const DateValue& date : {makeDate(1601, 1, 1, 0, 0, 0, 1), makeDate(9999, 12, 31, 23, 59, 59, 999),
                                  makeDate(2000, 2, 29, 12, 0, 0, 7)})
    {
        DateValue back;
        ASSERT_EQ(back.parseCompact(date.compactForm()), ereturnvalue::OK) << date.compactForm();
        EXPECT_EQ(fields(back), fields(date));
    }
}

TEST(DateValueLogForm, OffsetSignFollowsTheZone)
{
    DateValue local = kSample;
    local.isGmt = false;
    {
        const ScopedTimeZone zone("UTC");
        EXPECT_EQ(kSample.logForm(), "1994/11/06 08:49:37.250 7");
        EXPECT_EQ(DateValue().logForm(), "BLANK");
    }
    {
        TN_REQUIRE_ZONE("Asia/Kolkata");
        const ScopedTimeZone zone("Asia/Kolkata");
        EXPECT_EQ(local.logForm(), "1994/11/06 08:49:37.250 7 +0530");
        EXPECT_EQ(kSample.logForm(), "1994/11/06 08:49:37.250 7 +0000");
    }
    TN_REQUIRE_ZONE("America/New_York");
    const ScopedTimeZone zone("America/New_York");
    const std::string text = local.logForm();
    const std::string offset = text.substr(text.size() - 6);
    EXPECT_TRUE(offset == " -0500" || offset == " -0400") << text;
    EXPECT_EQ(kSample.logForm(), "1994/11/06 08:49:37.250 7 -0000");
}

TEST(DateValueHttpParser, ResultIsGmt)
{
    // The layouts, their letter case, blanks and year pivot are in tests/pages/lib/dates.htm and dates_more.htm.
    DateValue date = rawDate(1, 1, 1, 1, 1, 1, 1, false);
    ASSERT_EQ(date.parseHttp("Sun, 06 Nov 1994 08:49:37 GMT"), ereturnvalue::OK);
    EXPECT_TRUE(date.isGmt);
}

TEST(DateValueHttpParser, RefusesOtherShapes)
{
    for (const char* text :
         {"", "   ", "BLANK", "Sun, 06 Nov 1994 08:49:37 gmt", "Sunday, 06 Nov 1994 08:49:37 GMT",
          "Sun, 06 November 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37:00 GMT", "Sunday, 06-Nov 08:49:37 GMT",
          "Sunday, 06-Nov-94-1 08:49:37 GMT", "Sun Nov 6 08:49 1994", "Sun, 06 Nov 1994 24:00:00 GMT",
          "Sun, 06 Foo 1994 08:49:37 GMT", "Sun, 99999999999 Nov 1994 08:49:37 GMT",
          "Sun, 06 Nov 1994 08:49:37 GMT extra", "Sun,  06 Nov 1994 08:49:37 GMT GMT GMT GMT GMT GMT GMT GMT GMT GMT"})
    {
        DateValue date = kSample;
        EXPECT_EQ(date.parseHttp(text), ereturnvalue::UnknownFormat) << text;
        EXPECT_TRUE(date.isBlank()) << text;
    }

    // An unknown day name leaves the weekday from before, which is then checked
    // (a script's text always starts from none and is refused).
    DateValue reused = kSample;
    EXPECT_EQ(reused.parseHttp("Xyz, 06 Nov 1994 08:49:37 GMT"), ereturnvalue::OK);
    EXPECT_EQ(reused.dayOfWeek, 7);
}

} // namespace
} // namespace tn
