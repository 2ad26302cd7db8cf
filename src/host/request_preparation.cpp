#include "host/request_preparation.h"
#include "common/ascii.h"

#include "host/form_data.h"
#include "hostlib/cookie.h"
#include "vm/virtual_machine.h"

namespace tn
{

namespace
{

// The identifier-safe form of [name], rewritten in place. A long name (a
// body that is one huge word) is rewritten a slice at a time so that it is
// never held twice; each later slice is rewritten behind a letter, so its
// first byte is judged as one inside a name.
void makeNameSafe(std::string& name)
{
    constexpr size_t kSlice = 4096;
    if (name.size() <= kSlice)
    {
        name = VirtualMachine::SafeEnvironmentName(name);
        return;
    }
    std::string slice;
    for (size_t at = 0; at < name.size(); at += kSlice)
    {
        const std::string_view piece = std::string_view(name).substr(at, kSlice);
        if (at == 0)
        {
            slice = VirtualMachine::SafeEnvironmentName(piece);
            name.replace(0, slice.size(), slice);
            continue;
        }
        slice.assign(1, 'a').append(piece);
        slice = VirtualMachine::SafeEnvironmentName(slice);
        name.replace(at, piece.size(), std::string_view(slice).substr(1));
    }
}

// Pairs only fill names that are still free. The decoded texts move into the
// environment, so a large body costs its own size once more, not twice.
void storeFormData(std::string_view data, VirtualMachine& machine)
{
    VirtualMachine::Environment& stored = machine.environment();
    ParseFormData(data,
                  [&](std::string name, std::string value)
                  {
                      makeNameSafe(name);
                      stored.try_emplace(std::move(name), std::move(value));
                  });
}

} // namespace

ereturnvalue PrepareRequest(const std::map<std::string, std::string>& environment, std::string_view requestBody,
                            VirtualMachine& machine)
{
    std::string_view queryString;
    for (const auto& [name, value] : environment)
    {
        machine.setEnvironmentVariable(name, value);
        if (EqualsIgnoreCase(name, "query_string"))
        {
            queryString = value;
        }
        else if (EqualsIgnoreCase(name, "http_cookie"))
        {
            for (const Cookie& cookie : ParseCookieHeader(value))
            {
                machine.setEnvironmentVariable(cookie.name, cookie.value);
            }
        }
    }
    storeFormData(queryString, machine);
    if (!requestBody.empty())
    {
        storeFormData(requestBody, machine);
    }
    return ereturnvalue::OK;
}

} // namespace tn
