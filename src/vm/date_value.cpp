// DateValue fields, instants, zone conversion and arithmetic.
#include "vm/date_value.h"

#include "vm/date_value_detail.h"

#include <ctime>
#include <limits>

namespace tn
{

using namespace datedetail;

namespace
{

constexpr int32_t kFirstYear = 1601;
constexpr int32_t kLastYear = 30827;

// Days since 0000-03-01 of the proleptic Gregorian calendar. Counting from
// March puts the leap day at the end of the counted year.
constexpr int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) noexcept
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra;
}

constexpr int64_t kFirstDay = daysFromCivil(kFirstYear, 1, 1);
constexpr int64_t kLastTick = (daysFromCivil(kLastYear, 12, 31) - kFirstDay + 1) * kTicksPerDay - 1;

struct CivilDate
{
    int32_t year;
    int32_t month;
    int32_t day;
};

CivilDate civilFromDays(int64_t days) noexcept
{
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    const int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    return {static_cast<int32_t>(year), static_cast<int32_t>(month), static_cast<int32_t>(day)};
}

constexpr bool isLeapYear(int32_t year) noexcept
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int64_t floorDiv(int64_t value, int64_t divisor) noexcept
{
    const int64_t quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

// Local time minus UTC, in ticks, at a UTC instant. The offset is cut to whole
// minutes like the zone bias; 0 when the C library cannot tell.
int64_t localOffsetTicks(int64_t utcTicks) noexcept
{
    int64_t seconds = floorDiv(utcTicks - kUnixEpochTicks, kTicksPerSecond);
    // Only matters where time_t is narrower than 64 bits: use the nearest time it can hold.
    constexpr int64_t kMinTime = static_cast<int64_t>(std::numeric_limits<std::time_t>::min());
    constexpr int64_t kMaxTime = static_cast<int64_t>(std::numeric_limits<std::time_t>::max());
    if (seconds < kMinTime) seconds = kMinTime;
    if (seconds > kMaxTime) seconds = kMaxTime;
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm parts{};
    if (localtime_r(&when, &parts) == nullptr) return 0;
    return static_cast<int64_t>(parts.tm_gmtoff / 60) * kTicksPerMinute;
}

// UTC instant of a local wall-clock time. Tries the offsets in force a day
// before, at and a day after; of those that reproduce the wall time, the
// earliest wins (the first pass through a repeated hour). A wall time that a
// forward change skips is read with the offset in force before the change.
int64_t utcFromLocal(int64_t localTicks) noexcept
{
    const int64_t probes[3] = {localTicks - kTicksPerDay, localTicks, localTicks + kTicksPerDay};
    bool found = false;
    int64_t best = 0;
    for (const int64_t probe : probes)
    {
        const int64_t offset = localOffsetTicks(probe);
        const int64_t candidate = localTicks - offset;
        if (localOffsetTicks(candidate) == offset && (!found || candidate < best))
        {
            best = candidate;
            found = true;
        }
    }
    return found ? best : localTicks - localOffsetTicks(probes[0]);
}

// Adds count * unit ticks; an overflow lands outside the calendar and blanks the date.
void shiftInstant(DateValue& date, int64_t count, int64_t unit) noexcept
{
    int64_t delta = 0;
    int64_t shifted = -1;
    if (!__builtin_mul_overflow(count, unit, &delta) && !__builtin_add_overflow(date.toInstant(), delta, &shifted))
        date.fromInstant(shifted);
    else
        date.fromInstant(-1);
}

// Wrapping int32 addition: garbage fields must not make arithmetic undefined.
int32_t wrapAdd(int32_t a, int64_t b) noexcept
{
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(a) + b));
}

} // namespace

bool datedetail::isCalendarDate(int32_t year, int32_t month, int32_t day) noexcept
{
    static constexpr int32_t kMonthDays[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1) return false;
    const int32_t monthDays = kMonthDays[month] + (month == 2 && isLeapYear(year) ? 1 : 0);
    return day <= monthDays;
}

bool datedetail::isClockTime(int32_t hour, int32_t minute, int32_t second, int32_t millisecond) noexcept
{
    return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 && millisecond >= 0 &&
           millisecond < 1000;
}

void DateValue::makeBlank() noexcept
{
    year = 0;
    month = 0;
    day = 0;
    hour = 0;
    minute = 0;
    second = 0;
    millisecond = 0;
    isGmt = true;
}

bool DateValue::operator==(const DateValue& other) const noexcept
{
    return compare(other) == 0;
}

int DateValue::compare(const DateValue& other) const noexcept
{
    const int32_t mine[7] = {year, month, day, hour, minute, second, millisecond};
    const int32_t theirs[7] = {other.year,   other.month,  other.day,        other.hour,
                               other.minute, other.second, other.millisecond};
    for (int i = 0; i < 7; ++i)
    {
        if (mine[i] != theirs[i]) return mine[i] < theirs[i] ? -1 : 1;
    }
    return 0;
}

ereturnvalue DateValue::validate() const noexcept
{
    const bool inRange = month >= 1 && month <= 12 && day >= 1 && day <= 31 && dayOfWeek >= 1 && dayOfWeek <= 7 &&
                         isClockTime(hour, minute, second, millisecond);
    return inRange ? ereturnvalue::OK : ereturnvalue::DataError;
}

