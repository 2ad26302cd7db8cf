// The date value in text: its number helpers, the HTTP and log forms, and
// the display form and parser of the C and derived locales.
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

using datedetail::DateLocalePatterns;
using testing::fields;
using testing::makeDate;
using testing::rawDate;
using testing::ScopedTimeZone;

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
