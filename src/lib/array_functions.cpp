// Array functions: count and pop.
#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

namespace tn
{

namespace
{
ereturnvalue count(SysCall& call)
{
    const Value& v = call.arg(1);
    call.result.setInteger(v.isArray() ? v.arrayItems().count() : 0);
    return ereturnvalue::OK;
}

// The argument is by reference: the shortened array left in its slot is what
// the VM copies back into the caller's variable. Anything else stays as it was.
ereturnvalue pop(SysCall& call)
{
    Value& target = call.arg(1);
    if (!target.isArray() || target.arrayItems().empty())
        return ereturnvalue::OK;
    ValueVector& items = target.mutableArray();
    call.result = std::move(items[items.count() - 1]);
    items.pop();
    return ereturnvalue::OK;
}

constexpr SysFunction kArrayFunctions[] = {
    {"count", -5633, ArgRule::exactly(1), "size", count, 1},
    {"pop", -5635, ArgRule::exactly(1), "pop", pop, 1, 1u << 1},
};
} // namespace

std::span<const SysFunction> ArrayFunctions()
{
    return kArrayFunctions;
}

} // namespace tn