ereturnvalue DateValue::normalise() noexcept
{
    // The weekday is recomputed below, so a stale one must not fail the range test.
    const int32_t oldDayOfWeek = dayOfWeek;
    dayOfWeek = 1;
    if (validate() != ereturnvalue::OK)
    {
        dayOfWeek = oldDayOfWeek;
        return ereturnvalue::UnknownFormat;
    }
    fromInstant(toInstant());
    return ereturnvalue::OK;
}

DateValue DateValue::now()
{
    std::timespec clock{};
    std::timespec_get(&clock, TIME_UTC);
    DateValue date;
    date.fromInstant(kUnixEpochTicks + static_cast<int64_t>(clock.tv_sec) * kTicksPerSecond + clock.tv_nsec / 100);
    date.isGmt = true;
    return date;
}

DateValue DateValue::today()
{
    DateValue date = now();
    date.hour = 0;
    date.minute = 0;
    date.second = 0;
    date.millisecond = 0;
    return date;
}

int64_t DateValue::toInstant() const noexcept
{
    if (isBlank() || !isCalendarDate(year, month, day) || !isClockTime(hour, minute, second, millisecond)) return 0;
    const int64_t days = daysFromCivil(year, month, day) - kFirstDay;
    return days * kTicksPerDay + hour * kTicksPerHour + minute * kTicksPerMinute + second * kTicksPerSecond +
           millisecond * kTicksPerMillisecond;
}

void DateValue::fromInstant(int64_t instant) noexcept
{
    if (instant <= 0 || instant > kLastTick)
    {
        makeBlank();
        return;
    }
    const int64_t days = instant / kTicksPerDay;
    const int64_t ticksOfDay = instant % kTicksPerDay;
    const CivilDate civil = civilFromDays(days + kFirstDay);
    year = civil.year;
    month = civil.month;
    day = civil.day;
    hour = static_cast<int32_t>(ticksOfDay / kTicksPerHour);
    minute = static_cast<int32_t>(ticksOfDay % kTicksPerHour / kTicksPerMinute);
    second = static_cast<int32_t>(ticksOfDay % kTicksPerMinute / kTicksPerSecond);
    millisecond = static_cast<int32_t>(ticksOfDay % kTicksPerSecond / kTicksPerMillisecond);
    // 1601-01-01 was a Monday.
    dayOfWeek = static_cast<int32_t>(days % 7) + 1;
}

ereturnvalue DateValue::toLocal() noexcept
{
    if (!isGmt) return ereturnvalue::Programing;
    if (isBlank()) return ereturnvalue::Empty;
    const int64_t instant = toInstant();
    // Fields the calendar refuses have no instant to move.
    if (instant == 0)
        makeBlank();
    else
        fromInstant(instant + localOffsetTicks(instant));
    isGmt = false;
    return ereturnvalue::OK;
}

ereturnvalue DateValue::toGmt() noexcept
{
    if (isGmt) return ereturnvalue::Programing;
    if (isBlank()) return ereturnvalue::Empty;
    const int64_t instant = toInstant();
    if (instant == 0)
        makeBlank();
    else
        fromInstant(utcFromLocal(instant));
    isGmt = true;
    return ereturnvalue::OK;
}

int32_t DateValue::zoneOffsetMinutes() noexcept
{
    const std::time_t current = std::time(nullptr);
    std::tm parts{};
    if (localtime_r(&current, &parts) == nullptr) return 0;
    return static_cast<int32_t>(-(parts.tm_gmtoff / 60));
}

void DateValue::addMilliseconds(int32_t n) noexcept
{
    shiftInstant(*this, n, kTicksPerMillisecond);
}

void DateValue::addSeconds(int32_t n) noexcept
{
    shiftInstant(*this, n, kTicksPerSecond);
}

void DateValue::addMinutes(int32_t n) noexcept
{
    shiftInstant(*this, n, kTicksPerMinute);
}

void DateValue::addHours(int32_t n) noexcept
{
    shiftInstant(*this, n, kTicksPerHour);
}

void DateValue::addDays(int32_t n) noexcept
{
    shiftInstant(*this, n, kTicksPerDay);
}

void DateValue::addMonths(int32_t n) noexcept
{
    const int64_t sum = static_cast<int64_t>(month) + n;
    if (sum >= 13)
    {
        year = wrapAdd(year, (sum - 1) / 12);
        month = static_cast<int32_t>((sum - 1) % 12 + 1);
    }
    else if (sum <= 0 && month >= 1 && month <= 12)
    {
        // Going back past January borrows whole years; a blank or broken month is left as the plain sum.
        const int64_t yearsBack = (12 - sum) / 12;
        year = wrapAdd(year, -yearsBack);
        month = static_cast<int32_t>(sum + yearsBack * 12);
    }
    else
    {
        month = static_cast<int32_t>(static_cast<uint32_t>(sum));
    }
}

void DateValue::addYears(int32_t n) noexcept
{
    year = wrapAdd(year, n);
}

int64_t DateValue::differenceMs(const DateValue& other) const noexcept
{
    return (toInstant() - other.toInstant()) / kTicksPerMillisecond;
}

} // namespace tn
