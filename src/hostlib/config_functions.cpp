#include "hostlib/host_functions.h"

namespace tn
{

std::span<const SysFunction> ConfigFunctions()
{
    return {};
}

} // namespace tn
