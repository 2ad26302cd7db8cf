// Request preparation of any environment, query string, cookie header and
// body; the environment block is also scanned as the command line does.
#include "host/command_line.h"
#include "host/request_preparation.h"
#include "hostlib/host_functions.h"
#include "vm/virtual_machine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tn;
    FuzzedDataProvider input(data, size);
    std::vector<std::string> entries;
    entries.push_back("QUERY_STRING=" + input.ConsumeRandomLengthString(4096));
    entries.push_back("HTTP_COOKIE=" + input.ConsumeRandomLengthString(4096));
    const int extra = input.ConsumeIntegralInRange(0, 8);
    for (int i = 0; i < extra; ++i)
        entries.push_back(input.ConsumeRandomLengthString(64));
    const std::string body = input.ConsumeRemainingBytesAsString();

    std::vector<const char*> block;
    for (const std::string& entry : entries)
        block.push_back(entry.c_str());
    block.push_back(nullptr);
    RequestSetsArguments(block.data());
    std::map<std::string, std::string> environment;
    ForEachEnvironmentEntry(block.data(), [&](std::string name, std::string value)
                            { environment[std::move(name)] = std::move(value); });
    VirtualMachine machine{HostFunctionSets()};
    PrepareRequest(environment, body, machine);
    return 0;
}
