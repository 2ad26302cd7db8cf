#include "hostlib/host_functions.h"

namespace tn
{

std::span<const SysFunction> ScriptFunctions()
{
    return {};
}

ereturnvalue HostResumeCheck(VirtualMachine&, bool& done)
{
    done = false;
    return ereturnvalue::OK;
}

WaitedScriptState HostScriptState(VirtualMachine&, int32_t)
{
    return WaitedScriptState::NotFound;
}

} // namespace tn
