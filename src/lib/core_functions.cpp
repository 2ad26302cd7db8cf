#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

namespace tn
{

const FunctionTable& CoreFunctionTable()
{
    static const FunctionTable table{OutputFunctions(), EnvironmentFunctions(), TypeFunctions(), ArrayFunctions(),
                                     StringFunctions()};
    return table;
}

} // namespace tn
