// Type functions: type, tonull, the six conversions (toint ... tofloat),
// isblank, isfuncdef and the form-field checks isvalidint and
// isvalididentifier with their variants.
#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

namespace tn
{

namespace
{
constexpr int32_t kToInt = -5123;
constexpr int32_t kToFlags = -5124;
constexpr int32_t kToArray = -5125;
constexpr int32_t kToString = -5126;
constexpr int32_t kToDate = -5127;
constexpr int32_t kToFloat = -5128;
constexpr int32_t kIsValidPositiveInt = -5142;
constexpr int32_t kIsValidIdentifierAllowWs = -5144;

// Longest digit text accepted by isvalidint: every 9-digit number fits 32 bits.
constexpr size_t kMaxIntDigits = 9;

ereturnvalue typeOf(SysCall& call)
{
    call.result.setInteger(static_cast<int32_t>(call.arg(1).type()));
    return ereturnvalue::OK;
}

ereturnvalue toNull(SysCall&)
{
    return ereturnvalue::OK;
}

// One handler for the conversions: the target comes from the id. Without an
// argument the source is null, which converts to the empty value of every type.
ereturnvalue toType(SysCall& call)
{
    Value none;
    Value& source = call.argc >= 1 ? call.arg(1) : none;
    switch (call.function.id)
    {
    case kToInt:
        call.result.setInteger(source.toInt());
        break;
    case kToFlags:
        call.result.setFlags(source.toInt());
        break;
    case kToArray:
        // The argument slot is a private copy, so its payload can be handed on.
        call.result = source.isArray() ? std::move(source) : Value::array();
        break;
    case kToString:
        if (source.isString())
            call.result = std::move(source);
        else
            call.result.setString(call.vm.toText(source));
        break;
    case kToDate:
        if (source.isDate())
            call.result = std::move(source);
        else
            call.result.setDate(source.toDate());
        break;
    case kToFloat:
        call.result.setFloat(source.toFloat());
        break;
    default:
        break;
    }
    return ereturnvalue::OK;
}

ereturnvalue isBlank(SysCall& call)
{
    call.result.setInteger(call.arg(1).isBlank() ? 1 : 0);
    return ereturnvalue::OK;
}

std::string_view trimBlanks(std::string_view text)
{
    constexpr std::string_view kBlanks = "\r\n \t";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

ereturnvalue isFuncDef(SysCall& call)
{
    std::string scratch;
    const std::string_view name = trimBlanks(call.arg(1).textView(scratch, &call.vm.dateSettings()));
    const ProgramImage* image = call.vm.image();
    call.result.setInteger(!name.empty() && image && image->hasFunctionName(name) ? 1 : 0);
    return ereturnvalue::OK;
}

bool isDigitText(std::string_view text)
{
    if (text.empty() || text.size() > kMaxIntDigits)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// isvalidint and isvalidpositiveint. Texts must be plain digits for both, so
// the text -5 fails even where the integer -5 passes.
ereturnvalue isValidInt(SysCall& call)
{
    const Value& v = call.arg(1);
    bool valid = false;
    if (v.isInteger())
        valid = call.function.id != kIsValidPositiveInt || v.rawInt() >= 0;
    else if (v.isString())
        valid = isDigitText(v.stringView());
    call.result.setInteger(valid ? 1 : 0);
    return ereturnvalue::OK;
}

bool isIdentifierByte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// isvalididentifier and isvalididentifierallowws: blanks (the latter only)
// are tolerated but do not make a text an identifier on their own.
ereturnvalue isValidIdentifier(SysCall& call)
{
    const bool allowBlanks = call.function.id == kIsValidIdentifierAllowWs;
    std::string scratch;
    const std::string_view text = call.arg(1).textView(scratch, &call.vm.dateSettings());
    bool counted = false;
    bool valid = true;
    for (const char c : text)
    {
        if (isIdentifierByte(static_cast<unsigned char>(c)))
            counted = true;
        else if (!(allowBlanks && c == ' '))
        {
            valid = false;
            break;
        }
    }
    call.result.setInteger(valid && counted ? 1 : 0);
    return ereturnvalue::OK;
}

constexpr ArgRule kConversionRule = ArgRule::between(0, 1, ArgRule::Message::Exact, 1);

constexpr SysFunction kTypeFunctions[] = {
    {"type", -5121, ArgRule::exactly(1), "type", typeOf},
    {"tonull", -5122, ArgRule::exactly(0), "tonull", toNull},
    {"toint", -5123, kConversionRule, "totype", toType},
    {"toflags", -5124, kConversionRule, "totype", toType},
    {"toarray", -5125, kConversionRule, "totype", toType},
    {"tostring", -5126, kConversionRule, "totype", toType},
    {"todate", -5127, kConversionRule, "totype", toType},
    {"tofloat", -5128, kConversionRule, "totype", toType},
    {"isblank", -5129, ArgRule::exactly(1), "isblank", isBlank},
    {"isfuncdef", -5136, ArgRule::exactly(1), "isfuncdef", isFuncDef},
    {"isvalidint", -5141, ArgRule::exactly(1), "isvalidint", isValidInt},
    {"isvalidpositiveint", -5142, ArgRule::exactly(1), "isvalidint", isValidInt},
    {"isvalididentifier", -5143, ArgRule::exactly(1), "isvalididentifier", isValidIdentifier},
    {"isvalididentifierallowws", -5144, ArgRule::exactly(1), "isvalididentifier", isValidIdentifier},
};
} // namespace

std::span<const SysFunction> TypeFunctions()
{
    return kTypeFunctions;
}

} // namespace tn
