// The families of the core function set. Each family is a table of rows in
// its own file; CoreFunctionTable() (vm/virtual_machine.h) joins them.
#pragma once

#include "vm/function_set.h"

#include <span>

namespace tn
{

std::span<const SysFunction> OutputFunctions();      // echo, print, lineno, yield, ...
std::span<const SysFunction> EnvironmentFunctions(); // envvar, setenvvar, globalenvvar, ...
std::span<const SysFunction> TypeFunctions();        // type, toint, isblank, isvalidint, ...
std::span<const SysFunction> ArrayFunctions();       // count, pop, ...
std::span<const SysFunction> StringFunctions();      // strlen, substr, ...

} // namespace tn
