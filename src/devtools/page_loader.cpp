#include "devtools/page_loader.h"

namespace tn::dev
{

LoadedPage LoadPageForTool(const std::string& path)
{
    LoadedPage page;
    page.script = std::make_unique<Script>();
    page.script->setPath(path);
    page.script->engine().setHtmlFormatting(false);
    page.result = page.script->compileOnly(true);
    if (page.result == ereturnvalue::NotFound && page.script->isCompiled())
    {
        // Compile mode refuses compiled files; the run path decodes them.
        page.compiledFile = true;
        page.script = std::make_unique<Script>();
        page.script->setPath(path);
        page.script->engine().setHtmlFormatting(false);
        page.result = page.script->load();
    }
    return page;
}

} // namespace tn::dev
