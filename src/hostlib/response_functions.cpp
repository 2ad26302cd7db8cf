// Web response functions: header lines, cookies, redirects, HTTP errors and
// the page's suppression or replacement. They only fill the script's
// response state; the script turns it into the header block and page.
#include "hostlib/host_functions.h"

#include "hostlib/cookie.h"
#include "hostlib/host_call.h"
#include "hostlib/url_reference.h"

#include "vm/value.h"

namespace tn
{

namespace
{

// The cookie and redirect checks report under "redirect" whichever function
// raised them.
[[noreturn]] void failAsRedirect(SysCall& call, std::string_view detail)
{
    std::string text = "Invalid call to redirect. ";
    text.append(detail);
    call.vm.raiseRuntimeError(text);
}

void appendLine(std::string& headers, std::string_view prefix, std::string_view line)
{
    headers.append(prefix);
    headers.append(line);
    headers += '\n';
}

// Ends the run with [line] as the only header and no page.
void endWithHeader(SysCall& call, ResponseState& response, std::string_view prefix, std::string_view line)
{
    response.headerText.clear();
    appendLine(response.headerText, prefix, line);
    response.pageSuppressed = true;
    call.vm.setStop();
}

ereturnvalue header(SysCall& call)
{
    ResponseState& response = HostOf(call).response;
    const std::string_view line = call.argc > 0 ? call.text(1) : std::string_view();
    if (!line.empty()) appendLine(response.headerText, "", line);
    return ereturnvalue::OK;
}

ereturnvalue setCookieHeader(SysCall& call)
{
    ResponseState& response = HostOf(call).response;
    Cookie cookie;
    cookie.name = call.text(1);
    if (call.argc >= 2) cookie.value = call.text(2);
    if (call.argc >= 3 && call.arg(3).isDate()) cookie.expires = call.arg(3).dateValue();
    if (call.argc >= 4) cookie.path = call.text(4);
    if (call.argc >= 5) cookie.domain = call.text(5);
    if (call.argc >= 6) cookie.secure = call.integer(6) != 0;
    if (!cookie.valid()) failAsRedirect(call, "an invalid cookie was supplied");
    appendLine(response.headerText, "Set-Cookie: ", CookieText(cookie));
    return ereturnvalue::OK;
}

ereturnvalue surpressBody(SysCall& call)
{
    HostOf(call).response.pageSuppressed = true;
    return ereturnvalue::OK;
}

ereturnvalue clearHeaders(SysCall& call)
{
    HostOf(call).response.headerText.clear();
    return ereturnvalue::OK;
}

ereturnvalue errorOutput(SysCall& call)
{
    HostOf(call).response.replacementPage = call.text(1);
    return ereturnvalue::OK;
}

ereturnvalue httpError(SysCall& call)
{
    ResponseState& response = HostOf(call).response;
    endWithHeader(call, response, "SpecialError: ", std::to_string(call.integer(1)));
    response.runResult = ereturnvalue::SpecialError;
    return call.returnInt(1);
}

// The request's own address, http://SERVER_NAME[:SERVER_PORT]PATH_INFO, from
// entries a script stored under those names (the request's own variables are
// stored lower-case). False when one of them is missing.
bool requestBase(const VirtualMachine::Environment& environment, UrlReference& base)
{
    const auto name = environment.find("SERVER_NAME");
    const auto port = environment.find("SERVER_PORT");
    const auto path = environment.find("PATH_INFO");
    if (name == environment.end() || port == environment.end() || path == environment.end()) return false;
    base.scheme = "http";
    base.authority = name->second;
    // The scheme's own port is left out, as a browser would write the address.
    if (const int32_t number = TextToInt(port->second); number > 0 && number != 80)
        (*base.authority += ':') += std::to_string(number);
    base.path = path->second;
    if (!base.path.empty() && !base.path.starts_with('/')) base.path.insert(0, 1, '/');
    return true;
}

ereturnvalue redirect(SysCall& call)
{
    ResponseState& response = HostOf(call).response;
    const std::string_view location = call.text(1);
    if (location.empty()) failAsRedirect(call, "a redirection location was not supplied");
    const UrlReference reference = UrlReference::Parse(location);
    std::string target;
    if (reference.isAbsolute())
    {
        target = location;
    }
    else
    {
        UrlReference base;
        // A missing variable is a failed lookup: the script goes on with 0.
        if (!requestBase(call.vm.environment(), base)) return call.returnInt(0);
        target = ResolveReference(base, reference).text();
    }
    endWithHeader(call, response, "Location: ", target);
    return call.returnInt(1);
}

constexpr SysFunction kResponseFunctions[] = {
    Fn("header", -12289, ArgRule::between(0, 1, ArgRule::Message::Exact, 1), header),
    Fn("setcookieheader", -12290, ArgRule::between(1, 6, ArgRule::Message::Minimum, 1), setCookieHeader),
    {"surpressbody", -12291, ArgRule::exactly(0), surpressBody},
    {"redirect", -12292, ArgRule::exactly(1), redirect},
    {"clearheaders", -12293, ArgRule::exactly(0), clearHeaders},
    {"erroroutput", -12294, ArgRule::exactly(1), errorOutput},
    Fn("httperror", -12295, ArgRule::exactly(1), httpError).message("redirect"),
};

} // namespace

std::span<const SysFunction> ResponseFunctions()
{
    return kResponseFunctions;
}

} // namespace tn
