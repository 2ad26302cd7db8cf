#include "hostlib/host_functions.h"

namespace tn
{

std::span<const SysFunction> ServiceFunctions()
{
    return {};
}

} // namespace tn
