#include "vm/date_value.h"

#include "vm/date_value_test_zone.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>

namespace tn
{
namespace
{

using testing::fields;
using testing::makeDate;
using testing::rawDate;
using testing::ScopedTimeZone;

constexpr int64_t kTicksPerDay = 864'000'000'000;
constexpr int64_t kUnixEpoch = 116'444'736'000'000'000;

TEST(DateValueFields, BlankEqualityAndOrder)
{
    DateValue date = makeDate(1994, 11, 6, 8, 49, 37, 250, false);
    date.makeBlank();
    EXPECT_TRUE(date.isGmt);
    EXPECT_EQ(fields(date), "0000-00-00 00:00:00.000 7"); // weekday survives

    // Weekday and zone take no part; earlier fields dominate later ones.
    const DateValue a = makeDate(2004, 3, 1, 10, 0, 0, 5);
    DateValue b = a;
    b.dayOfWeek = 3;
    b.isGmt = false;
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.compare(b), 0);
    EXPECT_EQ(rawDate(2003, 12, 31, 23, 59, 59, 999).compare(rawDate(2004, 1, 1)), -1);
    EXPECT_EQ(rawDate(2004, 1, 1, 0, 0, 0, 2).compare(rawDate(2004, 1, 1, 0, 0, 0, 1)), 1);
    EXPECT_FALSE(rawDate(2004, 1, 1, 0, 0, 0, 2) == rawDate(2004, 1, 1, 0, 0, 0, 1));
}

TEST(DateValueFields, ValidateChecksRangesNotTheCalendar)
{
    const DateValue good = makeDate(2004, 2, 29, 23, 59, 59, 999);
    EXPECT_EQ(good.validate(), ereturnvalue::OK);
    DateValue feb31 = rawDate(2003, 2, 31);
    feb31.dayOfWeek = 1;
    EXPECT_EQ(feb31.validate(), ereturnvalue::OK);

    const std::pair<int32_t DateValue::*, int32_t> broken[] = {
        {&DateValue::month, 0},    {&DateValue::month, 13},         {&DateValue::day, 0},
        {&DateValue::day, 32},     {&DateValue::hour, 24},          {&DateValue::minute, -1},
        {&DateValue::second, 60},  {&DateValue::millisecond, 1000}, {&DateValue::dayOfWeek, 0},
        {&DateValue::dayOfWeek, 8}};
    for (const auto& [field, value] : broken)
    {
        DateValue date = good;
        date.*field = value;
        EXPECT_EQ(date.validate(), ereturnvalue::DataError) << value;
    }
}

TEST(DateValueFields, NormaliseRecomputesWeekdayOrBlanksImpossibleDays)
{
    const auto normalised = [](DateValue date)
    {
        const ereturnvalue rc = date.normalise();
        return std::string(ResultCodeName(rc)) + ": " + (date.isBlank() ? "blank" : fields(date)) +
               (date.isGmt ? " gmt" : " local");
    };
    EXPECT_EQ(normalised(rawDate(2004, 2, 29)), "OK: 2004-02-29 00:00:00.000 7 gmt");
    EXPECT_EQ(normalised(rawDate(2003, 2, 29, 0, 0, 0, 0, false)), "OK: blank gmt");
    DateValue month13 = rawDate(2003, 13, 1);
    month13.dayOfWeek = 5;
    EXPECT_EQ(normalised(month13), "Unknown Format: 2003-13-01 00:00:00.000 5 gmt");
}

TEST(DateValueInstant, KnownInstantsAndRefusals)
{
    EXPECT_EQ(rawDate(1601, 1, 1, 0, 0, 0, 1).toInstant(), 10'000);
    EXPECT_EQ(rawDate(1601, 1, 2).toInstant(), kTicksPerDay);
    EXPECT_EQ(rawDate(1970, 1, 1).toInstant(), kUnixEpoch);
    EXPECT_EQ(rawDate(1994, 11, 6, 8, 49, 37, 250).toInstant(), kUnixEpoch + 7'841'117'772'500'000);
    EXPECT_NE(rawDate(2000, 2, 29).toInstant(), 0);

    // Fields datefromnum can pass are refused in tests/pages/lib/dates.htm; these it cannot.
    for (const DateValue& refused : {rawDate(1600, 12, 31, 23, 59, 59, 999), rawDate(2001, 1, 1, 0, 0, 0, 1000),
                                     rawDate(2001, 1, 1, 0, 0, 0, -1), rawDate(INT_MIN, INT_MIN, INT_MIN, INT_MIN)})
        EXPECT_EQ(refused.toInstant(), 0) << fields(refused);
}

TEST(DateValueInstant, ExtremesAndOutOfRangeInstants)
{
    const DateValue last = rawDate(30827, 12, 31, 23, 59, 59, 999);
    const int64_t lastInstant = last.toInstant();
    ASSERT_GT(lastInstant, 0);
    DateValue back;
    back.fromInstant(lastInstant + 9'999); // sub-millisecond ticks are dropped
    EXPECT_TRUE(back == last);
    back.fromInstant(1);
    EXPECT_EQ(fields(back), "1601-01-01 00:00:00.000 1");

    for (const int64_t outside : {lastInstant + 10'000, INT64_MAX, int64_t{0}, int64_t{-1}, INT64_MIN})
    {
        DateValue date = makeDate(2000, 1, 1, 0, 0, 0, 0, false);
        date.fromInstant(outside);
        EXPECT_TRUE(date.isBlank() && date.isGmt) << outside;
    }

    DateValue local = rawDate(1, 1, 1, 0, 0, 0, 0, false);
    local.fromInstant(rawDate(2000, 1, 1).toInstant());
    EXPECT_EQ(fields(local), "2000-01-01 00:00:00.000 6");
    EXPECT_FALSE(local.isGmt);
}

// Walks every day from 1601 to 2801 with a plain day counter: catches any
// slip in the leap rules or the weekday.
TEST(DateValueInstant, EveryDayMatchesASimpleCalendar)
{
    static constexpr int32_t kMonthDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int32_t year = 1601, month = 1, day = 1, weekday = 1;
    const int64_t noon = kTicksPerDay / 2;
    for (int64_t days = 0; year < 2801; ++days)
    {
        DateValue date;
        date.fromInstant(days * kTicksPerDay + noon);
        ASSERT_TRUE(date.year == year && date.month == month && date.day == day && date.dayOfWeek == weekday)
            << year << "-" << month << "-" << day << " read as " << fields(date);
        ASSERT_EQ(date.toInstant(), days * kTicksPerDay + noon);

        const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
        weekday = weekday % 7 + 1;
        if (++day > kMonthDays[month] + (month == 2 && leap ? 1 : 0))
        {
            day = 1;
            if (++month > 12)
            {
                month = 1;
                ++year;
            }
        }
    }
}

// Today's midnight and the clock's weekday are in tests/pages/lib/dates.htm.
TEST(DateValueClock, NowIsTheCurrentGmtTime)
{
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    const DateValue now = DateValue::now();
    const int64_t after = static_cast<int64_t>(std::time(nullptr));
    EXPECT_TRUE(now.isGmt);
    const int64_t seconds = (now.toInstant() - kUnixEpoch) / 10'000'000;
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
}

// The steps through the instant and the field-only steps of months and years
// are in tests/pages/lib/dates_arith.htm, local dates in dates_zone.htm;
// these are what a script cannot see.
TEST(DateValueArithmetic, BlankDatesAndExtremeCounts)
{
    DateValue blankMonths;
    blankMonths.addMonths(0);
    EXPECT_TRUE(blankMonths.isBlank());
    // Extreme counts wrap without undefined behaviour.
    DateValue extreme = makeDate(2004, 2, 29);
    extreme.year = INT_MAX;
    extreme.addYears(1);
    EXPECT_EQ(extreme.year, INT_MIN);
    DateValue blank;
    blank.addMonths(INT_MIN);
    EXPECT_EQ(blank.month, INT_MIN);
}

TEST(DateValueZone, NewYorkFollowsDaylightSaving)
{
    TN_REQUIRE_ZONE("America/New_York");
    const ScopedTimeZone zone("America/New_York");
    const int32_t bias = DateValue::zoneOffsetMinutes();
    EXPECT_TRUE(bias == 300 || bias == 240) << bias;
    // The changes themselves are in tests/pages/lib/dates_zone.htm; every hour of a year goes there and back.
    DateValue gmt = makeDate(2021, 1, 1, 0, 0, 0, 123);
    for (int hour = 0; hour < 365 * 24; ++hour, gmt.addHours(1))
    {
        // The second pass through the repeated hour cannot come back as itself.
        if (gmt.month == 11 && gmt.day == 7 && gmt.hour == 6) continue;
        DateValue date = gmt;
        ASSERT_EQ(date.toLocal(), ereturnvalue::OK);
        ASSERT_EQ(date.toGmt(), ereturnvalue::OK);
        ASSERT_EQ(fields(date), fields(gmt));
    }
}

} // namespace
} // namespace tn
