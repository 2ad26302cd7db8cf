// The registered system functions as the tools show them: read from the
// registration tables, so a list can never disagree with what scripts may call.
#pragma once

#include "vm/function_set.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tn::dev
{

struct CatalogEntry
{
    std::string name;
    int32_t id = 0;
    std::string set;       // "core", "host", "configuration", "database"
    std::string arguments; // "2", "1-3", "2+", "1 or 3", "any"
    std::string byRef;     // "&2,&3": parameters passed by reference
};

// The accepted argument counts: a declared count wins over the rule, since
// the machine tests it first.
std::string ArgumentCountText(const SysFunction& row);

// Every function of the host's sets, in registration order.
std::vector<CatalogEntry> FunctionCatalog();

// Name of a system function id, empty when none has it.
std::string SystemFunctionName(int32_t id);

// A pattern with * ? or [ is a glob; anything else matches as a substring.
// Both ignore letter case.
bool NameMatches(std::string_view name, std::string_view pattern);

} // namespace tn::dev
