// Internals shared by the date value sources: tick units, calendar checks,
// number reading and writing, and the locale pattern machinery. Exposed so
// tests can drive the pattern code with locales this machine may not have.
#pragma once

#include "vm/date_value.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tn::datedetail
{

constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerMinute = 600'000'000;
constexpr int64_t kTicksPerHour = 36'000'000'000;
constexpr int64_t kTicksPerDay = 864'000'000'000;
// 1970-01-01 00:00 in ticks since 1601-01-01.
constexpr int64_t kUnixEpochTicks = 116'444'736'000'000'000;

// Whether the fields name a real day, or a real time of day, that the
// instant conversion accepts.
bool isCalendarDate(int32_t year, int32_t month, int32_t day) noexcept;
bool isClockTime(int32_t hour, int32_t minute, int32_t second, int32_t millisecond) noexcept;

// Leading decimal integer, read as the 32-bit atoi reads it: white space
// skipped, optional sign, saturating at the int32 limits.
int32_t readDecimal(std::string_view text) noexcept;
// printf("%0*d", width, value) without the formatting machinery; [out] needs
// room for max(width, 11) characters.
char* writePadded(char* out, int32_t value, int width) noexcept;
void appendPadded(std::string& out, int32_t value, int width);

// Date and time patterns in the letters d dd M MM yy yyyy h hh H HH m mm s ss
// t tt; text between single quotes is literal.
struct DateLocalePatterns
{
    std::string shortDate;
    std::string time;
    std::string timeNoSeconds;
    std::string dateSeparator;
    std::string timeSeparator;
    std::string am;
    std::string pm;
};

// The process's patterns, read from LC_TIME the first time they are needed.
const DateLocalePatterns& localePatterns();
DateLocalePatterns cLocalePatterns();
DateLocalePatterns patternsFromLangInfo(std::string_view dateFormat, std::string_view timeFormat, std::string_view am,
                                        std::string_view pm);

// strftime format -> pattern; conversions without a pattern letter are dropped.
std::string patternFromStrftime(std::string_view format);
// Drops the seconds and the separator that leads to them.
std::string patternWithoutSeconds(std::string_view pattern);
// Literal text between the first two fields, or [fallback] when there is none.
std::string patternSeparator(std::string_view pattern, std::string_view fallback);

void appendPattern(std::string& out, std::string_view pattern, const DateValue& date,
                   const DateLocalePatterns& patterns);
void appendDisplayForm(std::string& out, const DateValue& date, const DateDisplaySettings& settings,
                       const DateLocalePatterns& patterns);
ereturnvalue parseLocale(DateValue& date, std::string_view text, const DateDisplaySettings& settings,
                         const DateLocalePatterns& patterns);

} // namespace tn::datedetail
