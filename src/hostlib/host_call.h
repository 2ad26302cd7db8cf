// The host context a handler of the host's sets works on.
#pragma once

#include "hostlib/host_context.h"
#include "vm/function_set.h"
#include "vm/virtual_machine.h"

namespace tn
{

// A machine that was given the host's sets but no context (a bare test
// machine) has no response or files: the call fails as a script error
// rather than touching nothing.
inline HostContext& HostOf(SysCall& call)
{
    HostContext* host = call.vm.host();
    if (!host) call.fail("no host context");
    return *host;
}

} // namespace tn
