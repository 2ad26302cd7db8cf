// A page of any bytes is compiled and run in slices with a fixed budget.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tn;
    // Odd lengths run with register code from the start.
    auto script = fuzz::HarmlessScript(fuzz::ScratchFile("run.htm", data, size), size % 2 == 1);
    if (script->load() == ereturnvalue::OK) fuzz::RunInSlices(*script, 100);
    return 0;
}
