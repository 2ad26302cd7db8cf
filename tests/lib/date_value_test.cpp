#include "lib/date_value.h"

#include "lib/date_value_test_zone.h"

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

TEST(DateValueFields, BlankStateAndMakeBlank)
{
    DateValue date;
    EXPECT_TRUE(date.isBlank());
    EXPECT_TRUE(date.isGmt);
    EXPECT_EQ(date.dayOfWeek, 0);
    EXPECT_EQ(date.toInstant(), 0);

    date = makeDate(1994, 11, 6, 8, 49, 37, 250, false);
    date.makeBlank();
    EXPECT_TRUE(date.isGmt);
    EXPECT_EQ(fields(date), "0000-00-00 00:00:00.000 7"); // weekday survives
}

TEST(DateValueFields, EqualityAndOrderIgnoreWeekdayAndZone)
{
    const DateValue a = makeDate(2004, 3, 1, 10, 0, 0, 5);
    DateValue b = a;
    b.dayOfWeek = 3;
    b.isGmt = false;
    EXPECT_TRUE(a == b);
    EXPECT_EQ(a.compare(b), 0);
    // Earlier fields dominate later ones.
    EXPECT_EQ(rawDate(2003, 12, 31, 23, 59, 59, 999).compare(rawDate(2004, 1, 1)), -1);
    EXPECT_EQ(rawDate(2004, 1, 1, 0, 0, 0, 2).compare(rawDate(2004, 1, 1, 0, 0, 0, 1)), 1);
    EXPECT_FALSE(rawDate(2004, 1, 1, 0, 0, 0, 2) == rawDate(2004, 1, 1, 0, 0, 0, 1));
}

TEST(DateValueFields, ValidateChecksEveryRange)
{
    const DateValue good = makeDate(2004, 2, 29, 23, 59, 59, 999);
    EXPECT_EQ(good.validate(), RC::OK);
    DateValue feb31 = rawDate(2003, 2, 31); // ranges only, not the calendar
    feb31.dayOfWeek = 1;
    EXPECT_EQ(feb31.validate(), RC::OK);

    const std::pair<int32_t DateValue::*, int32_t> broken[] = {
        {&DateValue::month, 0},    {&DateValue::month, 13},         {&DateValue::day, 0},
        {&DateValue::day, 32},     {&DateValue::hour, 24},          {&DateValue::minute, -1},
        {&DateValue::second, 60},  {&DateValue::millisecond, 1000}, {&DateValue::dayOfWeek, 0},
        {&DateValue::dayOfWeek, 8}};
    for (const auto& [field, value] : broken)
    {
        DateValue date = good;
        date.*field = value;
        EXPECT_EQ(date.validate(), RC::DataError) << value;
    }
}

TEST(DateValueFields, NormaliseRecomputesWeekdayOrBlanksImpossibleDays)
{
    DateValue leap = rawDate(2004, 2, 29);
    EXPECT_EQ(leap.normalise(), RC::OK);
    EXPECT_EQ(leap.dayOfWeek, 7);

    for (DateValue missing : {rawDate(2003, 2, 29), rawDate(2003, 4, 31), rawDate(1600, 6, 1), rawDate(1900, 2, 29)})
    {
        missing.isGmt = false;
        EXPECT_EQ(missing.normalise(), RC::OK);
        EXPECT_TRUE(missing.isBlank());
        EXPECT_TRUE(missing.isGmt);
    }

    DateValue month13 = rawDate(2003, 13, 1);
    month13.dayOfWeek = 5;
    EXPECT_EQ(month13.normalise(), RC::UnknownFormat);
    EXPECT_EQ(fields(month13), "2003-13-01 00:00:00.000 5");
}

