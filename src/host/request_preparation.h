// Moves one request into a script environment: the environment variables,
// the cookies of http_cookie, then the query string and the form body.
#pragma once

#include "common/result_codes.h"

#include <map>
#include <string>
#include <string_view>

namespace tn
{

class VirtualMachine;

// [environment] is keyed by lower-case name. Entries are stored in name order;
// the cookies of http_cookie are stored when that entry is reached and replace
// what came before (a later entry of the same name replaces a cookie). Query
// string pairs, then body pairs, only fill names that are still free. Every
// name goes through the machine's identifier-safe rewrite.
ereturnvalue PrepareRequest(const std::map<std::string, std::string>& environment, std::string_view requestBody,
                            VirtualMachine& machine);

} // namespace tn
