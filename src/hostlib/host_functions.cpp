#include "hostlib/host_functions.h"

#include "lib/core_functions.h"

namespace tn
{

const FunctionSets& HostFunctionSets()
{
    static const FunctionSets sets{&CoreFunctionSet()};
    return sets;
}

} // namespace tn
