#include "hostlib/host_functions.h"

#include "lib/core_functions.h"

namespace tn
{

const FunctionSet& HostOwnFunctionSet()
{
    static const FunctionSet set{{ResponseFunctions(), FileFunctions(), ScriptFunctions(), ServiceFunctions()},
                                 HostResumeCheck,
                                 HostScriptState};
    return set;
}

const FunctionSet& ConfigFunctionSet()
{
    static const FunctionSet set{ConfigFunctions()};
    return set;
}

const FunctionSet& DatabaseFunctionSet()
{
    static const FunctionSet set{DatabaseFunctions()};
    return set;
}

const FunctionSets& HostFunctionSets()
{
    static const FunctionSets sets{&CoreFunctionSet(), &HostOwnFunctionSet(), &ConfigFunctionSet(),
                                   &DatabaseFunctionSet()};
    return sets;
}

} // namespace tn
