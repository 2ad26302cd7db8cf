#include "hostlib/host_functions.h"

namespace tn
{

std::span<const SysFunction> DatabaseFunctions()
{
    return {};
}

} // namespace tn
