#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

namespace tn
{

std::span<const SysFunction> DateFunctions()
{
    return {};
}

} // namespace tn
