// A page of any bytes is compiled and run in slices with a fixed budget.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tn;
    auto script = fuzz::HarmlessScript(fuzz::ScratchFile("run.htm", data, size));
    if (script->load() == ereturnvalue::OK) fuzz::RunInSlices(*script, 100);
    return 0;
}
