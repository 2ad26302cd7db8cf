#include "devtools/check_messages.h"
#include "devtools/dev_commands.h"
#include "devtools/listing.h"
#include "devtools/page_loader.h"

namespace tn::dev
{

int DisasmCommand(const std::string& path, std::FILE* out)
{
    const LoadedPage page = LoadPageForTool(path);
    if (page.result != ereturnvalue::OK)
    {
        std::fputs(CheckMessages(path, page).c_str(), stderr);
        return 1;
    }
    std::fprintf(out, "; %s%s\n", path.c_str(), page.compiledFile ? " (compiled file: no symbols)" : "");
    std::fputs(ListProgram(page.script->engine().image(), FileSourceLines()).c_str(), out);
    return 0;
}

} // namespace tn::dev
