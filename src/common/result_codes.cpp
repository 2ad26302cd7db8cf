#include "common/result_codes.h"

namespace tn
{

namespace
{

// Indexed by the code, so the list must run 0, 1, 2, ... without gaps.
constexpr const char* kNames[kResultCodeCount] = {
#define TN_RESULT_CODE(name, number, display) display,
#include "common/result_codes.def"
#undef TN_RESULT_CODE
};

constexpr bool numbersAreIndexes()
{
    int32_t index = 0;
#define TN_RESULT_CODE(name, number, display)                                                                          \
    if (number != index++) return false;
#include "common/result_codes.def"
#undef TN_RESULT_CODE
    return true;
}
static_assert(numbersAreIndexes(), "result_codes.def must list the codes densely in numeric order");

} // namespace

const char* ResultCodeName(int32_t code) noexcept
{
    if (code < 0 || code >= kResultCodeCount) return "XXXX";
    return kNames[code];
}

void ResultCodeName(int32_t code, std::string& out)
{
    out = ResultCodeName(code);
}

int32_t ScriptStatus(ereturnvalue code) noexcept
{
    switch (code)
    {
    case ereturnvalue::OK:
        return 1;
    case ereturnvalue::NotFound:
        return -2;
    case ereturnvalue::TimedOut:
        return -1;
    case ereturnvalue::InvalidInput:
        return -3;
    default:
        return 0;
    }
}

} // namespace tn
