#include "lib/date_value.h"
#include "lib/date_value_detail.h"

#include "lib/date_value_test_zone.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

using datedetail::DateLocalePatterns;
using testing::makeDate;
using testing::rawDate;
using testing::ScopedTimeZone;

const DateValue kSample = makeDate(1994, 11, 6, 8, 49, 37, 250);

DateDisplaySettings settings(int32_t mode, bool localTime = true)
{
    DateDisplaySettings result;
    result.mode = mode;
    result.localTime = localTime;
    return result;
}

// A 24-hour, day-first locale as glibc describes it.
DateLocalePatterns dayFirstPatterns()
{
    return datedetail::patternsFromLangInfo("%d.%m.%Y", "%T", "", "");
}

TEST(DateValueDisplay, CLocaleModesInUtc)
{
    const ScopedTimeZone zone("UTC");
    const char* expected[] = {"11/6/1994",
                              "11/6/1994 8:49:37 AM.250",
                              "11/6/1994 8:49:37 AM",
                              "11/6/1994 8:49 AM",
                              "8:49:37 AM.250",
                              "8:49:37 AM",
                              "8:49 AM"};
    for (int32_t mode = 0; mode <= 6; ++mode)
    {
        EXPECT_EQ(kSample.displayForm(settings(mode)), expected[mode]) << "mode " << mode;
        EXPECT_EQ(kSample.displayForm(settings(mode, false)), expected[mode]) << "mode " << mode;
    }
    // Unknown modes show the time alone.
    EXPECT_EQ(kSample.displayForm(settings(7)), "8:49:37 AM");
    EXPECT_EQ(kSample.displayForm(settings(-1)), "8:49:37 AM");

    std::string text = "[";
    kSample.appendDisplayForm(text, settings(0));
    EXPECT_EQ(text, "[11/6/1994");
}

TEST(DateValueDisplay, TwelveHourClock)
{
    const ScopedTimeZone zone("UTC");
    const auto shown = [](int32_t hour, int32_t minute)
    { return makeDate(2001, 1, 1, hour, minute).displayForm(settings(6)); };
    EXPECT_EQ(shown(0, 5), "12:05 AM");
    EXPECT_EQ(shown(11, 59), "11:59 AM");
    EXPECT_EQ(shown(12, 0), "12:00 PM");
    EXPECT_EQ(shown(13, 7), "1:07 PM");
    EXPECT_EQ(shown(23, 59), "11:59 PM");
}

TEST(DateValueDisplay, BlankAndImpossibleDates)
{
    for (int32_t mode = 0; mode <= 7; ++mode)
        EXPECT_EQ(DateValue().displayForm(settings(mode)), "");
    // Fields the calendar refuses print nothing; no conversion is attempted with the flag off.
    EXPECT_EQ(rawDate(2003, 2, 30, 8).displayForm(settings(0, false)), "");
    EXPECT_EQ(rawDate(2003, 2, 30, 25).displayForm(settings(2, false)), " ");
}

TEST(DateValueDisplay, ZoneFollowsTheLocalTimeFlag)
{
    TN_REQUIRE_ZONE("Asia/Kolkata");
    const ScopedTimeZone zone("Asia/Kolkata");
    EXPECT_EQ(kSample.displayForm(settings(2)), "11/6/1994 2:19:37 PM");
    EXPECT_EQ(kSample.displayForm(settings(2, false)), "11/6/1994 8:49:37 AM");

    DateValue local = kSample;
    local.isGmt = false;
    EXPECT_EQ(local.displayForm(settings(2)), "11/6/1994 8:49:37 AM");
    EXPECT_EQ(local.displayForm(settings(2, false)), "11/6/1994 3:19:37 AM");
    EXPECT_FALSE(local.isGmt); // the original is left alone
}

TEST(DateValueDisplay, DerivedDayFirstPatterns)
{
    const ScopedTimeZone zone("UTC");
    const DateLocalePatterns patterns = dayFirstPatterns();
    EXPECT_EQ(patterns.shortDate, "dd.MM.yyyy");
    EXPECT_EQ(patterns.time, "HH:mm:ss");
    EXPECT_EQ(patterns.timeNoSeconds, "HH:mm");
    EXPECT_EQ(patterns.dateSeparator, ".");
    EXPECT_EQ(patterns.timeSeparator, ":");

    std::string text;
    datedetail::appendDisplayForm(text, makeDate(1994, 11, 6, 20, 9, 7, 5), settings(1), patterns);
    EXPECT_EQ(text, "06.11.1994 20:09:07.005");
    text.clear();
    datedetail::appendDisplayForm(text, kSample, settings(3), patterns);
    EXPECT_EQ(text, "06.11.1994 08:49");
}

TEST(DateValuePatterns, StrftimeConversions)
{
    using datedetail::patternFromStrftime;
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
}

