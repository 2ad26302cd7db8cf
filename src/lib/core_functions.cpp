#include "lib/core_functions.h"

namespace tn
{

const FunctionSet& CoreFunctionSet()
{
    static const FunctionSet set{OutputFunctions(), EnvironmentFunctions(), TypeFunctions(),  EscapeFunctions(),
                                 DateFunctions(),   ArrayFunctions(),       StringFunctions()};
    return set;
}

} // namespace tn
