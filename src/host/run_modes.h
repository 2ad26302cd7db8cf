// The program's modes: run a page (from the command line or as a CGI
// program), compile a page to a compiled file, or run it in time slices.
// Each returns the process exit code.
#pragma once

#include <cstdio>
#include <string>

namespace tn
{

// The whole program: option scan, mode choice, the chosen mode. [environment]
// is the process environment block; [input] the descriptor a CGI request body
// is read from.
int RunProgram(int argc, const char* const* argv, const char* const* environment, std::FILE* out = stdout,
               int input = 0);

// Runs [scriptName], or in CGI use (gateway_interface set) the page named by
// path_translated with the request body from [input]. The response goes to
// [out] raw. 1 only when no script is named outside CGI use.
int RunScriptMode(const std::string& scriptName, const char* const* environment, std::FILE* out, int input);

// Compiles [scriptName] to its compiled sibling. 0 when the file was written.
int CompileScriptMode(const std::string& scriptName, std::FILE* out);

// Runs [scriptName] through the script manager, with an empty environment
// and request body, sleeping kManagedWaitMs whenever every script waits.
int ManagedRunMode(const std::string& scriptName, std::FILE* out);

inline constexpr int kManagedWaitMs = 1000;

} // namespace tn
