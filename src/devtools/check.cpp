#include "devtools/check_messages.h"
#include "devtools/dev_commands.h"
#include "devtools/page_loader.h"

namespace tn::dev
{

std::string CheckMessages(const std::string& path, const LoadedPage& page)
{
    const Script& script = *page.script;
    if (page.result == ereturnvalue::OK) return {};
    if (page.result == ereturnvalue::Empty && !page.compiledFile &&
        script.errorMessage() == Script::kInitialErrorMessage)
    {
        // The program answers such a page with the header block alone.
        return path + ":1: no code block: the page would be served empty\n";
    }
    std::string text;
    const ScriptEngine& engine = script.engine();
    for (int32_t block = 1; block <= engine.compileRecordCount(); ++block)
    {
        const BlockCompileResult* record = engine.compileRecord(block);
        if (!record || record->ok) continue;
        text += record->errorFile.empty() ? path : record->errorFile;
        if (record->errorLine > 0) (text += ':') += std::to_string(record->errorLine);
        text += ": " + (record->message.empty() ? std::string("compile error") : record->message) + "\n";
    }
    if (text.empty()) text = path + ": " + script.errorMessage() + "\n";
    return text;
}

int CheckCommand(const std::vector<std::string>& pages, std::FILE* out)
{
    int code = 0;
    for (const std::string& path : pages)
    {
        const std::string messages = CheckMessages(path, LoadPageForTool(path));
        if (messages.empty()) continue;
        std::fputs(messages.c_str(), out);
        code = 1;
    }
    return code;
}

} // namespace tn::dev
