#include "devtools/dev_commands.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

const char kUsage[] = "usage: tnscript-dev COMMAND ...\n"
                      "  check PAGE...              compile without writing; errors as file:line: message\n"
                      "  disasm PAGE|FILE.ctn       list the compiled program\n"
                      "  serve [DIR] [--port N] [--bind ADDRESS] [--program PATH]\n"
                      "                             development web server (default 127.0.0.1:8080)\n"
                      "  functions [PATTERN]        system functions with their argument counts\n";

int usageError(const char* detail)
{
    std::fprintf(stderr, "tnscript-dev: %s\n%s", detail, kUsage);
    return 2;
}

// tnscriptapp lives beside this program, in the build folder and once installed.
std::string siblingProgram()
{
    std::vector<char> path(4096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return "tnscriptapp";
    std::string self(path.data(), static_cast<size_t>(length));
    const size_t slash = self.rfind('/');
    return self.substr(0, slash + 1) + "tnscriptapp";
}

bool parsePort(const char* text, int& port)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!*text || *end || value < 0 || value > 65535) return false;
    port = static_cast<int>(value);
    return true;
}

int serve(const std::vector<std::string>& args)
{
    tn::dev::ServeOptions options;
    options.program = siblingProgram();
    bool rootGiven = false;
    for (size_t i = 0; i < args.size(); ++i)
    {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--port" && hasValue)
        {
            if (!parsePort(args[++i].c_str(), options.port)) return usageError("invalid port");
        }
        else if (arg == "--bind" && hasValue)
            options.host = args[++i];
        else if (arg == "--program" && hasValue)
            options.program = args[++i];
        else if (arg.empty() || arg[0] == '-' || rootGiven)
            return usageError(("unexpected argument " + arg).c_str());
        else
        {
            options.root = arg;
            rootGiven = true;
        }
    }
    return tn::dev::ServeCommand(options, stderr);
}

} // namespace

int main(int argc, char** argv)
{
    // A client that hangs up must not end the server.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 2) return usageError("no command given");
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "help" || command == "--help" || command == "-h")
    {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "check")
    {
        if (args.empty()) return usageError("check needs at least one page");
        return tn::dev::CheckCommand(args, stdout);
    }
    if (command == "disasm")
    {
        if (args.size() != 1) return usageError("disasm takes one page or compiled file");
        return tn::dev::DisasmCommand(args[0], stdout);
    }
    if (command == "functions")
    {
        if (args.size() > 1) return usageError("functions takes at most one pattern");
        return tn::dev::FunctionsCommand(args.empty() ? std::string() : args[0], stdout);
    }
    if (command == "serve") return serve(args);
    return usageError(("unknown command " + command).c_str());
}
