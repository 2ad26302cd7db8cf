// DateValue display form and locale parser, driven by LC_TIME patterns.
#include "vm/date_value.h"

#include "common/ascii.h"
#include "vm/date_value_detail.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>

namespace tn
{

using namespace datedetail;

namespace
{

bool isPatternLetter(char c) noexcept
{
    return c == 'd' || c == 'M' || c == 'y' || c == 'h' || c == 'H' || c == 'm' || c == 's' || c == 't';
}

// A run of one pattern letter (letter set) or a stretch of literal text,
// quotes included (letter 0).
struct PatternToken
{
    char letter = 0;
    int count = 0;
    std::string_view raw;
};

size_t skipQuoted(std::string_view pattern, size_t pos) noexcept
{
    ++pos; // opening quote
    while (pos < pattern.size())
    {
        if (pattern[pos] == '\'')
        {
            if (pos + 1 < pattern.size() && pattern[pos + 1] == '\'')
            {
                pos += 2;
                continue;
            }
            return pos + 1;
        }
        ++pos;
    }
    return pos;
}

PatternToken nextToken(std::string_view pattern, size_t& pos) noexcept
{
    PatternToken token;
    const size_t start = pos;
    if (isPatternLetter(pattern[pos]))
    {
        token.letter = pattern[pos];
        while (pos < pattern.size() && pattern[pos] == token.letter)
            ++pos;
        token.count = static_cast<int>(pos - start);
    }
    else
    {
        while (pos < pattern.size() && !isPatternLetter(pattern[pos]))
            pos = pattern[pos] == '\'' ? skipQuoted(pattern, pos) : pos + 1;
    }
    token.raw = pattern.substr(start, pos - start);
    return token;
}

void appendUnquoted(std::string& out, std::string_view raw)
{
    for (size_t i = 0; i < raw.size(); ++i)
    {
        if (raw[i] != '\'')
            out += raw[i];
        else if (i + 1 < raw.size() && raw[i + 1] == '\'')
            out += raw[i++];
    }
}

void appendNumber(std::string& out, int32_t value, int count)
{
    appendPadded(out, value, count >= 2 ? 2 : 1);
}

void appendField(std::string& out, const PatternToken& token, const DateValue& date, const DateLocalePatterns& patterns)
{
    switch (token.letter)
    {
    case 'd':
        appendNumber(out, date.day, token.count);
        break;
    case 'M':
        appendNumber(out, date.month, token.count);
        break;
    case 'y':
        if (token.count >= 3)
            appendPadded(out, date.year, 4);
        else
            appendNumber(out, (date.year % 100 + 100) % 100, token.count);
        break;
    case 'h':
        appendNumber(out, date.hour % 12 == 0 ? 12 : date.hour % 12, token.count);
        break;
    case 'H':
        appendNumber(out, date.hour, token.count);
        break;
    case 'm':
        appendNumber(out, date.minute, token.count);
        break;
    case 's':
        appendNumber(out, date.second, token.count);
        break;
    case 't':
    {
        const std::string& designator = date.hour < 12 ? patterns.am : patterns.pm;
        if (token.count == 1)
            out.append(designator, 0, 1);
        else
            out += designator;
        break;
    }
    default:
        break;
    }
}

// Literal text goes out as one run, quoted when it holds letters (or quotes)
// that would otherwise read as fields. One run per stretch keeps quoted runs
// from touching, since '' inside quotes stands for a quote.
void flushLiteral(std::string& out, std::string& literal)
{
    bool needsQuotes = false;
    for (const char c : literal)
        needsQuotes |= c == '\'' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!needsQuotes)
        out += literal;
    else
    {
        out += '\'';
        for (const char c : literal)
        {
            out += c;
            if (c == '\'') out += '\'';
        }
        out += '\'';
    }
    literal.clear();
}

void appendPatternField(std::string& out, std::string& literal, const char* field)
{
    flushLiteral(out, literal);
    out += field;
}

void appendFromStrftime(std::string& out, std::string& literal, std::string_view format, int depth)
{
    for (size_t pos = 0; pos < format.size(); ++pos)
    {
        if (format[pos] != '%')
        {
            literal += format[pos];
            continue;
        }
        // GNU flags and widths; '-' asks for no padding.
        bool unpadded = false;
        ++pos;
        while (pos < format.size() && format[pos] != '\0' && std::strchr("-_0^#", format[pos]) != nullptr)
            unpadded |= format[pos++] == '-';
        while (pos < format.size() && format[pos] >= '0' && format[pos] <= '9')
            ++pos;
        while (pos < format.size() && (format[pos] == 'E' || format[pos] == 'O'))
            ++pos;
        if (pos >= format.size()) break;
        const char* field = nullptr;
        const char* replacement = nullptr;
        switch (format[pos])
        {
        case 'd':
            field = unpadded ? "d" : "dd";
            break;
        case 'e':
            field = "d";
            break;
        case 'm':
            field = unpadded ? "M" : "MM";
            break;
        case 'y':
            field = "yy";
            break;
        case 'Y':
            field = "yyyy";
            break;
        case 'H':
            field = unpadded ? "H" : "HH";
            break;
        case 'k':
            field = "H";
            break;
        case 'I':
            field = unpadded ? "h" : "hh";
            break;
        case 'l':
            field = "h";
            break;
        case 'M':
            field = unpadded ? "m" : "mm";
            break;
        case 'S':
            field = unpadded ? "s" : "ss";
            break;
        case 'p':
        case 'P':
            field = "tt";
            break;
        case 'T':
            replacement = "%H:%M:%S";
            break;
        case 'R':
            replacement = "%H:%M";
            break;
        case 'D':
            replacement = "%m/%d/%y";
            break;
        case 'r':
            replacement = "%I:%M:%S %p";
            break;
        case 'F':
            replacement = "%Y-%m-%d";
            break;
        case '%':
            literal += '%';
            break;
        case 'n':
        case 't':
            literal += ' ';
            break;
        default:
            break;
        }
        if (field != nullptr)
            appendPatternField(out, literal, field);
        else if (replacement != nullptr && depth == 0)
            appendFromStrftime(out, literal, replacement, depth + 1);
    }
}

bool isCLocaleName(const char* name) noexcept
{
    return std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 || std::strncmp(name, "C.", 2) == 0;
}

DateLocalePatterns loadLocalePatterns()
{
    // LC_TIME only: the other categories must keep the C behaviour ("." decimal point).
    const char* name = std::setlocale(LC_TIME, "");
    if (name == nullptr) name = std::setlocale(LC_TIME, nullptr);
    if (name == nullptr || isCLocaleName(name)) return cLocalePatterns();
    return patternsFromLangInfo(nl_langinfo(D_FMT), nl_langinfo(T_FMT), nl_langinfo(AM_STR), nl_langinfo(PM_STR));
}

// Splits at the first blank or tab; the second part starts after the blanks and tabs that follow.
void splitAtFirstBlank(std::string_view text, std::string_view& head, std::string_view& tail) noexcept
{
    const size_t blank = text.find_first_of(" \t");
    if (blank == std::string_view::npos)
    {
        head = text;
        tail = {};
        return;
    }
    head = text.substr(0, blank);
    const size_t rest = text.find_first_not_of(" \t", blank);
    tail = rest == std::string_view::npos ? std::string_view{} : text.substr(rest);
}

struct PieceList
{
    static constexpr size_t kCapacity = 16;
    std::string_view items[kCapacity];
    size_t count = 0;

