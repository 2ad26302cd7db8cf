// The number a script sees for a result code: 1 for OK, -2 for NotFound,
// -1 for TimedOut, -3 for InvalidInput and 0 for anything else.
#pragma once

#include "common/result_codes.h"

#include <cstdint>

namespace tn
{

inline int32_t StatusNumber(ereturnvalue code)
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
