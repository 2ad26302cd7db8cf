// Type functions: type, tonull, the six conversions (toint ... tofloat),
// isblank, isfuncdef and the form-field checks isvalidint and
// isvalididentifier with their variants.
#include "lib/core_functions.h"

#include "common/ascii.h"

#include "vm/virtual_machine.h"

namespace tn
{

namespace
{
// Variants of the handlers that serve several names.
constexpr int32_t kPositiveOnly = 1;
constexpr int32_t kBlanksAllowed = 1;

// Longest digit text accepted by isvalidint: every 9-digit number fits 32 bits.
constexpr size_t kMaxIntDigits = 9;

ereturnvalue typeOf(SysCall& call)
{
    return call.returnInt(static_cast<int32_t>(call.arg(1).type()));
}

ereturnvalue toNull(SysCall&)
{
    return ereturnvalue::OK;
}

// One handler for the conversions: the variant is the target type. Without an
// argument the source is null, which converts to the empty value of every type.
ereturnvalue toType(SysCall& call)
{
    Value none;
    Value& source = call.argc >= 1 ? call.arg(1) : none;
    switch (static_cast<ValueType>(call.variant()))
    {
    case ValueType::Integer:
        call.result.setInteger(source.toInt());
        break;
    case ValueType::Flags:
        call.result.setFlags(source.toInt());
        break;
    case ValueType::Array:
        // The argument slot is a private copy, so its payload can be handed on.
        call.result = source.isArray() ? std::move(source) : Value::array();
        break;
    case ValueType::String:
        if (source.isString())
            call.result = std::move(source);
        else
            call.result.setString(call.vm.toText(source));
        break;
    case ValueType::Date:
        if (source.isDate())
            call.result = std::move(source);
        else
            call.result.setDate(source.toDate());
        break;
    case ValueType::Float:
        call.result.setFloat(source.toFloat());
        break;
    default:
        break;
    }
    return ereturnvalue::OK;
}

ereturnvalue isBlank(SysCall& call)
{
    return call.returnInt(call.arg(1).isBlank() ? 1 : 0);
}

ereturnvalue isFuncDef(SysCall& call)
{
    const std::string_view name = TrimBlanks(call.text(1));
    const ProgramImage* image = call.vm.image();
    return call.returnInt(!name.empty() && image && image->hasFunctionName(name) ? 1 : 0);
}

bool isDigitText(std::string_view text)
{
    if (text.empty() || text.size() > kMaxIntDigits) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// isvalidint and isvalidpositiveint. Texts must be plain digits for both, so
// the text -5 fails even where the integer -5 passes.
ereturnvalue isValidInt(SysCall& call)
{
    const Value& v = call.arg(1);
    bool valid = false;
    if (v.isInteger())
        valid = call.variant() != kPositiveOnly || v.rawInt() >= 0;
    else if (v.isString())
        valid = isDigitText(v.stringView());
    return call.returnInt(valid ? 1 : 0);
}

bool isIdentifierByte(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// isvalididentifier and isvalididentifierallowws: blanks (the latter only)
// are tolerated but do not make a text an identifier on their own.
ereturnvalue isValidIdentifier(SysCall& call)
{
    const bool allowBlanks = call.variant() == kBlanksAllowed;
    const std::string_view text = call.text(1);
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
    return call.returnInt(valid && counted ? 1 : 0);
}

constexpr SysFunction conversion(const char* name, int32_t id, ValueType target)
{
    return Fn(name, id, ArgRule::between(0, 1, ArgRule::Message::Exact, 1), toType)
        .as(static_cast<int32_t>(target))
        .message("totype");
}

constexpr SysFunction kTypeFunctions[] = {
    {"type", -5121, ArgRule::exactly(1), typeOf},
    {"tonull", -5122, ArgRule::exactly(0), toNull},
    conversion("toint", -5123, ValueType::Integer),
    conversion("toflags", -5124, ValueType::Flags),
    conversion("toarray", -5125, ValueType::Array),
    conversion("tostring", -5126, ValueType::String),
    conversion("todate", -5127, ValueType::Date),
    conversion("tofloat", -5128, ValueType::Float),
    {"isblank", -5129, ArgRule::exactly(1), isBlank},
    {"isfuncdef", -5136, ArgRule::exactly(1), isFuncDef},
    {"isvalidint", -5141, ArgRule::exactly(1), isValidInt},
    Fn("isvalidpositiveint", -5142, ArgRule::exactly(1), isValidInt).as(kPositiveOnly).message("isvalidint"),
    {"isvalididentifier", -5143, ArgRule::exactly(1), isValidIdentifier},
    Fn("isvalididentifierallowws", -5144, ArgRule::exactly(1), isValidIdentifier)
        .as(kBlanksAllowed)
        .message("isvalididentifier"),
};
} // namespace

std::span<const SysFunction> TypeFunctions()
{
    return kTypeFunctions;
}

} // namespace tn
