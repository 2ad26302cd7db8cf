// DateValue HTTP, compact and log forms and their parsers.
#include "common/ascii.h"
#include "vm/date_value.h"

#include "vm/date_value_detail.h"

#include <array>
#include <cstring>
#include <limits>

namespace tn
{

using namespace datedetail;

namespace
{

constexpr const char* kShortDayNames[8] = {"XXXXX", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr const char* kShortMonthNames[13] = {"XXXXX", "Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul",   "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kFullDayNames[7] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};

// Broken fields fall back to the filler rather than reading past the tables.
const char* shortDayName(int32_t dayOfWeek) noexcept
{
    return dayOfWeek >= 1 && dayOfWeek <= 7 ? kShortDayNames[dayOfWeek] : kShortDayNames[0];
}

const char* shortMonthName(int32_t month) noexcept
{
    return month >= 1 && month <= 12 ? kShortMonthNames[month] : kShortMonthNames[0];
}

char* writeText(char* out, const char* text) noexcept
{
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
}

// The first few pieces of a split plus the total count; layouts only ever
// need a handful, and a long run of separators must not allocate.
struct Pieces
{
    static constexpr size_t kCapacity = 8;
    std::array<std::string_view, kCapacity> items;
    size_t count = 0;

    void add(std::string_view piece) noexcept
    {
        if (count < kCapacity) items[count] = piece;
        ++count;
    }
};

// Runs of blanks count as one separator; blanks at either end make no piece.
Pieces splitAtBlanks(std::string_view text) noexcept
{
    Pieces pieces;
    size_t pos = 0;
    while (pos < text.size())
    {
        while (pos < text.size() && text[pos] == ' ')
            ++pos;
        const size_t start = pos;
        while (pos < text.size() && text[pos] != ' ')
            ++pos;
        if (pos > start) pieces.add(text.substr(start, pos - start));
    }
    return pieces;
}

Pieces splitAt(std::string_view text, char separator) noexcept
{
    Pieces pieces;
    size_t start = 0;
    for (size_t pos = 0; pos < text.size(); ++pos)
    {
        if (text[pos] == separator)
        {
            pieces.add(text.substr(start, pos - start));
            start = pos + 1;
        }
    }
    pieces.add(text.substr(start));
    return pieces;
}

int32_t widenTwoDigitYear(int32_t year) noexcept
{
    if (year >= 0 && year <= 49) return year + 2000;
    if (year >= 50 && year <= 99) return year + 1900;
    return year;
}

// Unknown names leave the field as it was.
void matchShortDayName(DateValue& date, std::string_view name) noexcept
{
    for (int32_t i = 1; i <= 7; ++i)
    {
        if (EqualsIgnoreCase(name, kShortDayNames[i])) date.dayOfWeek = i;
    }
}

void matchFullDayName(DateValue& date, std::string_view name) noexcept
{
    for (int32_t i = 0; i < 7; ++i)
    {
        if (EqualsIgnoreCase(name, kFullDayNames[i])) date.dayOfWeek = i + 1;
    }
}

void matchMonthName(DateValue& date, std::string_view name) noexcept
{
    for (int32_t i = 1; i <= 12; ++i)
    {
        if (EqualsIgnoreCase(name, kShortMonthNames[i])) date.month = i;
    }
}

bool readClock(DateValue& date, std::string_view text) noexcept
{
    const Pieces parts = splitAt(text, ':');
    if (parts.count != 3) return false;
    date.hour = readDecimal(parts.items[0]);
    date.minute = readDecimal(parts.items[1]);
    date.second = readDecimal(parts.items[2]);
    return true;
}

// Sun, 06 Nov 1994 08:49:37 GMT
bool readRfc1123(DateValue& date, const Pieces& pieces) noexcept
{
    const std::string_view weekday = pieces.items[0];
    if (weekday.size() != 4 || weekday[3] != ',' || pieces.items[2].size() != 3 || pieces.items[5] != "GMT")
        return false;
    matchShortDayName(date, weekday.substr(0, 3));
    date.day = readDecimal(pieces.items[1]);
    matchMonthName(date, pieces.items[2]);
    date.year = readDecimal(pieces.items[3]);
    return readClock(date, pieces.items[4]);
}

// Sunday, 06-Nov-94 08:49:37 GMT
bool readRfc850(DateValue& date, const Pieces& pieces) noexcept
{
    if (pieces.items[3] != "GMT") return false;
    const std::string_view weekday = pieces.items[0];
    if (!weekday.empty() && weekday.back() == ',') matchFullDayName(date, weekday.substr(0, weekday.size() - 1));
    const Pieces dayMonthYear = splitAt(pieces.items[1], '-');
    if (dayMonthYear.count != 3) return false;
    date.day = readDecimal(dayMonthYear.items[0]);
    matchMonthName(date, dayMonthYear.items[1]);
    date.year = widenTwoDigitYear(readDecimal(dayMonthYear.items[2]));
    return readClock(date, pieces.items[2]);
}

// Sun Nov  6 08:49:37 1994
bool readAsctime(DateValue& date, const Pieces& pieces) noexcept
{
    matchShortDayName(date, pieces.items[0].substr(0, 3));
    matchMonthName(date, pieces.items[1]);
    date.day = readDecimal(pieces.items[2]);
    date.year = readDecimal(pieces.items[4]);
    return readClock(date, pieces.items[3]);
}

} // namespace

int32_t datedetail::readDecimal(std::string_view text) noexcept
{
    size_t pos = 0;
    while (pos < text.size() && (text[pos] == ' ' || (text[pos] >= '\t' && text[pos] <= '\r')))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
    {
        negative = text[pos] == '-';
        ++pos;
    }
    // Accumulate the magnitude up to one past INT32_MAX so both limits saturate.
    constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
    {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > kLimit) magnitude = kLimit;
    }
    if (negative) return static_cast<int32_t>(-magnitude);
    return static_cast<int32_t>(magnitude == kLimit ? kLimit - 1 : magnitude);
}

char* datedetail::writePadded(char* out, int32_t value, int width) noexcept
{
    char digits[10];
    int count = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do
    {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
    {
        *out++ = '-';
        --width;
    }
    for (int i = count; i < width; ++i)
        *out++ = '0';
    while (count > 0)
        *out++ = digits[--count];
    return out;
}

void datedetail::appendPadded(std::string& out, int32_t value, int width)
{
    char buffer[16];
    const char* end = writePadded(buffer, value, width < 12 ? width : 12);
    out.append(buffer, static_cast<size_t>(end - buffer));
}

std::string DateValue::httpForm() const
{
    std::string text;
    appendHttpForm(text);
    return text;
}

void DateValue::appendHttpForm(std::string& out) const
{
    if (isBlank())
    {
        out += "BLANK";
        return;
    }
    char buffer[128];
    char* p = writeText(buffer, shortDayName(dayOfWeek));
    p = writeText(p, ", ");
    p = writePadded(p, day, 2);
    *p++ = ' ';
    p = writeText(p, shortMonthName(month));
    *p++ = ' ';
    p = writePadded(p, year, 4);
    *p++ = ' ';
    p = writePadded(p, hour, 2);
    *p++ = ':';
    p = writePadded(p, minute, 2);
    *p++ = ':';
    p = writePadded(p, second, 2);
    p = writeText(p, " GMT");
    out.append(buffer, static_cast<size_t>(p - buffer));
}

std::string DateValue::compactForm() const
{
    if (isBlank()) return "0000000000:00:00:000";
    char buffer[128];
    char* p = writePadded(buffer, year, 4);
    p = writePadded(p, month, 2);
    p = writePadded(p, day, 2);
    p = writePadded(p, hour, 2);
    *p++ = ':';
    p = writePadded(p, minute, 2);
    *p++ = ':';
    p = writePadded(p, second, 2);
    *p++ = ':';
    p = writePadded(p, millisecond, 3);
    return std::string(buffer, static_cast<size_t>(p - buffer));
}

std::string DateValue::logForm() const
{
    if (isBlank()) return "BLANK";
    char buffer[128];
    char* p = writePadded(buffer, year, 4);
    *p++ = '/';
    p = writePadded(p, month, 2);
    *p++ = '/';
    p = writePadded(p, day, 2);
    *p++ = ' ';
    p = writePadded(p, hour, 2);
    *p++ = ':';
    p = writePadded(p, minute, 2);
    *p++ = ':';
    p = writePadded(p, second, 2);
    *p++ = '.';
    p = writePadded(p, millisecond, 3);
    *p++ = ' ';
    p = writePadded(p, dayOfWeek, 0);
    const int32_t bias = zoneOffsetMinutes();
    if (bias != 0)
    {
        // A GMT date keeps the zone's sign but shows no offset.
        const int32_t shown = isGmt ? 0 : (bias < 0 ? -bias : bias);
        *p++ = ' ';
        *p++ = bias < 0 ? '+' : '-';
        p = writePadded(p, shown / 60, 2);
        p = writePadded(p, shown % 60, 2);
    }
    return std::string(buffer, static_cast<size_t>(p - buffer));
}

ereturnvalue DateValue::parseHttp(std::string_view text)
{
    makeBlank();
    const Pieces pieces = splitAtBlanks(text);
    bool matched = false;
    switch (pieces.count)
    {
    case 6:
        matched = readRfc1123(*this, pieces);
        break;
    case 4:
        matched = readRfc850(*this, pieces);
        break;
    case 5:
        matched = readAsctime(*this, pieces);
        break;
    default:
        break;
    }
    if (!matched || validate() != ereturnvalue::OK)
    {
        makeBlank();
        return ereturnvalue::UnknownFormat;
    }
    return ereturnvalue::OK;
}

ereturnvalue DateValue::parseCompact(std::string_view text)
{
    makeBlank();
    if (text.size() != 20 && text.size() != 16) return ereturnvalue::UnknownFormat;
    if (text[0] == ' ') return ereturnvalue::OK;
    year = readDecimal(text.substr(0, 4));
    month = readDecimal(text.substr(4, 2));
    day = readDecimal(text.substr(6, 2));
    hour = readDecimal(text.substr(8, 2));
    minute = readDecimal(text.substr(11, 2));
    second = readDecimal(text.substr(14, 2));
    if (text.size() == 20) millisecond = readDecimal(text.substr(17, 3));
    const ereturnvalue result = normalise();
    if (result != ereturnvalue::OK) makeBlank();
    return result;
}

} // namespace tn