TEST(DateValuePatterns, SecondsAndSeparators)
{
    using datedetail::patternSeparator;
    using datedetail::patternWithoutSeconds;
    EXPECT_EQ(patternWithoutSeconds("h:mm:ss tt"), "h:mm tt");
    EXPECT_EQ(patternWithoutSeconds("HH.mm.ss"), "HH.mm");
    EXPECT_EQ(patternWithoutSeconds("ss:mm"), "mm");
    EXPECT_EQ(patternWithoutSeconds("HH:mm"), "HH:mm");

    EXPECT_EQ(patternSeparator("dd.MM.yyyy", "/"), ".");
    EXPECT_EQ(patternSeparator("yyyy'-'MM'-'dd", "/"), "-");
    EXPECT_EQ(patternSeparator("yyyyMMdd", "/"), "/");
    EXPECT_EQ(patternSeparator("'x'", ":"), ":");
}

TEST(DateValuePatterns, QuotedTextIsLiteral)
{
    std::string text;
    datedetail::appendPattern(text, "yyyy'y 'MM''d t", kSample, datedetail::cLocalePatterns());
    EXPECT_EQ(text, "1994y 11'6 A");
}

TEST(DateValueLocaleParser, CLocaleTexts)
{
    struct Case
    {
        const char* text;
        DateValue expected;
    };
    const Case cases[] = {
        {"11/6/1994 8:49:37 PM", makeDate(1994, 11, 6, 20, 49, 37)},
        {"11/6/1994 8:49 pm", makeDate(1994, 11, 6, 20, 49)},
        {"11/6/1994\t8:49:37 AM", makeDate(1994, 11, 6, 8, 49, 37)},
        {"11/6/1994 14:00", makeDate(1994, 11, 6, 14)},
        {"11/6/1994", makeDate(1994, 11, 6)},
        {"11/6/94", makeDate(1994, 11, 6)},
        {"1/2/49 1", makeDate(2049, 1, 2, 1)},
        {"11/6/1994 12:30 PM", makeDate(1994, 11, 6, 12, 30)},
        // Only the PM designator is looked at, so 12 AM stays 12.
        {"11/6/1994 12:30 AM", makeDate(1994, 11, 6, 12, 30)},
        // More clock pieces than the pattern has: the time is not read.
        {"11/6/1994 8:49:37:12:1 PM", makeDate(1994, 11, 6)},
        // In range but not in the calendar.
        {"2/30/2003 1:00", DateValue()},
        {"", DateValue()},
    };
    const ScopedTimeZone zone("UTC");
    for (const Case& c : cases)
    {
        DateValue date = kSample;
        EXPECT_EQ(date.parseLocale(c.text, settings(2, false)), RC::OK) << c.text;
        EXPECT_TRUE(date == c.expected) << c.text << " read as " << date.httpForm();
        if (!c.expected.isBlank())
        {
            EXPECT_EQ(date.dayOfWeek, c.expected.dayOfWeek) << c.text;
        }
    }
}

TEST(DateValueLocaleParser, RefusedTextsLeaveBlank)
{
    for (const char* text : {"hello", "8:49:37 PM", "13/1/2003 1:00", "11-6-1994 8:49", "11/6 8:49", "/ /"})
    {
        DateValue date = kSample;
        EXPECT_EQ(date.parseLocale(text, settings(2, false)), RC::UnknownFormat) << text;
        EXPECT_TRUE(date.isBlank()) << text;
    }
}

TEST(DateValueLocaleParser, LocalTextsBecomeGmt)
{
    TN_REQUIRE_ZONE("Asia/Kolkata");
    const ScopedTimeZone zone("Asia/Kolkata");
    DateValue date;
    ASSERT_EQ(date.parseLocale("11/6/1994 2:19:37 PM", settings(2)), RC::OK);
    EXPECT_TRUE(date.isGmt);
    EXPECT_TRUE(date == makeDate(1994, 11, 6, 8, 49, 37));

    ASSERT_EQ(date.parseLocale("11/6/1994 2:19:37 PM", settings(2, false)), RC::OK);
    EXPECT_TRUE(date == makeDate(1994, 11, 6, 14, 19, 37));
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
        ASSERT_EQ(back.parseLocale(text, settings(2)), RC::OK) << text;
        EXPECT_TRUE(back == date) << text << " read as " << back.httpForm();
    }
}

TEST(DateValueLocaleParser, DayFirstPatterns)
{
    const DateLocalePatterns patterns = dayFirstPatterns();
    DateValue date;
    ASSERT_EQ(datedetail::parseLocale(date, "06.11.1994 20:49:37", settings(2, false), patterns), RC::OK);
    EXPECT_TRUE(date == makeDate(1994, 11, 6, 20, 49, 37));
    // Empty designators never match an empty piece.
    ASSERT_EQ(datedetail::parseLocale(date, "06.11.1994 8:", settings(2, false), patterns), RC::OK);
    EXPECT_EQ(date.hour, 8);
    EXPECT_EQ(datedetail::parseLocale(date, "11/6/1994 8:49", settings(2, false), patterns), RC::UnknownFormat);
}

} // namespace
} // namespace tn
