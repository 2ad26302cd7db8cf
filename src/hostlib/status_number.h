// The number a script sees for a status: 1 OK, -2 NotFound, -1 TimedOut,
// -3 InvalidInput, 0 for anything else.
#pragma once

#include "common/result_codes.h"

#include <cstdint>

namespace tn
{

inline int32_t StatusNumber(ereturnvalue code)
{
    return ScriptStatus(code);
}

} // namespace tn
