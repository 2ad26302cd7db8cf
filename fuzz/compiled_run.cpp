// Compiled files load as invalid or run in slices. An input that starts with
// the magic is the file itself; any other input is taken as image code and
// wrapped in a well-formed file, so mutations of the code reach the image
// scan and the machine instead of stopping at the header checks.
#include "fuzz_support.h"

#include "common/byte_buffer.h"
#include "host/compiled_file.h"

#include <map>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tn;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string path;
    if (IsCompiledFile(input))
    {
        path = fuzz::ScratchFile("load.ctn", data, size);
    }
    else
    {
        // The first byte chooses how many literal segments stand around the blocks.
        const size_t segments = input.empty() ? 0 : static_cast<uint8_t>(input[0]) % 4;
        const std::vector<std::string> literals(segments, "<p>");
        const std::map<int32_t, std::string> files{{1, "page.htm"}};
        ByteBuffer file;
        EncodeCompiledFile(file, "load.ctn", literals, input.substr(input.empty() ? 0 : 1), files, true);
        path = fuzz::ScratchFile("load.ctn", reinterpret_cast<const uint8_t*>(file.data()),
                                 static_cast<size_t>(file.length()));
    }
    // Odd lengths run with register code from the start.
    auto script = fuzz::HarmlessScript(path, size % 2 == 1);
    if (script->load() == ereturnvalue::OK) fuzz::RunInSlices(*script, 100);
    return 0;
}
