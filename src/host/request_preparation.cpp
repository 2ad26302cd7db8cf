#include "host/request_preparation.h"

#include "host/form_data.h"
#include "hostlib/cookie.h"
#include "vm/virtual_machine.h"

namespace tn
{

namespace
{

bool equalsNoCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size())
    {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i)
    {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
        {
            x = static_cast<char>(x - 'A' + 'a');
        }
        if (y >= 'A' && y <= 'Z')
        {
            y = static_cast<char>(y - 'A' + 'a');
        }
        if (x != y)
        {
            return false;
        }
    }
    return true;
}

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
        if (equalsNoCase(name, "query_string"))
        {
            queryString = value;
        }
        else if (equalsNoCase(name, "http_cookie"))
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
