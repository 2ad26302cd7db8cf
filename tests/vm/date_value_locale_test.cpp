#include "vm/date_value.h"
#include "vm/date_value_detail.h"

#include "vm/date_value_test_zone.h"

#include <gtest/gtest.h>

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

TEST(DateValueDisplay, CLocaleModesInUtc)
{
    const ScopedTimeZone zone("UTC");
    // The seven modes, the 12-hour clock and blank dates are in tests/pages/lib/dates.htm.
    EXPECT_EQ(kSample.displayForm(settings(1, false)), "11/6/1994 8:49:37 AM.250");
    // Unknown modes show the time alone.
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
