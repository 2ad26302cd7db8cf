// The program's command line: option scan, mode choice, the fixed console
// texts, compiled-file naming and the CGI request-body reader.
#pragma once

#include "common/byte_buffer.h"
#include "common/result_codes.h"

#include <functional>
#include <string>
#include <string_view>

namespace tn
{

inline constexpr std::string_view kProgramVersion = "2.2.0";

inline constexpr const char* kUnknownOptionMessage = "tnscriptapp: error unknown option";
inline constexpr const char* kNoScriptMessage = "tnscriptapp: no script specified\n";
inline constexpr const char* kCompiledExtensionMessage = "tnscriptapp: compiled script extension specified\n";

// How long CGI use waits for the request body on standard input.
inline constexpr int kRequestBodyTimeoutMs = 2000;

struct CommandLine
{
    std::string scriptName;
    bool run = true; // reflects only whether the last option was -r
    bool help = false;
    bool version = false;
    bool compile = false;
    bool managed = false;
};

enum class RunMode
{
    None,
    Usage,
    Version,
    Run,
    Compile,
    Managed,
};

// Scans argv[1..argc-1]; appends kUnknownOptionMessage to [messages] for each
// option word that matches nothing. Null entries are skipped.
CommandLine ParseCommandLine(int argc, const char* const* argv, std::string& messages);

// First that applies: help, version, run, compile, managed run, else None.
RunMode ChooseRunMode(const CommandLine& line) noexcept;

std::string UsageText();
// The build stamp keeps __DATE__'s own form, whose day is padded with a blank
// ("Mar  1 2003").
std::string VersionText();
// "tnscriptapp: compile <name>\n".
std::string CompileAnnouncementText(std::string_view scriptName);

// Everything from the last "." removed (even inside a folder name), then ".ctn".
std::string CompiledFileName(std::string_view scriptName);
// True when compiling [scriptName] would overwrite it: it already has the compiled name.
bool HasCompiledExtension(std::string_view scriptName);

// The program's own diagnostic switch: "always" runs register code and
// integer functions from the first instruction, "never" not at all, so that
// a page can be checked to run the same both ways. Scripts never see it.
inline constexpr std::string_view kFastPathsVariable = "TNSCRIPTAPP_FAST_PATHS";

// Calls [store] for each "name=value" entry of a null-terminated environment
// block, with the name (text before the first "=") in lower case. Entries
// with an empty name or an empty value, and the program's own switch, are
// left out.
void ForEachEnvironmentEntry(const char* const* environment,
                             const std::function<void(std::string name, std::string value)>& store);

// True when a web server has put the words of a query string without "=" on
// the command line: CGI use ("GATEWAY_INTERFACE" set) and such a
// "QUERY_STRING". A request never chooses the mode, so the arguments are then
// ignored.
bool RequestSetsArguments(const char* const* environment);

// Reads [fd] to its end into [out] (cleared first). Gives up [timeoutMs] after
// it started: [out] is then left empty and the result is TimedOut. A read
// error gives FileError, also with [out] empty. Never blocks past the deadline.
ereturnvalue ReadRequestBody(int fd, ByteBuffer& out, int timeoutMs = kRequestBodyTimeoutMs);

} // namespace tn
