// Array functions: count and pop.
#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

namespace tn
{

namespace
{
ereturnvalue count(SysCall& call)
{
    return call.returnInt(call.array(1).count());
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
    Fn("count", -5633, ArgRule::exactly(1), count).message("size").declared(1),
    Fn("pop", -5635, ArgRule::exactly(1), pop).declared(1, {1}),
};
} // namespace

std::span<const SysFunction> ArrayFunctions()
{
    return kArrayFunctions;
}

} // namespace tn
