// The function sets of this host, in registration order: the core set, then
// the host's own.
#pragma once

#include "vm/function_set.h"

namespace tn
{

const FunctionSets& HostFunctionSets();

} // namespace tn
