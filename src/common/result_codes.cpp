#include "common/result_codes.h"

namespace tn
{

namespace
{
constexpr const char* kNames[kResultCodeCount] = {
    "unknown",
    "OK",
    "error",
    "Mem Alloc",
    "data Error",
    "file Error",
    "OS Error",
    "OS Exception",
    "OS Resource Limit",
    "OS Does Not Support",
    "OS NetworkError",
    "OS DNS Error",
    "Unable To Establish Connection",
    "Config Error",
    "Empty",
    "Reject",
    "Incomplete",
    "Complete",
    "Failed",
    "Abandon",
    "Not Found",
    "Access Destroyed Resource",
    "Access Allocated Resource",
    "Timed Out",
    "Not Supported",
    "Unknown Format",
    "Invalid Input",
    "Programing",
    "Type Unknown",
    "Termination Request",
    "Closed",
    "Ignore",
    "Redirect",
    "EOF",
    "Unauthorized",
    "Runtime Error",
    "DBMS Error",
    "Wait",
    "Not Modified",
    "Limit Exceeded",
    "Special Error",
};
} // namespace

const char* ResultCodeName(int32_t code) noexcept
{
    if (code < 0 || code >= kResultCodeCount)
        return "XXXX";
    return kNames[code];
}

void ResultCodeName(int32_t code, std::string& out)
{
    out = ResultCodeName(code);
}

int32_t ScriptStatus(ereturnvalue code) noexcept
{
    switch (code)
    {
    case ereturnvalue::OK:
        return 1;
    case ereturnvalue::NotFound:
        return -2;
    case ereturnvalue::TimedOut:
        return -1;
    case ereturnvalue::InvalidInput:
        return -3;
    default:
        return 0;
    }
}

} // namespace tn
