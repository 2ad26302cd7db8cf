#include "host/request_preparation.h"
#include "common/ascii.h"

#include "host/form_data.h"
#include "hostlib/cookie.h"
#include "vm/virtual_machine.h"

namespace tn
{

namespace
{

void storeFormData(std::string_view data, VirtualMachine& machine)
{
    VirtualMachine::Environment& stored = machine.environment();
    ParseFormData(data,
                  [&](std::string name, std::string value)
                  {
                      if (stored.find(VirtualMachine::SafeEnvironmentName(name)) == stored.end())
                      {
                          machine.setEnvironmentVariable(name, value);
                      }
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
