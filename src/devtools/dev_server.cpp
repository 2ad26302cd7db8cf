#include "devtools/cgi_gateway.h"
#include "devtools/dev_commands.h"

#include <httplib.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tn::dev
{

namespace
{

constexpr size_t kMaxBody = 16 * 1024 * 1024;
constexpr int kPageTimeoutMs = 30000;

// The server's own variables a page may rely on (time zone, locale, PATH).
std::vector<std::string> passThroughEnvironment()
{
    std::vector<std::string> kept;
    for (const char* name : {"PATH", "TZ", "LANG", "LC_ALL", "LC_TIME"})
        if (const char* value = std::getenv(name)) kept.push_back(std::string(name) + "=" + value);
    return kept;
}

struct ChildResult
{
    bool started = false;
    bool timedOut = false;
    std::string output;
};

// Runs the program as a web server runs a CGI program: the body on standard
// input (a file, so that neither side can block the other), the response
// read from standard output, the page's folder as working folder.
ChildResult runProgram(const std::string& program, const std::vector<std::string>& env, const std::string& body,
                       const std::string& folder)
{
    ChildResult result;
    FILE* input = std::tmpfile();
    if (!input) return result;
    if (!body.empty() && std::fwrite(body.data(), 1, body.size(), input) != body.size())
    {
        std::fclose(input);
        return result;
    }
    std::fflush(input);
    std::rewind(input);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
    {
        std::fclose(input);
        return result;
    }

    std::vector<char*> envp;
    for (const std::string& entry : env)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fileno(input), 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::fclose(input);
    if (spawned != 0)
    {
        close(out[0]);
        return result;
    }
    result.started = true;

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPageTimeoutMs);
    char chunk[65536];
    for (;;)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            result.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        pollfd watch{out[0], POLLIN, 0};
        const int ready = poll(&watch, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        const ssize_t got = read(out[0], chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        result.output.append(chunk, static_cast<size_t>(got));
    }
    close(out[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
    return result;
}

void sendText(httplib::Response& res, int status, const std::string& text)
{
    res.status = status;
    res.set_content(text + "\n", "text/plain");
}

class DevServer
{
  public:
    DevServer(const ServeOptions& options, std::string rootReal, std::FILE* log)
        : options_(options), root_(std::move(rootReal)), log_(log), passThrough_(passThroughEnvironment())
    {
    }

    void handle(const httplib::Request& req, httplib::Response& res)
    {
        const Target target = ResolveRequestPath(root_, req.path);
        switch (target.kind)
        {
        case TargetKind::BadRequest:
            return sendText(res, 400, "Bad request");
        case TargetKind::Forbidden:
            return sendText(res, 403, "Forbidden");
        case TargetKind::NotFound:
            return sendText(res, 404, "Not found");
        case TargetKind::Redirect:
            res.status = 301;
            res.set_header("Location", target.scriptName);
            return;
        case TargetKind::Static:
            return sendFile(req, res, target);
        case TargetKind::Page:
            return runPage(req, res, target);
        }
    }

  private:
    void sendFile(const httplib::Request& req, httplib::Response& res, const Target& target)
    {
        if (req.method != "GET" && req.method != "HEAD") return sendText(res, 405, "Method not allowed");
        std::ifstream in(target.file, std::ios::binary);
        if (!in) return sendText(res, 403, "Forbidden");
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        res.set_content(std::move(content), ContentTypeFor(target.file).c_str());
    }

    void runPage(const httplib::Request& req, httplib::Response& res, const Target& target)
    {
        CgiRequest request;
        request.method = req.method;
        request.target = req.target;
        const size_t question = req.target.find('?');
        if (question != std::string::npos) request.query = req.target.substr(question + 1);
        for (const auto& [name, value] : req.headers)
        {
            // Headers httplib adds for itself are not the client's.
            if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT")
                continue;
            request.headers.emplace_back(name, value);
        }
        request.remoteAddress = req.remote_addr;
        request.remotePort = req.remote_port;
        request.serverName = options_.host;
        request.serverPort = options_.port;
        request.documentRoot = root_;
        request.bodyLength = req.body.size();

        const std::string folder = target.file.substr(0, target.file.rfind('/') + 1);
        const ChildResult child =
            runProgram(options_.program, CgiEnvironment(request, target, passThrough_), req.body, folder);
        if (!child.started) return sendText(res, 500, "Could not start " + options_.program);
        if (child.timedOut) return sendText(res, 504, "The page did not finish in time");
        const CgiResponse response = ParseCgiOutput(child.output);
        if (!response.valid)
        {
            std::fprintf(log_, "tnscript-dev: %s: the program wrote no header block\n", target.file.c_str());
            return sendText(res, 500, "The program wrote no response");
        }
        res.status = response.status;
        std::string contentType;
        for (const auto& [name, value] : response.headers)
        {
            if (name == "Content-Type")
                contentType = value;
            else
                res.set_header(name.c_str(), value);
        }
        res.set_content(response.body, contentType.c_str());
    }

    const ServeOptions& options_; // the port is known only once bound
    const std::string root_;
    std::FILE* log_;
    const std::vector<std::string> passThrough_;
};

} // namespace

int ServeCommand(const ServeOptions& options, std::FILE* log)
{
    char* real = realpath(options.root.c_str(), nullptr);
    if (!real)
    {
        std::fprintf(log, "tnscript-dev: cannot serve %s: %s\n", options.root.c_str(), std::strerror(errno));
        return 1;
    }
    const std::string root = real;
    std::free(real);
    if (access(options.program.c_str(), X_OK) != 0)
    {
        std::fprintf(log, "tnscript-dev: cannot run %s (use --program PATH)\n", options.program.c_str());
        return 1;
    }

    ServeOptions bound = options;
    httplib::Server server;
    server.set_payload_max_length(kMaxBody);
    server.set_read_timeout(10, 0);
    DevServer pages(bound, root, log);
    const auto handler = [&pages](const httplib::Request& req, httplib::Response& res) { pages.handle(req, res); };
    server.Get(".*", handler);
    server.Post(".*", handler);
    server.Put(".*", handler);
    server.Delete(".*", handler);
    server.Patch(".*", handler);
    server.set_logger(
        [log](const httplib::Request& req, const httplib::Response& res)
        {
            std::fprintf(log, "%s \"%s %s\" %d %zu\n", req.remote_addr.c_str(), req.method.c_str(), req.target.c_str(),
                         res.status, res.body.size());
            std::fflush(log);
        });
    // Port 0 takes any free port; the line below tells which.
    if (options.port == 0) bound.port = server.bind_to_any_port(options.host);
    if (bound.port <= 0 || (options.port != 0 && !server.bind_to_port(options.host, options.port)))
    {
        std::fprintf(log, "tnscript-dev: cannot listen on %s:%d\n", options.host.c_str(), options.port);
        return 1;
    }
    std::fprintf(log, "tnscript-dev: serving %s on http://%s:%d/ (pages run by %s)\n", root.c_str(),
                 options.host.c_str(), bound.port, options.program.c_str());
    std::fflush(log);
    return server.listen_after_bind() ? 0 : 1;
}

} // namespace tn::dev
