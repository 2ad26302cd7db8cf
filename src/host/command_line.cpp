#include "host/command_line.h"

#include "common/ascii.h"
#include <cstring>

#include <cerrno>
#include <chrono>
#include <poll.h>
#include <unistd.h>

namespace tn
{

namespace
{

} // namespace

CommandLine ParseCommandLine(int argc, const char* const* argv, std::string& messages)
{
    CommandLine line;
    for (int i = 1; i < argc && argv != nullptr; ++i)
    {
        if (argv[i] == nullptr)
        {
            continue;
        }
        const std::string_view arg = argv[i];
        if (arg.empty() || arg[0] != '-')
        {
            line.scriptName = arg;
            continue;
        }
        // Every option, known or not, clears the run flag; only -r sets it again.
        const std::string_view word = arg.substr(1);
        line.run = false;
        if (word == "r")
        {
            line.run = true;
        }
        else if (word == "c")
        {
            line.compile = true;
        }
        else if (word == "?" || word == "h" || word == "help")
        {
            line.help = true;
        }
        else if (word == "v")
        {
            line.version = true;
        }
        else if (word == "s")
        {
            line.managed = true;
        }
        else
        {
            messages += kUnknownOptionMessage;
        }
    }
    return line;
}

RunMode ChooseRunMode(const CommandLine& line) noexcept
{
    if (line.help)
    {
        return RunMode::Usage;
    }
    if (line.version)
    {
        return RunMode::Version;
    }
    if (line.run)
    {
        return RunMode::Run;
    }
    if (line.compile)
    {
        return RunMode::Compile;
    }
    if (line.managed)
    {
        return RunMode::Managed;
    }
    return RunMode::None;
}

std::string UsageText()
{
    return "\ntnscriptapp\n"
           "Syntax:\n"
           "    tnscriptapp -[rcvh] scriptfile\n"
           "    -c compile\n"
           "    -v version and build date\n"
           "    -h Display this message\n";
}

std::string VersionText()
{
    std::string text = "tnscriptapp version ";
    text += kProgramVersion;
    text += " Compiled on " __DATE__ " at " __TIME__ "\n";
    return text;
}

std::string CompileAnnouncementText(std::string_view scriptName)
{
    std::string text = "tnscriptapp: compile ";
    text += scriptName;
    text += '\n';
    return text;
}

std::string CompiledFileName(std::string_view scriptName)
{
    const size_t dot = scriptName.rfind('.');
    std::string name(dot == std::string_view::npos ? scriptName : scriptName.substr(0, dot));
    name += ".ctn";
    return name;
}

bool HasCompiledExtension(std::string_view scriptName)
{
    return EqualsIgnoreCase(CompiledFileName(scriptName), scriptName);
}

void ForEachEnvironmentEntry(const char* const* environment,
                             const std::function<void(std::string name, std::string value)>& store)
{
    if (environment == nullptr)
    {
        return;
    }
    for (const char* const* entry = environment; *entry != nullptr; ++entry)
    {
        const std::string_view text = *entry;
        const size_t equals = text.find('=');
        if (equals == 0 || equals == std::string_view::npos || equals + 1 == text.size() ||
            text.substr(0, equals) == kFastPathsVariable)
        {
            continue;
        }
        std::string name(text.substr(0, equals));
        for (char& c : name)
        {
            c = AsciiLower(c);
        }
        store(std::move(name), std::string(text.substr(equals + 1)));
    }
}

namespace
{
// The value of [name] (any case, as run mode finds it) in an environment block; null when absent.
const char* FindEnvironmentValue(const char* const* environment, std::string_view name)
{
    if (environment == nullptr) return nullptr;
    for (const char* const* entry = environment; *entry != nullptr; ++entry)
    {
        const std::string_view text = *entry;
        if (text.size() > name.size() && text[name.size()] == '=' &&
            EqualsIgnoreCase(text.substr(0, name.size()), name))
            return *entry + name.size() + 1;
    }
    return nullptr;
}
} // namespace

bool RequestSetsArguments(const char* const* environment)
{
    const char* gateway = FindEnvironmentValue(environment, "GATEWAY_INTERFACE");
    const char* query = FindEnvironmentValue(environment, "QUERY_STRING");
    return gateway && *gateway && query && *query && std::strchr(query, '=') == nullptr;
}

ereturnvalue ReadRequestBody(int fd, ByteBuffer& out, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    out.clear();
    if (fd < 0)
    {
        return ereturnvalue::FileError;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    char chunk[65536];
    for (;;)
    {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
        {
            out.clear();
            return ereturnvalue::TimedOut;
        }
        pollfd watch{fd, POLLIN, 0};
        const int ready = poll(&watch, 1, static_cast<int>(left));
        if (ready < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            out.clear();
            return ereturnvalue::FileError;
        }
        if (ready == 0)
        {
            continue; // the deadline check above ends the wait
        }
        if ((watch.revents & POLLNVAL) != 0)
        {
            out.clear();
            return ereturnvalue::FileError;
        }
        // Readable, hung up or failed: read() now returns without blocking.
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got == 0)
        {
            return ereturnvalue::OK;
        }
        if (got < 0)
        {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)
            {
                continue;
            }
            out.clear();
            return ereturnvalue::FileError;
        }
        try
        {
            out.append(chunk, static_cast<int32_t>(got));
        }
        catch (ereturnvalue rc)
        {
            out.clear();
            return rc;
        }
    }
}

} // namespace tn
