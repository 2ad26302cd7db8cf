#include "devtools/function_catalog.h"

#include "common/ascii.h"
#include "hostlib/host_functions.h"

#include <fnmatch.h>
#include <unordered_map>

namespace tn::dev
{

std::string ArgumentCountText(const SysFunction& row)
{
    if (row.declaredCount >= 0) return std::to_string(row.declaredCount);
    const ArgRule& rule = row.rule;
    if (rule.endsOnly) return std::to_string(rule.min) + " or " + std::to_string(rule.max);
    if (rule.max < 0) return rule.min == 0 ? std::string("any") : std::to_string(rule.min) + "+";
    if (rule.min == rule.max) return std::to_string(rule.min);
    return std::to_string(rule.min) + "-" + std::to_string(rule.max);
}

namespace
{

std::string byRefText(uint32_t mask)
{
    std::string text;
    for (int parameter = 1; parameter < 32; ++parameter)
    {
        if ((mask & (uint32_t(1) << parameter)) == 0) continue;
        if (!text.empty()) text += ",";
        (text += '&') += std::to_string(parameter);
    }
    return text;
}

// The sets come in the host's registration order.
const char* setName(size_t index)
{
    static const char* const names[] = {"core", "host", "configuration", "database"};
    return index < std::size(names) ? names[index] : "other";
}

} // namespace

std::vector<CatalogEntry> FunctionCatalog()
{
    std::vector<CatalogEntry> entries;
    const FunctionSets& sets = HostFunctionSets();
    for (size_t i = 0; i < sets.size(); ++i)
    {
        for (const SysFunction* row : sets[i]->rows())
            entries.push_back({row->name, row->id, setName(i), ArgumentCountText(*row), byRefText(row->byRefMask)});
    }
    return entries;
}

std::string SystemFunctionName(int32_t id)
{
    static const std::unordered_map<int32_t, std::string> names = []
    {
        std::unordered_map<int32_t, std::string> byId;
        for (const CatalogEntry& entry : FunctionCatalog())
            byId.emplace(entry.id, entry.name);
        return byId;
    }();
    const auto found = names.find(id);
    return found == names.end() ? std::string() : found->second;
}

bool NameMatches(std::string_view name, std::string_view pattern)
{
    const std::string lowerName = AsciiLowerCopy(name);
    const std::string lowerPattern = AsciiLowerCopy(pattern);
    if (lowerPattern.find_first_of("*?[") != std::string::npos)
        return fnmatch(lowerPattern.c_str(), lowerName.c_str(), 0) == 0;
    return lowerName.find(lowerPattern) != std::string::npos;
}

} // namespace tn::dev