    void add(std::string_view piece) noexcept
    {
        if (count < kCapacity) items[count] = piece;
        ++count;
    }
};

// Empty text gives no pieces, so a missing part never matches a pattern.
void splitAt(std::string_view text, std::string_view separator, PieceList& pieces) noexcept
{
    if (text.empty()) return;
    if (separator.empty())
    {
        pieces.add(text);
        return;
    }
    size_t start = 0;
    for (size_t found = text.find(separator); found != std::string_view::npos; found = text.find(separator, start))
    {
        pieces.add(text.substr(start, found - start));
        start = found + separator.size();
    }
    pieces.add(text.substr(start));
}

// Clock pieces at the separator, then whatever follows a blank (the designator) as one more piece.
void splitClock(std::string_view text, std::string_view separator, PieceList& pieces) noexcept
{
    std::string_view clock;
    std::string_view designator;
    splitAtFirstBlank(text, clock, designator);
    splitAt(clock, separator, pieces);
    if (!designator.empty()) pieces.add(designator);
}

void readDateFields(DateValue& date, std::string_view text, std::string_view pattern,
                    const DateLocalePatterns& patterns)
{
    PieceList patternPieces;
    PieceList textPieces;
    splitAt(pattern, patterns.dateSeparator, patternPieces);
    splitAt(text, patterns.dateSeparator, textPieces);
    if (textPieces.count == 0 || textPieces.count != patternPieces.count) return;
    const size_t count = textPieces.count < PieceList::kCapacity ? textPieces.count : PieceList::kCapacity;
    for (size_t i = 0; i < count; ++i)
    {
        const std::string_view kind = patternPieces.items[i];
        const std::string_view piece = textPieces.items[i];
        if (kind == "d" || kind == "dd")
            date.day = readDecimal(piece);
        else if (kind == "M" || kind == "MM")
            date.month = readDecimal(piece);
        else if (kind == "yy" || kind == "yyyy")
        {
            const int32_t year = readDecimal(piece);
            date.year = year >= 0 && year <= 49 ? year + 2000 : (year >= 50 && year <= 99 ? year + 1900 : year);
        }
    }
}

void readTimeFields(DateValue& date, std::string_view text, std::string_view pattern,
                    const DateLocalePatterns& patterns)
{
    PieceList patternPieces;
    PieceList textPieces;
    splitClock(pattern, patterns.timeSeparator, patternPieces);
    splitClock(text, patterns.timeSeparator, textPieces);
    if (textPieces.count == 0 || textPieces.count > patternPieces.count) return;
    const size_t count = textPieces.count < PieceList::kCapacity ? textPieces.count : PieceList::kCapacity;
    bool afternoon = false;
    for (size_t i = 0; i < count; ++i)
    {
        const std::string_view kind = patternPieces.items[i];
        const std::string_view piece = textPieces.items[i];
        if (EqualsIgnoreCase(kind, "h") || EqualsIgnoreCase(kind, "hh"))
            date.hour = readDecimal(piece);
        else if (EqualsIgnoreCase(kind, "m") || EqualsIgnoreCase(kind, "mm"))
            date.minute = readDecimal(piece);
        else if (EqualsIgnoreCase(kind, "s") || EqualsIgnoreCase(kind, "ss"))
            date.second = readDecimal(piece);
        if (!patterns.pm.empty() && EqualsIgnoreCase(piece, patterns.pm)) afternoon = true;
    }
    if (afternoon && date.hour < 12) date.hour += 12;
}

} // namespace

