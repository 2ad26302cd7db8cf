// A page of any bytes compiles or fails with a message; a page that compiles
// saves to a compiled file that loads again.
#include "fuzz_support.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tn;
    auto script = fuzz::HarmlessScript(fuzz::ScratchFile("compile.htm", data, size));
    if (script->compileOnly() != ereturnvalue::OK) return 0;
    const std::string saved = fuzz::ScratchFile("compile.ctn", nullptr, 0);
    if (script->saveCompiled(saved) != ereturnvalue::OK) std::abort();
    auto reloaded = fuzz::HarmlessScript(saved);
    if (reloaded->load() != ereturnvalue::OK) std::abort();
    return 0;
}
