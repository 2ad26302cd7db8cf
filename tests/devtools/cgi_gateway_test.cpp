#include "devtools/cgi_gateway.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace tn::dev
{
namespace
{

TEST(CgiOutput, StatusComesFromStatusSpecialErrorOrLocation)
{
    struct Case
    {
        const char* output;
        bool valid;
        int status;
        size_t headers;
        const char* body;
    };
    const Case cases[] = {
        {"Content-type: text/html\n\n<p>x</p>", true, 200, 1, "<p>x</p>"},
        {"Content-type: text/html\r\n\r\nbody\r\n", true, 200, 1, "body\r\n"},
        {"Status: 201 Created\nX-One: 1\n\n", true, 201, 1, ""},
        {"SpecialError: 404\n\n", true, 404, 0, ""},
        {"Location: http://h/next\n\n", true, 302, 1, ""},
        {"Status: 301 Moved\nLocation: /n\n\n", true, 301, 1, ""},
        {"Location: /n\nStatus: 303 See Other\n\n", true, 303, 1, ""},
        {"SpecialError: 12\n\n", true, 200, 0, ""}, // not an HTTP status
        {"", false, 200, 0, ""},
        {"Content-type: text/html\n<p>no empty line", false, 200, 0, ""},
        {"<html>\n\n", false, 200, 0, ""},
    };
    for (const Case& c : cases)
    {
        const CgiResponse response = ParseCgiOutput(c.output);
        SCOPED_TRACE(c.output);
        EXPECT_EQ(response.valid, c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(response.status, c.status);
        EXPECT_EQ(response.headers.size(), c.headers);
        EXPECT_EQ(response.body, c.body);
    }
    EXPECT_EQ(ParseCgiOutput("Content-type: text/plain\n\n").headers.at(0).first, "Content-Type");
}

// Links out of the root, include files and missing files over HTTP are in run_serve_test.sh.
TEST(RequestPath, StaysUnderTheRootAndFindsPagesAndPathInfo)
{
    test::ScratchFolder scratch;
    const std::string site = std::filesystem::canonical(scratch.path()).string() + "/site";
    scratch.write("site/page.tnl", "<?tnl ?>");
    scratch.write("site/plain.htm", "<p>plain</p>");
    scratch.write("site/coded.htm", "<?TNL print(1); ?>");
    scratch.write("site/lib/code.inc", "function f() { }");
    scratch.write("site/sub/index.tnl", "<?tnl ?>");
    scratch.write("site/.hidden", "x");
    scratch.write("secret.txt", "outside");

    struct Case
    {
        const char* url;
        TargetKind kind;
        const char* file; // relative to the site
        const char* pathInfo;
    };
    const Case cases[] = {
        {"/page.tnl", TargetKind::Page, "page.tnl", ""},
        {"/page.tnl/", TargetKind::Page, "page.tnl", "/"},
        {"/plain.htm", TargetKind::Static, "plain.htm", ""},
        {"/plain.htm/x", TargetKind::NotFound, "", ""},
        {"/coded.htm", TargetKind::Page, "coded.htm", ""},
        {"/sub/", TargetKind::Page, "sub/index.tnl", ""},
        {"/sub", TargetKind::Redirect, "", ""},
        {"/../secret.txt", TargetKind::Forbidden, "", ""},
        {"/lib/../../secret.txt", TargetKind::Forbidden, "", ""},
        {"/.hidden", TargetKind::NotFound, "", ""},
        {"/lib/", TargetKind::NotFound, "", ""},
        {"relative", TargetKind::BadRequest, "", ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.url);
        const Target target = ResolveRequestPath(site, c.url);
        EXPECT_EQ(target.kind, c.kind);
        if (*c.file)
        {
            EXPECT_EQ(target.file, site + "/" + c.file);
        }
        EXPECT_EQ(target.pathInfo, c.pathInfo);
    }
}

TEST(CgiEnvironmentTest, CarriesTheRequestAsAWebServerWould)
{
    CgiRequest request;
    request.method = "POST";
    request.target = "/a/page.tnl/x?q=1";
    request.query = "q=1";
    request.headers = {{"Cookie", "a=1"},
                       {"Content-Type", "text/plain"},
                       {"Content-Length", "3"},
                       {"Proxy", "evil"},
                       {"X-Forwarded-For", "h"}};
    request.serverName = "127.0.0.1";
    request.serverPort = 8080;
    request.bodyLength = 3;
    Target target;
    target.file = "/site/a/page.tnl";
    target.scriptName = "/a/page.tnl";
    target.pathInfo = "/x";
    const std::vector<std::string> env = CgiEnvironment(request, target, {"TZ=UTC"});
    for (const char* expected :
         {"TZ=UTC", "GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=POST", "QUERY_STRING=q=1",
          "PATH_TRANSLATED=/site/a/page.tnl", "PATH_INFO=/x", "SCRIPT_NAME=/a/page.tnl", "SERVER_PORT=8080",
          "HTTP_COOKIE=a=1", "CONTENT_TYPE=text/plain", "CONTENT_LENGTH=3", "HTTP_X_FORWARDED_FOR=h"})
        EXPECT_NE(std::find(env.begin(), env.end(), expected), env.end()) << expected;
    for (const char* absent : {"HTTP_PROXY=evil", "HTTP_CONTENT_LENGTH=3", "HTTP_CONTENT_TYPE=text/plain"})
        EXPECT_EQ(std::find(env.begin(), env.end(), absent), env.end()) << absent;
}

} // namespace
} // namespace tn::dev
