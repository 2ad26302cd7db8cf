// The subcommands of tnscript-dev. Each returns the process exit code.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace tn::dev
{

// Compiles each page without writing anything; "file:line: message" per error.
int CheckCommand(const std::vector<std::string>& pages, std::FILE* out);

// The program of a page (compiled on the fly) or of a compiled file as a listing.
int DisasmCommand(const std::string& path, std::FILE* out);

// The registered system functions whose names match [pattern] (all when empty).
int FunctionsCommand(const std::string& pattern, std::FILE* out);

struct ServeOptions
{
    std::string root = ".";
    std::string host = "127.0.0.1";
    int port = 8080;
    std::string program; // the tnscriptapp binary that runs the pages
};

// A development web server; runs until interrupted. Logs to [log].
int ServeCommand(const ServeOptions& options, std::FILE* log);

} // namespace tn::dev
