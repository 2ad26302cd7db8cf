// Result codes: the outcome of almost every operation, returned or thrown.
// The codes and their display names come from result_codes.def.
#pragma once

#include <cstdint>
#include <string>

namespace tn
{

enum class ereturnvalue : int32_t
{
#define TN_RESULT_CODE(name, number, display) name = number,
#include "common/result_codes.def"
#undef TN_RESULT_CODE
};

constexpr int32_t kResultCodeCount = 0
#define TN_RESULT_CODE(name, number, display) +1
#include "common/result_codes.def"
#undef TN_RESULT_CODE
    ;

// Display name of a code; "XXXX" outside 0..40.
const char* ResultCodeName(int32_t code) noexcept;
inline const char* ResultCodeName(ereturnvalue code) noexcept
{
    return ResultCodeName(static_cast<int32_t>(code));
}
// Replaces [out] with the display name.
void ResultCodeName(int32_t code, std::string& out);

// Script-visible status numbers: 1 OK, -2 NotFound, -1 TimedOut, -3 InvalidInput, 0 anything else.
int32_t ScriptStatus(ereturnvalue code) noexcept;

} // namespace tn
