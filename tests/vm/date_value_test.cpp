// The date value: its fields and their checks, instants and the calendar,
// the clock, arithmetic and zones; then its text forms, the number helpers
// behind them, and the display form and parser of the C and derived locales.
#include "vm/date_value.h"
#include "vm/date_value_detail.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace tn
{
namespace
{

using datedetail::DateLocalePatterns;

// Sets TZ for one test and restores the previous setting afterwards.
class ScopedTimeZone
{
  public:
    explicit ScopedTimeZone(const char* zone)
    {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone()
    {
        if (saved_)
            setenv("TZ", saved_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    static bool installed(const char* zone)
    {
        return std::filesystem::exists(std::string("/usr/share/zoneinfo/") + zone);
    }

  private:
    std::optional<std::string> saved_;
};

// Fields as given, not checked or normalised.
DateValue rawDate(int32_t year, int32_t month, int32_t day, int32_t hour = 0, int32_t minute = 0, int32_t second = 0,
                  int32_t millisecond = 0, bool isGmt = true)
{
    return DateValue{year, month, day, hour, minute, second, millisecond, 0, isGmt};
}

// A real date with its day of week filled in.
DateValue makeDate(int32_t year, int32_t month, int32_t day, int32_t hour = 0, int32_t minute = 0, int32_t second = 0,
                   int32_t millisecond = 0, bool isGmt = true)
{
    DateValue date = rawDate(year, month, day, hour, minute, second, millisecond, isGmt);
    date.normalise();
    return date;
}

// "yyyy-mm-dd hh:mm:ss.mmm w" with the weekday last, for one-line field checks.
std::string fields(const DateValue& date)
{
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d %d", date.year, date.month, date.day,
                  date.hour, date.minute, date.second, date.millisecond, date.dayOfWeek);
    return text;
}

// Skips the current test when the zone's rules are not installed (tzdata).
#define TN_REQUIRE_ZONE(zone)                                                                                          \
    if (!ScopedTimeZone::installed(zone)) GTEST_SKIP() << "time zone " << (zone) << " is not installed"

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
    // The same clock as now(): time() reads a coarser one, which may lag a tick behind.
    auto seconds = []
    {
        std::timespec clock{};
        std::timespec_get(&clock, TIME_UTC);
        return static_cast<int64_t>(clock.tv_sec);
    };
    const int64_t before = seconds();
    const DateValue now = DateValue::now();
    const int64_t after = seconds();
    EXPECT_TRUE(now.isGmt);
    const int64_t instant = (now.toInstant() - kUnixEpoch) / 10'000'000;
    EXPECT_GE(instant, before);
    EXPECT_LE(instant, after);
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

const DateValue kSample = makeDate(1994, 11, 6, 8, 49, 37, 250);

DateDisplaySettings settings(int32_t mode, bool localTime = true)
{
    return DateDisplaySettings{mode, localTime};
}

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

// The layouts, their letter case, blanks and year pivot are in tests/pages/lib/dates.htm and dates_more.htm.
TEST(DateValueHttpParser, ReadsGmtAndRefusesOtherShapes)
{
    DateValue gmt = rawDate(1, 1, 1, 1, 1, 1, 1, false);
    ASSERT_EQ(gmt.parseHttp("Sun, 06 Nov 1994 08:49:37 GMT"), ereturnvalue::OK);
    EXPECT_TRUE(gmt.isGmt);
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

TEST(DateValueDisplay, CLocaleModesInUtc)
{
    const ScopedTimeZone zone("UTC");
    // The seven modes, the 12-hour clock and blank dates are in tests/pages/lib/dates.htm;
    // the modes a script cannot set show the time alone.
    EXPECT_EQ(kSample.displayForm(settings(7)), "8:49:37 AM");
    EXPECT_EQ(kSample.displayForm(settings(-1)), "8:49:37 AM");

    // Fields the calendar refuses print nothing (tests/pages/lib/dates_more.htm), out-of-range ones too.
    EXPECT_EQ(rawDate(2003, 2, 30, 25).displayForm(settings(2, false)), " ");
}

// The local-time flag in display and parsing is in tests/pages/lib/dates_zone.htm and dates_more.htm.
TEST(DateValueLocale, DerivedDayFirstPatterns)
{
    const ScopedTimeZone zone("UTC");
    // A 24-hour, day-first locale as glibc describes it.
    const DateLocalePatterns patterns = datedetail::patternsFromLangInfo("%d.%m.%Y", "%T", "", "");

    std::string text;
    datedetail::appendDisplayForm(text, makeDate(1994, 11, 6, 20, 9, 7, 5), settings(1), patterns);
    EXPECT_EQ(text, "06.11.1994 20:09:07.005");
    text.clear();
    datedetail::appendDisplayForm(text, kSample, settings(3), patterns);
    EXPECT_EQ(text, "06.11.1994 08:49");

    // Its empty designators never match an empty piece.
    DateValue date;
    ASSERT_EQ(datedetail::parseLocale(date, "06.11.1994 20:49:37", settings(2, false), patterns), ereturnvalue::OK);
    EXPECT_EQ(fields(date), "1994-11-06 20:49:37.000 7");
    ASSERT_EQ(datedetail::parseLocale(date, "06.11.1994 8:", settings(2, false), patterns), ereturnvalue::OK);
    EXPECT_EQ(date.hour, 8);
    EXPECT_EQ(datedetail::parseLocale(date, "11/6/1994 8:49", settings(2, false), patterns),
              ereturnvalue::UnknownFormat);
}

TEST(DateValuePatterns, StrftimeSecondsSeparatorsAndQuotes)
{
    using datedetail::patternFromStrftime;
    using datedetail::patternSeparator;
    using datedetail::patternWithoutSeconds;
    EXPECT_EQ(patternFromStrftime("%m/%d/%Y"), "MM/dd/yyyy");
    EXPECT_EQ(patternFromStrftime("%-d/%-m/%y"), "d/M/yy");
    EXPECT_EQ(patternFromStrftime("%e.%m.%Y"), "d.MM.yyyy");
    EXPECT_EQ(patternFromStrftime("%D"), "MM/dd/yy");
    EXPECT_EQ(patternFromStrftime("%F"), "yyyy-MM-dd");
    EXPECT_EQ(patternFromStrftime("%r"), "hh:mm:ss tt");
    EXPECT_EQ(patternFromStrftime("%R"), "HH:mm");
    EXPECT_EQ(patternFromStrftime("%l:%M %p"), "h:mm tt");
    EXPECT_EQ(patternFromStrftime("%H h %M"), "HH' h 'mm");
    EXPECT_EQ(patternFromStrftime("%Y\xE5\xB9\xB4%m"), "yyyy\xE5\xB9\xB4MM");
    EXPECT_EQ(patternFromStrftime("%H:%M:%S %Z%%"), "HH:mm:ss %");
    EXPECT_EQ(patternFromStrftime("it's %"), "'it''s '");
    EXPECT_EQ(patternFromStrftime("a%Zb%Y"), "'ab'yyyy");

    EXPECT_EQ(patternWithoutSeconds("h:mm:ss tt"), "h:mm tt");
    EXPECT_EQ(patternWithoutSeconds("HH.mm.ss"), "HH.mm");
    EXPECT_EQ(patternWithoutSeconds("ss:mm"), "mm");
    EXPECT_EQ(patternWithoutSeconds("HH:mm"), "HH:mm");

    EXPECT_EQ(patternSeparator("dd.MM.yyyy", "/"), ".");
    EXPECT_EQ(patternSeparator("yyyy'-'MM'-'dd", "/"), "-");
    EXPECT_EQ(patternSeparator("yyyyMMdd", "/"), "/");
    EXPECT_EQ(patternSeparator("'x'", ":"), ":");

    // Quoted text is literal.
    std::string text;
    datedetail::appendPattern(text, "yyyy'y 'MM''d t", kSample, datedetail::cLocalePatterns());
    EXPECT_EQ(text, "1994y 11'6 A");
}

TEST(DateValueLocaleParser, CLocaleTexts)
{
    const struct
    {
        const char* text;
        ereturnvalue rc;
        const char* expected; // fields, or "blank"
    } rows[] = {
        // Most texts are in tests/pages/lib/dates.htm; these are the rest, with the result codes.
        {"11/6/1994\t8:49:37 AM", ereturnvalue::OK, "1994-11-06 08:49:37.000 7"},
        {"11/6/1994 14:00", ereturnvalue::OK, "1994-11-06 14:00:00.000 7"},
        {"11/6/1994 12:30 PM", ereturnvalue::OK, "1994-11-06 12:30:00.000 7"},
        // Only the PM designator is looked at, so 12 AM stays 12.
        {"11/6/1994 12:30 AM", ereturnvalue::OK, "1994-11-06 12:30:00.000 7"},
        // In range but not in the calendar.
        {"2/30/2003 1:00", ereturnvalue::OK, "blank"},
        {"8:49:37 PM", ereturnvalue::UnknownFormat, "blank"},
        {"11-6-1994 8:49", ereturnvalue::UnknownFormat, "blank"},
        {"11/6 8:49", ereturnvalue::UnknownFormat, "blank"},
        {"/ /", ereturnvalue::UnknownFormat, "blank"},
    };
    const ScopedTimeZone zone("UTC");
    for (const auto& row : rows)
    {
        DateValue date = kSample;
        EXPECT_EQ(date.parseLocale(row.text, settings(2, false)), row.rc) << row.text;
        EXPECT_EQ(date.isBlank() ? "blank" : fields(date), row.expected) << row.text;
    }
}

TEST(DateValueLocaleParser, ReadsBackTheDisplayForm)
{
    TN_REQUIRE_ZONE("America/New_York");
    const ScopedTimeZone zone("America/New_York");
    DateValue date = makeDate(2021, 3, 1, 1, 2, 3);
    for (int step = 0; step < 60; ++step, date.addMinutes(17 * 60 + 13))
    {
        const std::string text = date.displayForm(settings(2));
        if (text.find(" 12:") != std::string::npos && text.find("AM") != std::string::npos)
            continue; // midnight hour reads back as noon
        DateValue back;
        ASSERT_EQ(back.parseLocale(text, settings(2)), ereturnvalue::OK) << text;
        EXPECT_TRUE(back == date) << text << " read as " << back.httpForm();
    }
}

} // namespace
} // namespace tn