DateLocalePatterns datedetail::cLocalePatterns()
{
    return {"M/d/yyyy", "h:mm:ss tt", "h:mm tt", "/", ":", "AM", "PM"};
}

DateLocalePatterns datedetail::patternsFromLangInfo(std::string_view dateFormat, std::string_view timeFormat,
                                                    std::string_view am, std::string_view pm)
{
    DateLocalePatterns patterns = cLocalePatterns();
    std::string shortDate = patternFromStrftime(dateFormat);
    std::string time = patternFromStrftime(timeFormat);
    if (!shortDate.empty()) patterns.shortDate = std::move(shortDate);
    if (!time.empty()) patterns.time = std::move(time);
    patterns.timeNoSeconds = patternWithoutSeconds(patterns.time);
    patterns.dateSeparator = patternSeparator(patterns.shortDate, "/");
    patterns.timeSeparator = patternSeparator(patterns.time, ":");
    patterns.am = am;
    patterns.pm = pm;
    return patterns;
}

const DateLocalePatterns& datedetail::localePatterns()
{
    static const DateLocalePatterns patterns = loadLocalePatterns();
    return patterns;
}

std::string datedetail::patternFromStrftime(std::string_view format)
{
    std::string pattern;
    std::string literal;
    appendFromStrftime(pattern, literal, format, 0);
    flushLiteral(pattern, literal);
    return pattern;
}

std::string datedetail::patternWithoutSeconds(std::string_view pattern)
{
    bool seenField = false;
    // Start of the literal that directly follows a field: the separator before the next field.
    size_t separatorStart = std::string_view::npos;
    size_t pos = 0;
    while (pos < pattern.size())
    {
        const size_t start = pos;
        const PatternToken token = nextToken(pattern, pos);
        if (token.letter == 's')
        {
            size_t cutStart = start;
            size_t cutEnd = pos;
            if (separatorStart != std::string_view::npos)
                cutStart = separatorStart;
            else if (!seenField && pos < pattern.size())
            {
                // Seconds lead the pattern: drop the separator after them instead.
                size_t next = pos;
                if (nextToken(pattern, next).letter == 0) cutEnd = next;
            }
            std::string result(pattern.substr(0, cutStart));
            result += pattern.substr(cutEnd);
            return result;
        }
        if (token.letter == 0)
            separatorStart = seenField ? start : std::string_view::npos;
        else
        {
            seenField = true;
            separatorStart = std::string_view::npos;
        }
    }
    return std::string(pattern);
}

