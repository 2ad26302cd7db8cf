// DateValue: the broken-down calendar date held by a date Value. Fields are
// GMT or local time (isGmt); arithmetic and zone changes go through the
// 64-bit instant (100-ns units since 1601-01-01, proleptic Gregorian).
#pragma once

#include "common/result_codes.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tn
{

// How a running script shows dates as text: display mode 0..6 and whether
// dates are shown in local time.
struct DateDisplaySettings
{
    int32_t mode = 2;
    bool localTime = true;
};

struct DateValue
{
    int32_t year = 0;
    int32_t month = 0; // 0 marks the blank date
    int32_t day = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    int32_t millisecond = 0;
    int32_t dayOfWeek = 0; // 1 Monday .. 7 Sunday
    bool isGmt = true;

    bool isBlank() const noexcept { return month == 0; }
    void makeBlank() noexcept; // year..millisecond and isGmt; dayOfWeek is kept

    // Equality and ordering over year..millisecond only.
    bool operator==(const DateValue& other) const noexcept;
    int compare(const DateValue& other) const noexcept; // -1, 0, 1

    ereturnvalue validate() const noexcept; // OK or DataError
    ereturnvalue normalise() noexcept;      // OK or UnknownFormat

    static DateValue now();
    static DateValue today();

    int64_t toInstant() const noexcept; // 0 for blank or refused fields
    void fromInstant(int64_t instant) noexcept;

    ereturnvalue toLocal() noexcept; // GMT -> local
    ereturnvalue toGmt() noexcept;   // local -> GMT
    // Zone bias in minutes (UTC minus local) at the current instant.
    static int32_t zoneOffsetMinutes() noexcept;

    void addMilliseconds(int32_t n) noexcept;
    void addSeconds(int32_t n) noexcept;
    void addMinutes(int32_t n) noexcept;
    void addHours(int32_t n) noexcept;
    void addDays(int32_t n) noexcept;
    void addMonths(int32_t n) noexcept;
    void addYears(int32_t n) noexcept;

    // Milliseconds from [other] to this date (this - other), truncated toward zero.
    int64_t differenceMs(const DateValue& other) const noexcept;

    // Text forms. The HTTP form is also the plain text form of a date value.
    std::string httpForm() const;    // "Sun, 06 Nov 1994 08:49:37 GMT"; "BLANK"
    std::string compactForm() const; // "1994110608:49:37:000"
    std::string logForm() const;     // "1994/11/06 08:49:37.000 7"[ " +0530"]; "BLANK"
    std::string displayForm(const DateDisplaySettings& settings) const;
    void appendHttpForm(std::string& out) const;
    void appendDisplayForm(std::string& out, const DateDisplaySettings& settings) const;

    // Parsers: replace this date; on failure leave the blank date.
    ereturnvalue parseHttp(std::string_view text);
    ereturnvalue parseCompact(std::string_view text);
    ereturnvalue parseLocale(std::string_view text, const DateDisplaySettings& settings);
};

} // namespace tn
