// Date functions: making dates (dateblank, datenow, timenow, datefromnum),
// their text forms both ways, the script's display settings, fields,
// arithmetic, differences, zone changes and the blank test.
#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

#include <string>

namespace tn
{

namespace
{
constexpr int32_t kInvalidInput = -3;
constexpr int32_t kHighestMode = 6;

// Variants of the handlers that serve several names.
enum Clock : int32_t
{
    kToday,
    kNow,
};

enum Field : int32_t
{
    kYear,
    kMonth,
    kDay,
    kHour,
    kMinute,
    kSecond,
    kMillisecond,
    kDayOfWeek,
};

enum Unit : int32_t
{
    kYears,
    kMonths,
    kDays,
    kHours,
    kMinutes,
    kSeconds,
    kMilliseconds,
};

enum Zone : int32_t
{
    kToLocal,
    kToGmt,
};

ereturnvalue dateBlank(SysCall& call)
{
    return call.returnDate(DateValue{});
}

ereturnvalue dateNow(SysCall& call)
{
    return call.returnDate(call.variant() == kToday ? DateValue::today() : DateValue::now());
}

// Three arguments (a day at midnight) or six (with the time).
ereturnvalue dateFromNum(SysCall& call)
{
    DateValue date;
    date.year = call.integer(1);
    date.month = call.integer(2);
    date.day = call.integer(3);
    if (call.argc == 6)
    {
        date.hour = call.integer(4);
        date.minute = call.integer(5);
        date.second = call.integer(6);
    }
    if (date.normalise() != ereturnvalue::OK) date = DateValue{};
    return call.returnDate(date);
}

ereturnvalue dateFromStr(SysCall& call)
{
    const std::string_view text = call.text(1);
    DateValue date;
    date.parseLocale(text, call.vm.dateSettings());
    return call.returnDate(date);
}

ereturnvalue dateToStr(SysCall& call)
{
    std::string text;
    call.date(1).appendDisplayForm(text, call.vm.dateSettings());
    return call.returnText(std::move(text));
}

ereturnvalue dateFromStdStr(SysCall& call)
{
    DateValue date;
    date.parseCompact(call.text(1));
    return call.returnDate(date);
}

ereturnvalue dateToStdStr(SysCall& call)
{
    return call.returnText(call.date(1).compactForm());
}

ereturnvalue dateSetFormat(SysCall& call)
{
    const int32_t mode = call.integer(1);
    if (mode < 0 || mode > kHighestMode) return call.returnInt(kInvalidInput);
    call.vm.dateSettings().mode = mode;
    return call.returnInt(1);
}

ereturnvalue dateFormat(SysCall& call)
{
    return call.returnInt(call.vm.dateSettings().mode);
}

ereturnvalue setLocalTimeFormat(SysCall& call)
{
    const bool flag = call.integer(1) != 0;
    bool& localTime = call.vm.dateSettings().localTime;
    const int32_t previous = localTime ? 1 : 0;
    localTime = flag;
    return call.returnInt(previous);
}

ereturnvalue localTimeFormat(SysCall& call)
{
    return call.returnInt(call.vm.dateSettings().localTime ? 1 : 0);
}

// The sign is dropped; the magnitude of -2^31 still fits 64 bits.
ereturnvalue secsToDhms(SysCall& call)
{
    const int64_t value = call.integer(1);
    const int64_t seconds = value < 0 ? -value : value;
    ValueVector parts;
    parts.reserve(4);
    parts.pushInteger(static_cast<int32_t>(seconds / 86400));
    parts.pushInteger(static_cast<int32_t>(seconds / 3600 % 24));
    parts.pushInteger(static_cast<int32_t>(seconds / 60 % 60));
    parts.pushInteger(static_cast<int32_t>(seconds % 60));
    return call.returnArray(std::move(parts));
}

// Fields as stored; only a date value is read, a text that would parse is not.
ereturnvalue dateSegment(SysCall& call)
{
    const Value& v = call.arg(1);
    if (!v.isDate()) return call.returnInt(0);
    const DateValue& date = v.dateValue();
    switch (static_cast<Field>(call.variant()))
    {
    case kYear:
        return call.returnInt(date.year);
    case kMonth:
        return call.returnInt(date.month);
    case kDay:
        return call.returnInt(date.day);
    case kHour:
        return call.returnInt(date.hour);
    case kMinute:
        return call.returnInt(date.minute);
    case kSecond:
        return call.returnInt(date.second);
    case kMillisecond:
        return call.returnInt(date.millisecond);
    case kDayOfWeek:
        return call.returnInt(date.dayOfWeek);
    }
    return call.returnInt(0);
}

ereturnvalue dateAdd(SysCall& call)
{
    const Value& v = call.arg(1);
    if (!v.isDate()) return call.returnDate(DateValue{});
    DateValue date = v.dateValue();
    const int32_t count = call.integer(2);
    switch (static_cast<Unit>(call.variant()))
    {
    case kYears:
        date.addYears(count);
        break;
    case kMonths:
        date.addMonths(count);
        break;
    case kDays:
        date.addDays(count);
        break;
    case kHours:
        date.addHours(count);
        break;
    case kMinutes:
        date.addMinutes(count);
        break;
    case kSeconds:
        date.addSeconds(count);
        break;
    case kMilliseconds:
        date.addMilliseconds(count);
        break;
    }
    return call.returnDate(date);
}

// Truncated toward zero, then cut to the low 32 bits.
ereturnvalue dateDiff(SysCall& call)
{
    const int64_t milliseconds = call.date(1).differenceMs(call.date(2));
    int64_t divisor = 1;
    switch (static_cast<Unit>(call.variant()))
    {
    case kDays:
        divisor = 86'400'000;
        break;
    case kHours:
        divisor = 3'600'000;
        break;
    case kMinutes:
        divisor = 60'000;
        break;
    case kSeconds:
        divisor = 1'000;
        break;
    default:
        break;
    }
    const auto low = static_cast<uint32_t>(static_cast<uint64_t>(milliseconds / divisor));
    return call.returnInt(static_cast<int32_t>(low));
}

// A date already in the target zone, or a blank one, comes back unchanged.
ereturnvalue zoneChange(SysCall& call)
{
    DateValue date = call.date(1);
    if (call.variant() == kToLocal)
        date.toLocal();
    else
        date.toGmt();
    return call.returnDate(date);
}

ereturnvalue dateIsBlank(SysCall& call)
{
    const Value& v = call.arg(1);
    return call.returnInt(v.isDate() && !v.dateValue().isBlank() ? 0 : 1);
}

constexpr SysFunction segment(const char* name, int32_t id, Field field)
{
    return Fn(name, id, ArgRule::exactly(1), dateSegment).as(field).message("datesegment");
}

constexpr SysFunction add(const char* name, int32_t id, Unit unit)
{
    return Fn(name, id, ArgRule::exactly(2), dateAdd).as(unit).message("dateadd");
}

constexpr SysFunction diff(const char* name, int32_t id, Unit unit)
{
    return Fn(name, id, ArgRule::exactly(2), dateDiff).as(unit).message("datediff");
}

constexpr SysFunction kDateFunctions[] = {
    {"dateblank", -5456, ArgRule::exactly(0), dateBlank},
    Fn("datenow", -5457, ArgRule::exactly(0), dateNow).as(kToday),
    Fn("timenow", -5504, ArgRule::exactly(0), dateNow).as(kNow).message("datenow"),
    Fn("datefromnum", -5458, ArgRule::either(3, 6, ArgRule::Message::Exact, 3), dateFromNum),
    {"datefromstr", -5459, ArgRule::exactly(1), dateFromStr},
    {"datetostr", -5460, ArgRule::exactly(1), dateToStr},
    {"datefromstdstr", -5461, ArgRule::exactly(1), dateFromStdStr},
    {"datetostdstr", -5462, ArgRule::exactly(1), dateToStdStr},
    {"datesetformat", -5463, ArgRule::exactly(1), dateSetFormat},
    {"dateformat", -5464, ArgRule::exactly(0), dateFormat},
    {"setlocaltimeformat", -5473, ArgRule::exactly(1), setLocalTimeFormat},
    {"localtimeformat", -5474, ArgRule::exactly(0), localTimeFormat},
    {"secstodhms", -5475, ArgRule::exactly(1), secsToDhms},
    segment("dateyear", -5465, kYear),
    segment("datemonth", -5466, kMonth),
    segment("dateday", -5467, kDay),
    segment("datehour", -5468, kHour),
    segment("dateminute", -5469, kMinute),
    segment("datesec", -5470, kSecond),
    segment("datemilisec", -5471, kMillisecond),
    segment("datedayofweek", -5472, kDayOfWeek),
    add("dateaddyears", -5477, kYears),
    add("dateaddmonths", -5478, kMonths),
    add("dateadddays", -5479, kDays),
    add("dateaddhours", -5480, kHours),
    add("dateaddminutes", -5481, kMinutes),
    add("dateaddsecs", -5482, kSeconds),
    add("dateaddmilisecs", -5483, kMilliseconds),
    diff("datediffsecs", -5484, kSeconds),
    diff("datediffminutes", -5485, kMinutes),
    diff("datediffdays", -5486, kDays),
    diff("datediffhours", -5487, kHours),
    diff("datediffmillisecs", -5490, kMilliseconds),
    Fn("gmttolocal", -5488, ArgRule::exactly(1), zoneChange).as(kToLocal),
    Fn("localtogmt", -5489, ArgRule::exactly(1), zoneChange).as(kToGmt).message("gmttolocal"),
    {"dateisblank", -5494, ArgRule::exactly(1), dateIsBlank},
};
} // namespace

std::span<const SysFunction> DateFunctions()
{
    return kDateFunctions;
}

} // namespace tn
