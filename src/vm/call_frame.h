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
    static constexpr int32_t kMaskPositions = 32;

    ValueVector locals; // slot 0 unused; arguments are slots 1..k
    int32_t returnAddress = 0;
    // Argument positions that carry a flag; positions past them are by value.
    // Up to 32 flags live in refMask (bit i - 1: position i by reference);
    // more spill into byRefFlags, which is otherwise empty.
    int32_t flagCount = 0;
    uint32_t refMask = 0;
    std::vector<int32_t> byRefFlags; // per argument position: 1 by reference
    std::vector<int32_t> callerRefs; // per flagged position: the caller's Reference payload (0: none)

    bool byReference(int32_t position) const noexcept
    {
        if (byRefFlags.empty()) return position <= kMaskPositions && ((refMask >> (position - 1)) & 1u) != 0;
        return byRefFlags[static_cast<size_t>(position) - 1] == 1;
    }
    bool anyByReference() const noexcept { return refMask != 0 || !byRefFlags.empty(); }

    void addFlag(bool byRef)
    {
        if (flagCount == kMaskPositions && byRefFlags.empty())
            for (int32_t i = 0; i < kMaskPositions; ++i)
                byRefFlags.push_back(static_cast<int32_t>((refMask >> i) & 1u));
        if (byRefFlags.empty())
            refMask |= static_cast<uint32_t>(byRef) << flagCount;
        else
            byRefFlags.push_back(byRef ? 1 : 0);
        callerRefs.push_back(0);
        ++flagCount;
    }

    bool empty() const noexcept { return locals.empty() && flagCount == 0; }

    // Frames are reused: this drops the contents but keeps the storage.
    void reset() noexcept
    {
        locals.releaseElements();
        if (flagCount != 0)
        {
            byRefFlags.clear();
            callerRefs.clear();
            flagCount = 0;
            refMask = 0;
        }
        returnAddress = 0;
    }
};

} // namespace tn
