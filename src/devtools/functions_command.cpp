#include "devtools/dev_commands.h"
#include "devtools/function_catalog.h"

namespace tn::dev
{

int FunctionsCommand(const std::string& pattern, std::FILE* out)
{
    int shown = 0;
    for (const CatalogEntry& entry : FunctionCatalog())
    {
        if (!pattern.empty() && !NameMatches(entry.name, pattern)) continue;
        std::fprintf(out, "%-28s %7d  %-13s %s%s%s\n", entry.name.c_str(), entry.id, entry.set.c_str(),
                     entry.arguments.c_str(), entry.byRef.empty() ? "" : "  by reference: ", entry.byRef.c_str());
        ++shown;
    }
    // A pattern that matches nothing is an answer, not a failure, but a
    // script that greps for a name wants a status.
    return shown > 0 ? 0 : 1;
}

} // namespace tn::dev
