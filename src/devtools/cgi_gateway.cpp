#include "devtools/cgi_gateway.h"

#include "common/ascii.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sys/stat.h>

namespace tn::dev
{

namespace
{

std::string extensionOf(std::string_view path)
{
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
    return AsciiLowerCopy(path.substr(dot + 1));
}

bool isUnder(const std::string& rootReal, const std::string& path)
{
    return path == rootReal || (path.size() > rootReal.size() && path.compare(0, rootReal.size(), rootReal) == 0 &&
                                path[rootReal.size()] == '/');
}

std::vector<std::string_view> segmentsOf(std::string_view path)
{
    std::vector<std::string_view> segments;
    size_t at = 0;
    while (at <= path.size())
    {
        size_t end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        if (end > at) segments.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return segments;
}

Target refuse(TargetKind kind)
{
    Target target;
    target.kind = kind;
    return target;
}

} // namespace

bool IsScriptPage(const std::string& file)
{
    const std::string extension = extensionOf(file);
    if (extension == "tnl" || extension == "ctn") return true;
    if (extension != "htm" && extension != "html") return false;
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return AsciiLowerCopy(text).find("<?tnl") != std::string::npos;
}

Target ResolveRequestPath(const std::string& rootReal, std::string_view urlPath)
{
    if (urlPath.empty() || urlPath[0] != '/' || urlPath.find('\0') != std::string_view::npos)
        return refuse(TargetKind::BadRequest);
    const std::vector<std::string_view> segments = segmentsOf(urlPath);
    std::string path = rootReal;
    std::string scriptName;
    for (size_t i = 0; i < segments.size(); ++i)
    {
        const std::string_view segment = segments[i];
        if (segment == "." || segment == ".." || segment.find('\\') != std::string_view::npos)
            return refuse(TargetKind::Forbidden);
        // Hidden files and folders (.git, .htaccess) stay private.
        if (segment[0] == '.') return refuse(TargetKind::NotFound);
        path += "/";
        path += segment;
        scriptName += "/";
        scriptName += segment;
        struct stat facts;
        if (stat(path.c_str(), &facts) != 0) return refuse(TargetKind::NotFound);
        if (S_ISDIR(facts.st_mode)) continue;
        if (!S_ISREG(facts.st_mode)) return refuse(TargetKind::Forbidden);

        Target target;
        char* real = realpath(path.c_str(), nullptr);
        if (!real) return refuse(TargetKind::NotFound);
        target.file = real;
        std::free(real);
        if (!isUnder(rootReal, target.file)) return refuse(TargetKind::Forbidden);
        // Include files hold code that must not be read by a client.
        if (extensionOf(target.file) == "inc") return refuse(TargetKind::Forbidden);
        target.scriptName = scriptName;
        const bool page = IsScriptPage(target.file);
        if (i + 1 < segments.size() || urlPath.back() == '/')
        {
            if (!page) return refuse(TargetKind::NotFound);
            const auto used = static_cast<size_t>(segment.data() + segment.size() - urlPath.data());
            target.pathInfo = std::string(urlPath.substr(used));
        }
        target.kind = page ? TargetKind::Page : TargetKind::Static;
        return target;
    }

    // A folder: its real place must be under the root too.
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return refuse(TargetKind::NotFound);
    const std::string folder = real;
    std::free(real);
    if (!isUnder(rootReal, folder)) return refuse(TargetKind::Forbidden);
    if (urlPath.back() != '/')
    {
        Target target;
        target.kind = TargetKind::Redirect;
        target.scriptName = std::string(urlPath) + "/";
        return target;
    }
    for (const char* index : {"index.tnl", "index.htm", "index.html"})
    {
        struct stat facts;
        const std::string candidate = folder + "/" + index;
        if (stat(candidate.c_str(), &facts) == 0 && S_ISREG(facts.st_mode))
            return ResolveRequestPath(rootReal, std::string(urlPath) + index);
    }
    return refuse(TargetKind::NotFound);
}

std::string ContentTypeFor(std::string_view path)
{
    static const std::pair<const char*, const char*> types[] = {
        {"html", "text/html"},        {"htm", "text/html"},         {"css", "text/css"},     {"js", "text/javascript"},
        {"mjs", "text/javascript"},   {"json", "application/json"}, {"txt", "text/plain"},   {"xml", "application/xml"},
        {"svg", "image/svg+xml"},     {"png", "image/png"},         {"jpg", "image/jpeg"},   {"jpeg", "image/jpeg"},
        {"gif", "image/gif"},         {"webp", "image/webp"},       {"ico", "image/x-icon"}, {"pdf", "application/pdf"},
        {"wasm", "application/wasm"}, {"woff2", "font/woff2"},
    };
    const std::string extension = extensionOf(path);
    for (const auto& [name, type] : types)
        if (extension == name) return type;
    return "application/octet-stream";
}

std::vector<std::string> CgiEnvironment(const CgiRequest& request, const Target& target,
                                        const std::vector<std::string>& passThrough)
{
    std::vector<std::string> env = passThrough;
    auto set = [&env](std::string_view name, std::string_view value)
    { env.push_back(std::string(name) + "=" + std::string(value)); };
    set("GATEWAY_INTERFACE", "CGI/1.1");
    set("SERVER_SOFTWARE", "tnscript-dev");
    set("SERVER_PROTOCOL", "HTTP/1.1");
    set("SERVER_NAME", request.serverName);
    set("SERVER_PORT", std::to_string(request.serverPort));
    set("REQUEST_METHOD", request.method);
    set("REQUEST_URI", request.target);
    set("QUERY_STRING", request.query);
    set("SCRIPT_NAME", target.scriptName);
    set("SCRIPT_FILENAME", target.file);
    set("PATH_TRANSLATED", target.file);
    if (!target.pathInfo.empty()) set("PATH_INFO", target.pathInfo);
    set("DOCUMENT_ROOT", request.documentRoot);
    set("REMOTE_ADDR", request.remoteAddress);
    set("REMOTE_PORT", std::to_string(request.remotePort));
    if (request.bodyLength > 0) set("CONTENT_LENGTH", std::to_string(request.bodyLength));
    for (const auto& [name, value] : request.headers)
    {
        std::string upper;
        for (const char c : name)
            upper += c == '-' ? '_' : AsciiUpper(c);
        if (upper == "CONTENT_TYPE")
        {
            set("CONTENT_TYPE", value);
            continue;
        }
        // Content-Length has its own variable; Proxy would poison HTTP_PROXY.
        if (upper == "CONTENT_LENGTH" || upper == "PROXY") continue;
        set("HTTP_" + upper, value);
    }
    return env;
}

CgiResponse ParseCgiOutput(std::string_view output)
{
    CgiResponse response;
    size_t at = 0;
    bool statusGiven = false;
    while (at < output.size())
    {
        size_t end = output.find('\n', at);
        if (end == std::string_view::npos) return response;
        std::string_view line = output.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty())
        {
            response.valid = true;
            response.body = std::string(output.substr(at));
            return response;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return response;
        const std::string name(line.substr(0, colon));
        const std::string value(TrimBlanks(line.substr(colon + 1)));
        if (EqualsIgnoreCase(name, "Status") || EqualsIgnoreCase(name, "SpecialError"))
        {
            const int code = std::atoi(value.c_str());
            if (code >= 100 && code <= 599)
            {
                response.status = code;
                statusGiven = true;
            }
            continue;
        }
        if (EqualsIgnoreCase(name, "Location") && !statusGiven) response.status = 302;
        response.headers.emplace_back(EqualsIgnoreCase(name, "Content-type") ? "Content-Type" : name, value);
    }
    return response;
}

} // namespace tn::dev
