// Placeholder: families not written yet. Replaced as each family lands.
#include "lib/core_functions.h"

namespace tn
{
std::span<const SysFunction> EnvironmentFunctions() { return {}; }
std::span<const SysFunction> TypeFunctions() { return {}; }
std::span<const SysFunction> ArrayFunctions() { return {}; }
} // namespace tn
