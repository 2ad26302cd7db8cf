#include "hostlib/host_functions.h"

namespace tn
{

std::span<const SysFunction> FileFunctions()
{
    return {};
}

} // namespace tn
