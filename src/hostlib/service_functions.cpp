// Server statistics, and the services of the full web server that this host
// only accepts: each checks its argument count and gives a fixed answer.
// The ids are saved in compiled pages; a new name takes a free id in its
// family's group, never one in use.
#include "hostlib/host_functions.h"

#include "hostlib/host_call.h"

namespace tn
{

namespace
{

enum Answer : int32_t
{
    kNull, // the result is left as it came
    kZero,
    kNotFound,
    kEmptyText,
    kEmptyArray,
};

ereturnvalue fixedAnswer(SysCall& call)
{
    switch (call.variant())
    {
    case kZero:
        return call.returnInt(0);
    case kNotFound:
        return call.returnInt(-2);
    case kEmptyText:
        return call.returnText("");
    case kEmptyArray:
        return call.returnArray({});
    default:
        return ereturnvalue::OK;
    }
}

ereturnvalue getServerStat(SysCall& call)
{
    const auto& stats = HostOf(call).serverStats;
    const auto it = stats.find(call.text(1));
    return call.returnInt(it == stats.end() ? 0 : it->second);
}

ereturnvalue updateServerStats(SysCall& call)
{
    HostOf(call).serverStats.clear();
    return ereturnvalue::OK;
}

constexpr SysFunction unavailable(const char* name, int32_t id, ArgRule rule, Answer answer = kNull)
{
    return Fn(name, id, rule, fixedAnswer).as(answer);
}

// A single accepted count reported in the minimum form.
constexpr ArgRule onlyMinimum(int16_t n)
{
    return ArgRule::between(n, n, ArgRule::Message::Minimum, n);
}

constexpr ArgRule kAny = ArgRule::any();
constexpr ArgRule kNone = ArgRule::exactly(0);
constexpr ArgRule kOne = ArgRule::exactly(1);
constexpr ArgRule kTwo = ArgRule::exactly(2);

constexpr SysFunction kServiceFunctions[] = {
    // HTTP client jobs (group 0x3100)
    unavailable("httpget", -12545, ArgRule::atLeast(2), kZero),
    unavailable("httpjobids", -12546, onlyMinimum(0)),
    unavailable("httpjobidfromtaskid", -12547, onlyMinimum(1), kZero),
    unavailable("httpkilljob", -12548, onlyMinimum(1), kNotFound),
    // DNS and whois (group 0x3100; -12639 is waitforwhois)
    unavailable("dnslookup", -12625, onlyMinimum(2)).declared(2, {2}),
    unavailable("revdnslookup", -12626, onlyMinimum(2)).declared(2, {2}),
    unavailable("whoislookup", -12627, kTwo),
    unavailable("rwhoislookup", -12628, kTwo).message("whoislookup"),
    unavailable("whoisresult", -12629, kTwo).declared(2, {2}),
    unavailable("rwhoisresult", -12630, kTwo).declared(2, {2}),
    unavailable("setwhoisoption", -12631, kTwo),
    unavailable("killwhois", -12632, kOne),
    unavailable("whoisresultpro", -12633, ArgRule::exactly(3)).declared(3, {3}),
    unavailable("whoiscontact", -12634, kOne),
    unavailable("asyncdnslookup", -12635, kOne),
    unavailable("asyncrevdnslookup", -12636, kOne).message("asyncdnslookup"),
    unavailable("asyncdnsresult", -12637, kTwo).declared(2, {2}),
    // Site mapping and addresses (group 0x3200)
    unavailable("fsurltokey", -12801, onlyMinimum(4), kEmptyText),
    unavailable("fskeytourl", -12802, kOne, kEmptyText),
    unavailable("fslistdomains", -12803, kNone),
    unavailable("fsentrypoints", -12804, kOne, kEmptyArray),
    unavailable("mimetype", -12805, kOne, kEmptyText),
    unavailable("validnetlocation", -12806, kOne, kZero),
    unavailable("geturlcomponent", -12807, kTwo, kEmptyText),
    // Operating system and encoders (group 0x3300)
    unavailable("getosusername", -13057, kNone).message("getosinfo"),
    unavailable("getoscomputername", -13058, kNone).message("getosinfo"),
    unavailable("getosversion", -13059, kNone).message("getosinfo"),
    unavailable("base64encode", -13060, kOne, kEmptyText).message("base64code"),
    unavailable("base64unencode", -13061, kOne, kEmptyText).message("base64code"),
    // The embedded browser and its status (group 0x3600; -13839 is waitforbrowser)
    unavailable("getielatesturl", -13825, kAny).declared(2, {1, 2}),
    unavailable("updateiestatustime", -13826, kAny),
    unavailable("getiesrequesttatus", -13827, kAny),
    unavailable("setiesautorefresh", -13828, kAny),
    unavailable("getactivebrowser", -13841, kNone),
    unavailable("setactivebrowser", -13842, kOne),
    unavailable("createbrowser", -13843, kNone),
    unavailable("destroybrowser", -13844, kOne),
    unavailable("getwaitforbrowser", -13845, kNone),
    unavailable("setwaitforbrowser", -13846, kOne),
    unavailable("getbrowsertimeout", -13847, kNone),
    unavailable("setbrowsertimeout", -13848, kOne),
    unavailable("getuseragent", -13849, kNone),
    unavailable("setuseragent", -13850, kOne),
    unavailable("getsupportframes", -13851, kNone),
    unavailable("setsupportframes", -13852, kOne),
    unavailable("getsupportscripts", -13853, kNone),
    unavailable("setsupportscripts", -13854, kOne),
    unavailable("getloadembeddedfiles", -13855, kNone),
    unavailable("setloadembeddedfiles", -13856, kOne),
    unavailable("clearcookies", -13857, kNone),
    unavailable("getcookies", -13858, kNone),
    unavailable("setcookie", -13859, ArgRule::between(4, 5, ArgRule::Message::Minimum, 4)),
    unavailable("getbasicpasswords", -13860, kNone),
    unavailable("setbasicpassword", -13861, ArgRule::between(3, 4, ArgRule::Message::Minimum, 3)),
    unavailable("navigate", -13862, ArgRule::atLeast(1)),
    unavailable("goback", -13863, kNone),
    unavailable("goforward", -13864, kNone),
    unavailable("stop", -13865, kNone),
    unavailable("browserdebug", -13866, kNone),
    unavailable("scriptsdebug", -13867, kNone),
    // Logs (group 0x3700)
    unavailable("islogopen", -14081, kAny),
    unavailable("logopen", -14082, kAny),
    unavailable("logclose", -14083, kAny),
    unavailable("logcreate", -14084, kAny),
    unavailable("getlogid", -14085, kAny),
    unavailable("getlogfilter", -14086, kAny),
    unavailable("setlogfilter", -14087, kAny),
    unavailable("logcomment", -14088, kAny),
    unavailable("logmilestone", -14089, kAny),
    // Server control and events (group 0x4000)
    unavailable("systemstatus", -16385, kAny, kEmptyText),
    unavailable("restartserver", -16386, kNone, kZero).message("servercontrol"),
    unavailable("stopserver", -16387, kNone, kZero).message("servercontrol"),
    unavailable("serverstarttime", -16388, kNone),
    unavailable("serverrunningduration", -16389, kNone).message("serverstarttime"),
    unavailable("websitestatus", -16390, kOne).message("servercontrol"),
    unavailable("setautoexecrun", -16391, ArgRule::atLeast(1)),
    unavailable("autoexecrun", -16392, kAny, kZero),
    unavailable("waitforevent", -16393, kAny),
    unavailable("waituntiltime", -16394, kAny),
    // The file system (group 0x4300, beside the file output functions)
    unavailable("filepathisrelative", -17153, kOne).message("file function"),
    unavailable("filepathstatus", -17154, kOne).message("file function"),
    unavailable("filesize", -17155, kOne).message("file function"),
    unavailable("filetime", -17156, kOne).message("file function"),
    unavailable("directorylist", -17157, ArgRule::exactly(8), kZero).declared(8, {3, 4, 5, 6}),
    unavailable("directorylistsorted", -17159, ArgRule::exactly(9), kZero).declared(9, {3, 4, 5, 6}),
    unavailable("fileread", -17190, kAny),
    // Server statistics (group 0x4400)
    {"updateserverstats", -17414, kNone, updateServerStats},
    {"getserverstat", -17415, kOne, getServerStat},
};

} // namespace

std::span<const SysFunction> ServiceFunctions()
{
    return kServiceFunctions;
}

} // namespace tn
