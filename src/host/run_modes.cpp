#include "host/run_modes.h"

#include "host/command_line.h"
#include "host/script.h"
#include "host/script_manager.h"

#include <unistd.h>

namespace tn
{

namespace
{

void writeText(std::FILE* out, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), out);
}

void writeLine(std::FILE* out, const std::string& text)
{
    writeText(out, text);
    std::fputc('\n', out);
}

ScriptEngine::FastPaths FastPathsSetting(const char* const* environment)
{
    for (const char* const* entry = environment; entry && *entry; ++entry)
    {
        const std::string_view text = *entry;
        if (text.size() <= kFastPathsVariable.size() || !text.starts_with(kFastPathsVariable) ||
            text[kFastPathsVariable.size()] != '=')
            continue;
        const std::string_view value = text.substr(kFastPathsVariable.size() + 1);
        if (value == "always") return ScriptEngine::FastPaths::Always;
        if (value == "never") return ScriptEngine::FastPaths::Never;
    }
    return ScriptEngine::FastPaths::Normal;
}

} // namespace

int RunScriptMode(const std::string& scriptName, const char* const* environment, std::FILE* out, int input)
{
    Script script;
    ForEachEnvironmentEntry(environment, [&script](std::string name, std::string value)
                            { script.setEnvironmentVariable(name, value); });
    if (script.environmentVariable("gateway_interface") == nullptr)
    {
        if (scriptName.empty())
        {
            std::fputs(kNoScriptMessage, out);
            return 1;
        }
        script.setPath(scriptName);
        script.setCgi(false);
    }
    else
    {
        // The page comes from path_translated when the script loads. A body
        // that does not arrive in time is dropped and the run goes on.
        script.setCgi(true);
        ReadRequestBody(input, script.requestBody(), kRequestBodyTimeoutMs);
    }
    try
    {
        script.run();
    }
    catch (...)
    {
        // Whatever output the script built is still sent.
    }
    script.output().writeStream(out);
    return 0;
}

int CompileScriptMode(const std::string& scriptName, std::FILE* out)
{
    if (scriptName.empty())
    {
        std::fputs(kNoScriptMessage, out);
        return 1;
    }
    const std::string compiledName = CompiledFileName(scriptName);
    if (HasCompiledExtension(scriptName))
    {
        std::fputs(kCompiledExtensionMessage, out);
        return 1;
    }
    // Only a file is removed: a folder of that name stays, and the save then fails.
    ::unlink(compiledName.c_str());
    writeText(out, CompileAnnouncementText(scriptName));

    Script script;
    script.setPath(scriptName);
    script.setCgi(false);
    script.engine().setHtmlFormatting(false);
    const ereturnvalue result = script.compileOnly();
    if (result == ereturnvalue::OK)
    {
        if (script.saveCompiled(compiledName) == ereturnvalue::OK)
        {
            std::fflush(out);
            return 0;
        }
        writeLine(out, script.errorMessage());
    }
    else if (result == ereturnvalue::Empty || result == ereturnvalue::NotFound)
    {
        writeLine(out, script.errorMessage());
    }
    else
    {
        ByteBuffer messages;
        script.errorMessages(messages);
        if (messages.empty())
        {
            writeLine(out, script.errorMessage());
        }
        else
        {
            std::fflush(out);
            messages.writeStream(out);
        }
    }
    std::fflush(out);
    return 1;
}

// The script goes to the process's script manager, which runs it (and any
// script it starts) in slices until none is left; then its output is sent.
// A queue in which every script waits and no timer can wake one would wait
// for ever: its waits are given up instead.
int ManagedRunMode(const std::string& scriptName, std::FILE* out)
{
    if (scriptName.empty())
    {
        std::fputs(kNoScriptMessage, out);
        return 1;
    }
    ScriptManager& manager = ScriptManager::instance();
    int32_t scriptId = 0;
    const ereturnvalue started = manager.startScript(scriptName, {}, ByteBuffer(), scriptId, true);
    if (started != ereturnvalue::Empty)
    {
        while (manager.drive(kManagedWaitMs, false) != ereturnvalue::Empty)
        {
        }
    }
    ByteBuffer output;
    int32_t recordId = 0;
    if (manager.scriptRecord(ScriptServices::kScriptRecord, scriptId, recordId) == ereturnvalue::Complete)
        manager.takeOutput(recordId, output);
    output.writeStream(out);
    return 0;
}

int RunProgram(int argc, const char* const* argv, const char* const* environment, std::FILE* out, int input)
{
    ScriptEngine::setFastPaths(FastPathsSetting(environment));
    CommandLine line;
    if (argc >= 2 && !RequestSetsArguments(environment))
    {
        std::string messages;
        line = ParseCommandLine(argc, argv, messages);
        writeText(out, messages);
    }
    switch (ChooseRunMode(line))
    {
    case RunMode::Usage:
        writeText(out, UsageText());
        return 0;
    case RunMode::Version:
        writeText(out, VersionText());
        return 0;
    case RunMode::Run:
        return RunScriptMode(line.scriptName, environment, out, input);
    case RunMode::Compile:
        return CompileScriptMode(line.scriptName, out);
    case RunMode::Managed:
        return ManagedRunMode(line.scriptName, out);
    case RunMode::None:
        break;
    }
    return 0;
}

} // namespace tn
