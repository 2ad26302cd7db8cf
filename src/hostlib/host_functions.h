// The function sets of this host. Each family is a table of rows in its own
// file; the sets join them. Registration order is core, host, configuration,
// database; ids never overlap, so dispatch finds a row in whichever set has it.
#pragma once

#include "vm/function_set.h"

#include <span>

namespace tn
{

// Host set (groups 0x3000 to 0x4400)
std::span<const SysFunction> ResponseFunctions(); // header, setcookieheader, redirect, httperror, ...
std::span<const SysFunction> FileFunctions();     // openfilecreate, filewrite, closefile, ...
std::span<const SysFunction> ScriptFunctions();   // run, waitforscript, semaphores, sleep, ...
std::span<const SysFunction> ServiceFunctions();  // server statistics and the fixed-answer services

// Configuration set (group 0x4200) and database set (group 0x3400)
std::span<const SysFunction> ConfigFunctions();   // tnconfigOpen, tnconfigGetTypeSetting, ...
std::span<const SysFunction> DatabaseFunctions(); // dbopendb, dbeof, ... (all answer null)

// The host set's checks before a suspended script goes on (script_functions.cpp).
ereturnvalue HostResumeCheck(VirtualMachine& vm, bool& done);
WaitedScriptState HostScriptState(VirtualMachine& vm, int32_t scriptId);

const FunctionSet& HostOwnFunctionSet();
const FunctionSet& ConfigFunctionSet();
const FunctionSet& DatabaseFunctionSet();

// Core first, then the host's sets.
const FunctionSets& HostFunctionSets();

} // namespace tn