TEST(DateValueInstant, KnownInstantsAndRefusals)
{
    EXPECT_EQ(rawDate(1601, 1, 1, 0, 0, 0, 1).toInstant(), 10'000);
    EXPECT_EQ(rawDate(1601, 1, 2).toInstant(), kTicksPerDay);
    EXPECT_EQ(rawDate(1970, 1, 1).toInstant(), kUnixEpoch);
    EXPECT_EQ(rawDate(1994, 11, 6, 8, 49, 37, 250).toInstant(), kUnixEpoch + 7'841'117'772'500'000);
    EXPECT_NE(rawDate(2000, 2, 29).toInstant(), 0);

    for (const DateValue& refused :
         {rawDate(1600, 12, 31, 23, 59, 59, 999), rawDate(30828, 1, 1), rawDate(2100, 2, 29), rawDate(2001, 4, 31),
          rawDate(2001, 0, 1), rawDate(2001, 13, 1), rawDate(2001, 1, 0), rawDate(2001, 1, 1, 24),
          rawDate(2001, 1, 1, -1), rawDate(2001, 1, 1, 0, 60), rawDate(2001, 1, 1, 0, 0, 60),
          rawDate(2001, 1, 1, 0, 0, 0, 1000), rawDate(INT_MIN, INT_MIN, INT_MIN, INT_MIN)})
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
        EXPECT_TRUE(date.isBlank()) << outside;
        EXPECT_TRUE(date.isGmt) << outside;
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

TEST(DateValueClock, NowIsCurrentGmtAndTodayIsItsMidnight)
{
    const int64_t before = static_cast<int64_t>(std::time(nullptr));
    const DateValue now = DateValue::now();
    const DateValue today = DateValue::today();
    const int64_t after = static_cast<int64_t>(std::time(nullptr));

    EXPECT_TRUE(now.isGmt);
    const int64_t seconds = (now.toInstant() - kUnixEpoch) / 10'000'000;
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_TRUE(today.isGmt);
    EXPECT_EQ(today.hour + today.minute + today.second + today.millisecond, 0);
    EXPECT_EQ(today.validate(), RC::OK);
    EXPECT_LE(now.differenceMs(today), 86'400'000);
}

TEST(DateValueArithmetic, InstantUnitsCarryAcrossBoundaries)
{
    DateValue date = makeDate(2003, 12, 31, 23);
    date.addDays(1);
    EXPECT_EQ(fields(date), "2004-01-01 23:00:00.000 4");
    date = makeDate(2004, 2, 28, 12);
    date.addDays(1);
    EXPECT_EQ(fields(date), "2004-02-29 12:00:00.000 7");
    date = makeDate(2003, 2, 28, 12);
    date.addHours(12);
    EXPECT_EQ(fields(date), "2003-03-01 00:00:00.000 6");
    date = makeDate(2000, 1, 1, 0, 30);
    date.addMinutes(-31);
    EXPECT_EQ(fields(date), "1999-12-31 23:59:00.000 5");
    date = makeDate(1999, 12, 31, 23, 59, 59, 999);
    date.addMilliseconds(1);
    EXPECT_EQ(fields(date), "2000-01-01 00:00:00.000 6");
    date.addSeconds(-86'400 * 365);
    EXPECT_EQ(fields(date), "1999-01-01 00:00:00.000 5");

    DateValue local = makeDate(2010, 6, 1, 0, 0, 0, 0, false);
    local.addDays(-1);
    EXPECT_FALSE(local.isGmt);
    EXPECT_EQ(local.day, 31);
}

TEST(DateValueArithmetic, BlankCountsFrom1601AndLeavingTheCalendarBlanks)
{
    DateValue date;
    date.addDays(1);
    EXPECT_EQ(fields(date), "1601-01-02 00:00:00.000 2");

    date = makeDate(1601, 1, 1, 0, 0, 0, 1);
    date.addMilliseconds(-1); // lands on instant 0
    EXPECT_TRUE(date.isBlank());
    date = makeDate(30827, 12, 31, 12);
    date.addDays(1);
    EXPECT_TRUE(date.isBlank());
    for (const int32_t days : {INT_MAX, INT_MIN})
    {
        date = makeDate(2000, 1, 1);
        date.addDays(days);
        EXPECT_TRUE(date.isBlank());
    }
}

TEST(DateValueArithmetic, MonthsAndYearsMoveOnlyTheirFields)
{
    DateValue date = makeDate(2003, 11, 15);
    date.addMonths(14);
    EXPECT_EQ(fields(date), "2005-01-15 00:00:00.000 6"); // weekday of the old date
    date = makeDate(2003, 11, 1);
    date.addMonths(2);
    EXPECT_EQ(fields(date).substr(0, 7), "2004-01");
    date.addMonths(12);
    EXPECT_EQ(fields(date).substr(0, 7), "2005-01");

    date = makeDate(2003, 1, 31);
    date.addMonths(1);
    EXPECT_EQ(fields(date).substr(0, 10), "2003-02-31");
    EXPECT_EQ(date.normalise(), RC::OK);
    EXPECT_TRUE(date.isBlank());

    date = makeDate(2004, 2, 29);
    date.addYears(1);
    EXPECT_EQ(fields(date), "2005-02-29 00:00:00.000 7");
    date.year = INT_MAX;
    date.addYears(1); // wraps, no undefined behaviour
    EXPECT_EQ(date.year, INT_MIN);
}

TEST(DateValueArithmetic, NegativeMonthsBorrowYears)
{
    DateValue date = makeDate(2004, 3, 10);
    const std::pair<int32_t, const char*> steps[] = {
        {-3, "2003-12"}, {-12, "2002-12"}, {-23, "2001-01"}, {-1, "2000-12"}};
    for (const auto& [count, expected] : steps)
    {
        date.addMonths(count);
        EXPECT_EQ(fields(date).substr(0, 7), expected) << count;
    }

    DateValue blank;
    blank.addMonths(0);
    EXPECT_TRUE(blank.isBlank());
    blank.addMonths(INT_MIN); // must not overflow
    EXPECT_EQ(blank.month, INT_MIN);
}

TEST(DateValueArithmetic, DifferenceTruncatesTowardZero)
{
    const DateValue later = makeDate(2003, 5, 5, 0, 0, 1, 999);
    const DateValue earlier = makeDate(2003, 5, 5);
    EXPECT_EQ(later.differenceMs(earlier), 1'999);
    EXPECT_EQ(later.differenceMs(earlier) / 1'000, 1);
    EXPECT_EQ(later.differenceMs(earlier) / 60'000, 0);
    EXPECT_EQ(earlier.differenceMs(later), -1'999);
    EXPECT_EQ(earlier.differenceMs(later) / 1'000, -1);

    const DateValue jan2 = makeDate(2003, 1, 2);
    const DateValue jan1Noon = makeDate(2003, 1, 1, 12);
    EXPECT_EQ(jan2.differenceMs(jan1Noon) / 86'400'000, 0);
    EXPECT_EQ(jan2.differenceMs(jan1Noon) / 3'600'000, 12);
    EXPECT_EQ(jan1Noon.differenceMs(jan2) / 3'600'000, -12);
    EXPECT_EQ(makeDate(1601, 1, 2).differenceMs(DateValue()), 86'400'000); // blank counts as 1601
}

TEST(DateValueZone, WrongZoneOrBlankChangesNothing)
{
    DateValue local = makeDate(2003, 5, 5, 10, 0, 0, 0, false);
    const DateValue copy = local;
    EXPECT_EQ(local.toLocal(), RC::Programing);
    EXPECT_TRUE(local == copy);
    EXPECT_FALSE(local.isGmt);
    DateValue gmt = makeDate(2003, 5, 5, 10);
    EXPECT_EQ(gmt.toGmt(), RC::Programing);
    EXPECT_TRUE(gmt.isGmt);

    DateValue blank;
    EXPECT_EQ(blank.toLocal(), RC::Empty);
    EXPECT_TRUE(blank.isGmt);
    blank.isGmt = false;
    EXPECT_EQ(blank.toGmt(), RC::Empty);
}

TEST(DateValueZone, UtcOnlyFlipsTheFlag)
{
    const ScopedTimeZone zone("UTC");
    EXPECT_EQ(DateValue::zoneOffsetMinutes(), 0);
    DateValue date = makeDate(1994, 11, 6, 8, 49, 37, 250);
    EXPECT_EQ(date.toLocal(), RC::OK);
    EXPECT_FALSE(date.isGmt);
    EXPECT_EQ(fields(date), "1994-11-06 08:49:37.250 7");
}

TEST(DateValueZone, KolkataIsFiveThirtyAhead)
{
    TN_REQUIRE_ZONE("Asia/Kolkata");
    const ScopedTimeZone zone("Asia/Kolkata");
    EXPECT_EQ(DateValue::zoneOffsetMinutes(), -330);
    DateValue date = makeDate(1994, 11, 6, 20, 0, 0, 250);
    EXPECT_EQ(date.toLocal(), RC::OK);
    EXPECT_EQ(fields(date), "1994-11-07 01:30:00.250 1");
    EXPECT_EQ(date.toGmt(), RC::OK);
    EXPECT_TRUE(date.isGmt);
    EXPECT_EQ(fields(date), "1994-11-06 20:00:00.250 7");
}

TEST(DateValueZone, NewYorkFollowsDaylightSaving)
{
    TN_REQUIRE_ZONE("America/New_York");
    const ScopedTimeZone zone("America/New_York");
    const int32_t bias = DateValue::zoneOffsetMinutes();
    EXPECT_TRUE(bias == 300 || bias == 240) << bias;

    DateValue summer = makeDate(2021, 7, 1, 12);
    summer.toLocal();
    EXPECT_EQ(summer.hour, 8);
    DateValue winter = makeDate(2021, 1, 15, 12);
    winter.toLocal();
    EXPECT_EQ(winter.hour, 7);

    // 02:30 on the spring-forward day does not exist: read with the winter offset.
    DateValue skipped = makeDate(2021, 3, 14, 2, 30, 0, 0, false);
    EXPECT_EQ(skipped.toGmt(), RC::OK);
    EXPECT_EQ(fields(skipped), "2021-03-14 07:30:00.000 7");
    // 01:30 on the fall-back day happens twice: the first (summer) pass wins.
    DateValue repeated = makeDate(2021, 11, 7, 1, 30, 0, 0, false);
    repeated.toGmt();
    EXPECT_EQ(fields(repeated), "2021-11-07 05:30:00.000 7");
}

TEST(DateValueZone, NewYorkRoundTripsEveryHourOfAYear)
{
    TN_REQUIRE_ZONE("America/New_York");
    const ScopedTimeZone zone("America/New_York");
    DateValue gmt = makeDate(2021, 1, 1, 0, 0, 0, 123);
    for (int hour = 0; hour < 365 * 24; ++hour, gmt.addHours(1))
    {
        // The second pass through the repeated hour cannot come back as itself.
        if (gmt.month == 11 && gmt.day == 7 && gmt.hour == 6) continue;
        DateValue date = gmt;
        ASSERT_EQ(date.toLocal(), RC::OK);
        ASSERT_EQ(date.toGmt(), RC::OK);
        ASSERT_EQ(fields(date), fields(gmt));
    }
}

TEST(DateValueZone, CalendarEdgesDoNotBreakConversion)
{
    TN_REQUIRE_ZONE("America/New_York");
    const ScopedTimeZone zone("America/New_York");
    DateValue first = makeDate(1601, 1, 1, 1);
    EXPECT_EQ(first.toLocal(), RC::OK); // falls before 1601
    EXPECT_TRUE(first.isBlank());
    DateValue last = makeDate(30827, 12, 31, 23, 0, 0, 0, false);
    EXPECT_EQ(last.toGmt(), RC::OK); // falls after 30827
    EXPECT_TRUE(last.isBlank());
    EXPECT_TRUE(last.isGmt);

    DateValue lastGmt = makeDate(30827, 12, 31, 23);
    EXPECT_EQ(lastGmt.toLocal(), RC::OK);
    EXPECT_EQ(fields(lastGmt).substr(0, 11), "30827-12-31");
    EXPECT_LT(lastGmt.hour, 23);
    DateValue impossible = rawDate(2003, 2, 30);
    EXPECT_EQ(impossible.toLocal(), RC::OK);
    EXPECT_TRUE(impossible.isBlank());
}

} // namespace
} // namespace tn
