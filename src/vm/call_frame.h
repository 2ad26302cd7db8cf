// CallFrame: the locals of one user or system function call, plus what RETURN
// needs to copy by-reference arguments back to the caller's variables.
#pragma once

#include "vm/value.h"

#include <cstdint>
#include <vector>

namespace tn
{

struct CallFrame
{
    ValueVector locals; // slot 0 unused; arguments are slots 1..k
    int32_t returnAddress = 0;
    std::vector<int32_t> byRefFlags; // per argument position: 1 by reference
    std::vector<int32_t> callerRefs; // the caller's Reference payload for by-reference arguments

    bool empty() const noexcept { return locals.empty() && byRefFlags.empty() && callerRefs.empty(); }

    // Frames are reused: this drops the contents but keeps the storage.
    void reset() noexcept
    {
        locals.releaseElements();
        byRefFlags.clear();
        callerRefs.clear();
        returnAddress = 0;
    }
};

} // namespace tn
