#include "hostlib/host_functions.h"

namespace tn
{

std::span<const SysFunction> ResponseFunctions()
{
    return {};
}

} // namespace tn