std::string datedetail::patternSeparator(std::string_view pattern, std::string_view fallback)
{
    size_t pos = 0;
    bool seenField = false;
    std::string_view literal;
    while (pos < pattern.size())
    {
        const PatternToken token = nextToken(pattern, pos);
        if (token.letter != 0)
        {
            if (seenField && !literal.empty())
            {
                std::string separator;
                appendUnquoted(separator, literal);
                if (!separator.empty()) return separator;
            }
            seenField = true;
            literal = {};
        }
        else if (seenField)
        {
            literal = token.raw;
        }
    }
    return std::string(fallback);
}

void datedetail::appendPattern(std::string& out, std::string_view pattern, const DateValue& date,
                               const DateLocalePatterns& patterns)
{
    size_t pos = 0;
    while (pos < pattern.size())
    {
        const PatternToken token = nextToken(pattern, pos);
        if (token.letter == 0)
            appendUnquoted(out, token.raw);
        else
            appendField(out, token, date, patterns);
    }
}

void datedetail::appendDisplayForm(std::string& out, const DateValue& date, const DateDisplaySettings& settings,
                                   const DateLocalePatterns& patterns)
{
    if (date.isBlank()) return;
    DateValue shown = date;
    if (settings.localTime && shown.isGmt)
        shown.toLocal();
    else if (!settings.localTime && !shown.isGmt)
        shown.toGmt();
    // A copy the zone change blanked (fields outside the calendar) still has
    // a valid time of day, 00:00:00, which the time part shows.

    const int32_t mode = settings.mode;
    if (mode >= 0 && mode <= 3)
    {
        // Like the platform formatter, fields that name no real day or time print nothing.
        if (isCalendarDate(shown.year, shown.month, shown.day)) appendPattern(out, patterns.shortDate, shown, patterns);
        if (mode == 0) return;
        out += ' ';
    }
    const bool withoutSeconds = mode == 3 || mode == 6;
    if (isClockTime(shown.hour, shown.minute, shown.second, shown.millisecond))
        appendPattern(out, withoutSeconds ? patterns.timeNoSeconds : patterns.time, shown, patterns);
    if (mode == 1 || mode == 4)
    {
        out += '.';
        appendPadded(out, shown.millisecond, 3);
    }
}

ereturnvalue datedetail::parseLocale(DateValue& date, std::string_view text, const DateDisplaySettings& settings,
                                     const DateLocalePatterns& patterns)
{
    date.makeBlank();
    date.isGmt = !settings.localTime;
    if (text.empty()) return ereturnvalue::OK;

    std::string pattern;
    pattern.reserve(patterns.shortDate.size() + 1 + patterns.time.size());
    pattern += patterns.shortDate;
    pattern += ' ';
    pattern += patterns.time;
    std::string_view datePattern;
    std::string_view timePattern;
    splitAtFirstBlank(pattern, datePattern, timePattern);
    std::string_view datePart;
    std::string_view timePart;
    splitAtFirstBlank(text, datePart, timePart);

    readDateFields(date, datePart, datePattern, patterns);
    readTimeFields(date, timePart, timePattern, patterns);

    if (!date.isGmt) date.toGmt();
    const ereturnvalue result = date.normalise();
    if (result != ereturnvalue::OK) date.makeBlank();
    return result;
}

std::string DateValue::displayForm(const DateDisplaySettings& settings) const
{
    std::string text;
    datedetail::appendDisplayForm(text, *this, settings, localePatterns());
    return text;
}

void DateValue::appendDisplayForm(std::string& out, const DateDisplaySettings& settings) const
{
    datedetail::appendDisplayForm(out, *this, settings, localePatterns());
}

ereturnvalue DateValue::parseLocale(std::string_view text, const DateDisplaySettings& settings)
{
    return datedetail::parseLocale(*this, text, settings, localePatterns());
}

} // namespace tn
