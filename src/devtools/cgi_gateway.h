// What a web server does around a CGI program, without the network: map a
// request path to a file under the document root, build the program's
// environment, and turn the program's output into a status, headers and body.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tn::dev
{

enum class TargetKind
{
    Page,     // run through the program
    Static,   // sent as it is
    Redirect, // a folder named without its final "/"
    NotFound,
    Forbidden, // leaves the root, include file, hidden file
    BadRequest,
};

struct Target
{
    TargetKind kind = TargetKind::NotFound;
    std::string file;       // real path of the file
    std::string scriptName; // URL path of the page or file
    std::string pathInfo;   // what follows the page in the URL path
};

// [rootReal] must be a real path (no symbolic links, no final "/").
// [urlPath] is the request's decoded path.
Target ResolveRequestPath(const std::string& rootReal, std::string_view urlPath);

// Script pages: ".tnl" and ".ctn" files, and ".htm"/".html" files that hold
// a code block (so that plain HTML is served as it is).
bool IsScriptPage(const std::string& file);

std::string ContentTypeFor(std::string_view path);

struct CgiRequest
{
    std::string method;
    std::string target; // request URI as sent
    std::string query;  // raw query string
    std::vector<std::pair<std::string, std::string>> headers;
    std::string remoteAddress;
    int remotePort = 0;
    std::string serverName;
    int serverPort = 0;
    std::string documentRoot;
    size_t bodyLength = 0;
};

// NAME=VALUE strings, in the form a CGI program finds in its environment.
// [passThrough] entries (PATH, TZ, ...) come from the server's own environment.
std::vector<std::string> CgiEnvironment(const CgiRequest& request, const Target& target,
                                        const std::vector<std::string>& passThrough);

struct CgiResponse
{
    bool valid = false; // false: no header block ended by an empty line
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers; // without Status and SpecialError
    std::string body;
};

// "Status: N text" sets the status, "SpecialError: N" too (an error the page
// asked for), "Location:" without a status gives 302.
CgiResponse ParseCgiOutput(std::string_view output);

} // namespace tn::dev
