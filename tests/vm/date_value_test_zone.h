// Test helpers for the date value: a scoped TZ setting and date construction.
#pragma once

#include "common/result_codes.h"
#include "vm/date_value.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>

namespace tn::testing
{

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
inline DateValue rawDate(int32_t year, int32_t month, int32_t day, int32_t hour = 0, int32_t minute = 0,
                         int32_t second = 0, int32_t millisecond = 0, bool isGmt = true)
{
    return DateValue{year, month, day, hour, minute, second, millisecond, 0, isGmt};
}

// A real date with its day of week filled in.
inline DateValue makeDate(int32_t year, int32_t month, int32_t day, int32_t hour = 0, int32_t minute = 0,
                          int32_t second = 0, int32_t millisecond = 0, bool isGmt = true)
{
    DateValue date = rawDate(year, month, day, hour, minute, second, millisecond, isGmt);
    date.normalise();
    return date;
}

// "yyyy-mm-dd hh:mm:ss.mmm w" with the weekday last, for one-line field checks.
inline std::string fields(const DateValue& date)
{
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d %d", date.year, date.month, date.day,
                  date.hour, date.minute, date.second, date.millisecond, date.dayOfWeek);
    return text;
}

} // namespace tn::testing

// Skips the current test when the zone's rules are not installed (tzdata).
#define TN_REQUIRE_ZONE(zone)                                                                                          \
    if (!::tn::testing::ScopedTimeZone::installed(zone)) GTEST_SKIP() << "time zone " << (zone) << " is not installed"
