// The function tables as the function reference publishes them: name, id,
// accepted argument counts, message name, declared count and by-reference
// parameters, typed here rather than read from the code. The host set's ids
// that the reference leaves open were assigned once and are pinned here too,
// because compiled pages hold them.
#pragma once

#include "hostlib/host_functions.h"
#include "lib/core_functions.h"

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace tn::test
{

enum Failure
{
    None,    // no count test
    Exact,   // "Expecting %d arguments, %d were provided"
    Minimum, // "Expecting a minimum of %d arguments, %d were provided"
    Machine, // the declared count: the machine's own message
};

struct Published
{
    const char* name;
    int32_t id;
    const char* counts;           // "2", "2+", "0-1", "3|6", "*" (any) or "?" (not published)
    const char* messageName = ""; // "": the function's own name
    Failure failure = None;
    int expected = 0;   // the count the failure message reports
    uint32_t byRef = 0; // bit i: parameter i by reference
};

// clang-format off
inline constexpr Published kPublishedCore[] = {
    {"echo", -4097, "1+", "echo", Minimum, 1}, {"print", -4098, "1+", "print", Minimum, 1},
    {"echohtml", -4099, "1+", "echohtml", Minimum, 1}, {"echodebug", -4100, "1", "echodebug", Exact, 1},
    {"echolog", -4101, "1", "echodebug", Exact, 1}, {"lineno", -4145, "0", "lineno", Exact, 0},
    {"scriptpath", -4146, "0", "scriptpath", Exact, 0}, {"yield", -4177, "*", "", None, 0},
    {"envvar", -4865, "1", "envvar", Exact, 1}, {"numenvvar", -4866, "0", "numenvvar", Exact, 0},
    {"envvarindex", -4867, "3", "", Machine, 3, 0b1100}, {"setenvvar", -4868, "2", "setenvvar", Exact, 2},
    {"globalenvvar", -4869, "1", "globalenvvar", Exact, 1},
    {"setglobalenvvar", -4870, "2", "setglobalenvvar", Exact, 2},
    {"getscriptpath", -4880, "0", "getscriptpath", Exact, 0}, {"type", -5121, "1", "type", Exact, 1},
    {"tonull", -5122, "0", "tonull", Exact, 0}, {"toint", -5123, "0-1", "totype", Exact, 1},
    {"toflags", -5124, "0-1", "totype", Exact, 1}, {"toarray", -5125, "0-1", "totype", Exact, 1},
    {"tostring", -5126, "0-1", "totype", Exact, 1}, {"todate", -5127, "0-1", "totype", Exact, 1},
    {"tofloat", -5128, "0-1", "totype", Exact, 1}, {"isblank", -5129, "1", "isblank", Exact, 1},
    {"isfuncdef", -5136, "1", "isfuncdef", Exact, 1}, {"isvalidint", -5141, "1", "isvalidint", Exact, 1},
    {"isvalidpositiveint", -5142, "1", "isvalidint", Exact, 1},
    {"isvalididentifier", -5143, "1", "isvalididentifier", Exact, 1},
    {"isvalididentifierallowws", -5144, "1", "isvalididentifier", Exact, 1},
    {"escapestr", -5185, "1", "escapestr", Exact, 1}, {"unescapestr", -5186, "1", "unescapestr", Exact, 1},
    {"escapetohtml", -5187, "1", "escapetohtml", Exact, 1}, {"htmltoescape", -5188, "1", "htmltoescape", Exact, 1},
    {"texttohtml", -5189, "1", "texttohtml", Exact, 1}, {"htmltotext", -5190, "1", "htmltotext", Exact, 1},
    {"urlencode", -5191, "1", "urlendecode", Exact, 1}, {"urldecode", -5192, "1", "urlendecode", Exact, 1},
    {"urlqueryencode", -5193, "1", "urlendecode", Exact, 1}, {"urlquerydecode", -5194, "1", "urlendecode", Exact, 1},
    {"urlencodestrict", -5197, "1", "urlendecode", Exact, 1},
    {"validateipaddress", -5195, "1", "validateipaddress", Exact, 1},
    {"escapeexport", -5196, "2", "escapeexport", Exact, 2}, {"dateblank", -5456, "0", "dateblank", Exact, 0},
    {"datenow", -5457, "0", "datenow", Exact, 0}, {"timenow", -5504, "0", "datenow", Exact, 0},
    {"datefromnum", -5458, "3|6", "datefromnum", Exact, 3}, {"datefromstr", -5459, "1", "datefromstr", Exact, 1},
    {"datetostr", -5460, "1", "datetostr", Exact, 1}, {"datefromstdstr", -5461, "1", "datefromstdstr", Exact, 1},
    {"datetostdstr", -5462, "1", "datetostdstr", Exact, 1}, {"datesetformat", -5463, "1", "datesetformat", Exact, 1},
    {"dateformat", -5464, "0", "dateformat", Exact, 0},
    {"setlocaltimeformat", -5473, "1", "setlocaltimeformat", Exact, 1},
    {"localtimeformat", -5474, "0", "localtimeformat", Exact, 0}, {"secstodhms", -5475, "1", "secstodhms", Exact, 1},
    {"dateyear", -5465, "1", "datesegment", Exact, 1}, {"datemonth", -5466, "1", "datesegment", Exact, 1},
    {"dateday", -5467, "1", "datesegment", Exact, 1}, {"datehour", -5468, "1", "datesegment", Exact, 1},
    {"dateminute", -5469, "1", "datesegment", Exact, 1}, {"datesec", -5470, "1", "datesegment", Exact, 1},
    {"datemilisec", -5471, "1", "datesegment", Exact, 1}, {"datedayofweek", -5472, "1", "datesegment", Exact, 1},
    {"dateaddyears", -5477, "2", "dateadd", Exact, 2}, {"dateaddmonths", -5478, "2", "dateadd", Exact, 2},
    {"dateadddays", -5479, "2", "dateadd", Exact, 2}, {"dateaddhours", -5480, "2", "dateadd", Exact, 2},
    {"dateaddminutes", -5481, "2", "dateadd", Exact, 2}, {"dateaddsecs", -5482, "2", "dateadd", Exact, 2},
    {"dateaddmilisecs", -5483, "2", "dateadd", Exact, 2}, {"datediffsecs", -5484, "2", "datediff", Exact, 2},
    {"datediffminutes", -5485, "2", "datediff", Exact, 2}, {"datediffdays", -5486, "2", "datediff", Exact, 2},
    {"datediffhours", -5487, "2", "datediff", Exact, 2}, {"datediffmillisecs", -5490, "2", "datediff", Exact, 2},
    {"gmttolocal", -5488, "1", "gmttolocal", Exact, 1}, {"localtogmt", -5489, "1", "gmttolocal", Exact, 1},
    {"dateisblank", -5494, "1", "dateisblank", Exact, 1}, {"count", -5633, "1", "", Machine, 1},
    {"push", -5634, "2+", "push", Minimum, 2}, {"pop", -5635, "1", "", Machine, 1, 0b10},
    {"sort", -5636, "1", "sort", Exact, 1}, {"strsort", -5637, "1", "sort", Exact, 1},
    {"reverse", -5638, "1", "reverse", Exact, 1}, {"split", -5639, "1-2", "split", Minimum, 1},
    {"splitwithquotes", -5645, "1-2", "split", Minimum, 1}, {"join", -5640, "1+", "join", Minimum, 1},
    {"joinwithquotes", -5647, "1+", "join", Minimum, 1}, {"min", -5641, "1", "min", Exact, 1},
    {"max", -5642, "1", "max", Exact, 1}, {"shuffle", -5643, "1", "shuffle", Exact, 1},
    {"find", -5644, "2-5", "find", Exact, 5}, {"erase", -5646, "2", "erase", Exact, 2},
    {"rand", -5889, "2", "rand", Exact, 2}, {"srand", -5890, "1", "srand", Exact, 1},
    {"strlen", -5377, "1", "strlen", Exact, 1}, {"strcmp", -5378, "2", "stringcompare", Exact, 2},
    {"stricmp", -5379, "2", "stringcompare", Exact, 2}, {"strncmp", -5380, "3", "stringcompare", Exact, 3},
    {"strnicmp", -5381, "3", "stringcompare", Exact, 3}, {"strstr", -5382, "2", "strstr", Exact, 2},
    {"strrstr", -5383, "2", "strrstr", Exact, 2}, {"strtoupper", -5392, "1", "strcase", Exact, 1},
    {"strtolower", -5393, "1", "strcase", Exact, 1}, {"trim", -5394, "1", "strtrim", Exact, 1},
    {"ltrim", -5395, "1", "strtrim", Exact, 1}, {"rtrim", -5396, "1", "strtrim", Exact, 1},
    {"trimquotes", -5397, "1", "trimquotes", Exact, 1}, {"addquotes", -5398, "1", "addquotes", Exact, 1},
    {"substr", -5408, "3", "substr", Exact, 3}, {"leftstr", -5409, "2", "leftright", Exact, 2},
    {"rightstr", -5410, "2", "leftright", Exact, 2}, {"asc", -5411, "1", "asc", Exact, 1},
    {"chr", -5412, "1", "chr", Exact, 1},
};

inline constexpr Published kPublishedHost[] = {
    // web response
    {"header", -12289, "0-1", "", Exact, 1}, {"setcookieheader", -12290, "1-6", "", Minimum, 1},
    {"surpressbody", -12291, "0", "", Exact, 0}, {"redirect", -12292, "1", "", Exact, 1},
    {"clearheaders", -12293, "0", "", Exact, 0}, {"erroroutput", -12294, "1", "", Exact, 1},
    {"httperror", -12295, "1", "redirect", Exact, 1},
    // files
    {"openfileread", -17185, "1", "openfilewrite", Exact, 1}, {"openfilewrite", -17186, "1", "openfilewrite", Exact, 1},
    {"openfilecreate", -17187, "1", "openfilewrite", Exact, 1}, {"closefile", -17188, "1", "", Exact, 1},
    {"filewrite", -17189, "2", "", Exact, 2}, {"fileread", -17190, "*"},
    {"filepathisrelative", -17153, "1", "file function", Exact, 1},
    {"filepathstatus", -17154, "1", "file function", Exact, 1}, {"filesize", -17155, "1", "file function", Exact, 1},
    {"filetime", -17156, "1", "file function", Exact, 1}, {"directorylist", -17157, "8", "", Machine, 8, 0b1111000},
    {"directorylistsorted", -17159, "9", "", Machine, 9, 0b1111000},
    // scripts, sleeping and semaphores
    {"run", -13569, "1", "", Exact, 1}, {"runandwait", -13570, "1", "", Exact, 1},
    {"waitforscript", -13571, "1", "", Exact, 1}, {"waitforjob", -13572, "1", "", Exact, 1},
    {"sleep", -13575, "1", "sleep", Exact, 1}, {"getnumbkscripts", -13576, "0", "", Exact, 0},
    {"getbkscriptids", -13577, "0", "", Exact, 0}, {"getbkscriptstatus", -13578, "1", "", Exact, 1},
    {"createsemaphore", -13579, "2", "", Exact, 2}, {"waitforsemaphore", -13580, "1", "", Exact, 1},
    {"releasesemaphore", -13581, "1", "", Exact, 1}, {"semaphorecount", -13582, "1", "", Exact, 1},
    {"waitforsemaphoremaxvalue", -13583, "1", "", Exact, 1}, {"sleepmilli", -13584, "1", "sleep", Exact, 1},
    {"waitforwhois", -12639, "?"}, {"waitforbrowser", -13839, "?"},
    // server statistics
    {"updateserverstats", -17414, "0", "", Exact, 0}, {"getserverstat", -17415, "1", "", Exact, 1},
    // HTTP client jobs, DNS and whois
    {"httpget", -12545, "2+", "", Minimum, 2}, {"httpjobids", -12546, "0", "", Minimum, 0},
    {"httpjobidfromtaskid", -12547, "1", "", Minimum, 1}, {"httpkilljob", -12548, "1", "", Minimum, 1},
    {"dnslookup", -12625, "2", "", Machine, 2, 0b100}, {"revdnslookup", -12626, "2", "", Machine, 2, 0b100},
    {"whoislookup", -12627, "2", "whoislookup", Exact, 2}, {"rwhoislookup", -12628, "2", "whoislookup", Exact, 2},
    {"whoisresult", -12629, "2", "", Machine, 2, 0b100}, {"rwhoisresult", -12630, "2", "", Machine, 2, 0b100},
    {"setwhoisoption", -12631, "2", "", Exact, 2}, {"killwhois", -12632, "1", "", Exact, 1},
    {"whoisresultpro", -12633, "3", "", Machine, 3, 0b1000}, {"whoiscontact", -12634, "1", "", Exact, 1},
    {"asyncdnslookup", -12635, "1", "asyncdnslookup", Exact, 1},
    {"asyncrevdnslookup", -12636, "1", "asyncdnslookup", Exact, 1},
    {"asyncdnsresult", -12637, "2", "", Machine, 2, 0b100},
    // site mapping, addresses, the operating system, encoders
    {"fsurltokey", -12801, "4", "", Minimum, 4}, {"fskeytourl", -12802, "1", "", Exact, 1},
    {"fslistdomains", -12803, "0", "", Exact, 0}, {"fsentrypoints", -12804, "1", "", Exact, 1},
    {"mimetype", -12805, "1", "", Exact, 1}, {"validnetlocation", -12806, "1", "", Exact, 1},
    {"geturlcomponent", -12807, "2", "", Exact, 2}, {"getosusername", -13057, "0", "getosinfo", Exact, 0},
    {"getoscomputername", -13058, "0", "getosinfo", Exact, 0}, {"getosversion", -13059, "0", "getosinfo", Exact, 0},
    {"base64encode", -13060, "1", "base64code", Exact, 1}, {"base64unencode", -13061, "1", "base64code", Exact, 1},
    // the embedded browser
    {"getielatesturl", -13825, "2", "", Machine, 2, 0b110}, {"updateiestatustime", -13826, "*"},
    {"getiesrequesttatus", -13827, "*"}, {"setiesautorefresh", -13828, "*"},
    {"getactivebrowser", -13841, "0", "", Exact, 0}, {"setactivebrowser", -13842, "1", "", Exact, 1},
    {"createbrowser", -13843, "0", "", Exact, 0}, {"destroybrowser", -13844, "1", "", Exact, 1},
    {"getwaitforbrowser", -13845, "0", "", Exact, 0}, {"setwaitforbrowser", -13846, "1", "", Exact, 1},
    {"getbrowsertimeout", -13847, "0", "", Exact, 0}, {"setbrowsertimeout", -13848, "1", "", Exact, 1},
    {"getuseragent", -13849, "0", "", Exact, 0}, {"setuseragent", -13850, "1", "", Exact, 1},
    {"getsupportframes", -13851, "0", "", Exact, 0}, {"setsupportframes", -13852, "1", "", Exact, 1},
    {"getsupportscripts", -13853, "0", "", Exact, 0}, {"setsupportscripts", -13854, "1", "", Exact, 1},
    {"getloadembeddedfiles", -13855, "0", "", Exact, 0}, {"setloadembeddedfiles", -13856, "1", "", Exact, 1},
    {"clearcookies", -13857, "0", "", Exact, 0}, {"getcookies", -13858, "0", "", Exact, 0},
    {"setcookie", -13859, "4-5", "", Minimum, 4}, {"getbasicpasswords", -13860, "0", "", Exact, 0},
    {"setbasicpassword", -13861, "3-4", "", Minimum, 3}, {"navigate", -13862, "1+", "", Minimum, 1},
    {"goback", -13863, "0", "", Exact, 0}, {"goforward", -13864, "0", "", Exact, 0},
    {"stop", -13865, "0", "", Exact, 0}, {"browserdebug", -13866, "0", "", Exact, 0},
    {"scriptsdebug", -13867, "0", "", Exact, 0},
    // logs
    {"islogopen", -14081, "*"}, {"logopen", -14082, "*"}, {"logclose", -14083, "*"}, {"logcreate", -14084, "*"},
    {"getlogid", -14085, "*"}, {"getlogfilter", -14086, "*"}, {"setlogfilter", -14087, "*"},
    {"logcomment", -14088, "*"}, {"logmilestone", -14089, "*"},
    // server control and events
    {"systemstatus", -16385, "*"}, {"restartserver", -16386, "0", "servercontrol", Exact, 0},
    {"stopserver", -16387, "0", "servercontrol", Exact, 0},
    {"serverstarttime", -16388, "0", "serverstarttime", Exact, 0},
    {"serverrunningduration", -16389, "0", "serverstarttime", Exact, 0},
    {"websitestatus", -16390, "1", "servercontrol", Exact, 1}, {"setautoexecrun", -16391, "1+", "", Minimum, 1},
    {"autoexecrun", -16392, "*"}, {"waitforevent", -16393, "*"}, {"waituntiltime", -16394, "*"},
};

inline constexpr Published kPublishedConfig[] = {
    {"tnconfigOpen", -16897, "0", "tnconfigFileOps", Exact, 0},
    {"tnconfigClose", -16898, "0", "tnconfigFileOps", Exact, 0},
    {"tnconfigIsEdited", -16899, "0", "tnconfigFileOps", Exact, 0},
    {"tnconfigSave", -16900, "0", "tnconfigFileOps", Exact, 0},
    {"tnconfigReload", -16901, "0", "tnconfigFileOps", Exact, 0},
    {"tnconfigServerReload", -16902, "0", "tnconfigFileOps", Exact, 0},
    {"tnconfigGetContextList", -16913, "1", "", Exact, 1}, {"tnconfigGetTypeSetting", -16914, "4", "", Exact, 4},
    {"tnconfigGetTypeSettingList", -16915, "3", "", Exact, 3},
    {"tnconfigGetTypeSettingSplitList", -16916, "5", "", Machine, 5, 0b110000},
    {"tnconfigGetTypeSettingSplit", -16917, "4", "", Exact, 4}, {"tnconfigAddContext", -16929, "2", "", Exact, 2},
    {"tnconfigDeleteContext", -16930, "2", "", Exact, 2}, {"tnconfigRenameContext", -16931, "3", "", Exact, 3},
    {"tnconfigCopyContext", -16932, "3", "", Exact, 3}, {"tnconfigSetTypeSetting", -16945, "4", "", Exact, 4},
    {"tnconfigSetTypeSettingSplit", -16946, "5", "", Exact, 5},
    {"tnconfigDeleteTypeSetting", -16947, "3-4", "", Exact, 3},
    {"tnconfigDeleteTypeSettingSplit", -16948, "4", "", Exact, 4},
    {"tnconfigAddTypeSetting", -16949, "4", "", Exact, 4},
};

// No count test at all: every call answers null.
inline constexpr Published kPublishedDatabase[] = {
    {"dbopendb", -13313, "*"}, {"dbclosedb", -13314, "*"}, {"dblisttables", -13315, "*"},
    {"dbdeletetable", -13316, "*"}, {"dbopentable", -13317, "*"}, {"dbclosetable", -13318, "*"},
    {"dbcreatetable", -13319, "*"}, {"dbrepairtable", -13320, "*"}, {"dbeof", -13328, "*"},
    {"dbbof", -13329, "*"}, {"dbrecdeleted", -13330, "*"}, {"dbgetignoredeleted", -13331, "*"},
    {"dbsetignoredeleted", -13332, "*"}, {"dbcontainsmemos", -13333, "*"}, {"dbrecordnum", -13334, "*"},
    {"dbnumrecords", -13335, "*"}, {"dbrecordwidth", -13336, "*"}, {"dbnext", -13344, "*"},
    {"dbprev", -13345, "*"}, {"dbskip", -13346, "*"}, {"dbskipdeleted", -13347, "*"},
    {"dbtop", -13348, "*"}, {"dbbottom", -13349, "*"}, {"dbgo", -13350, "*"},
    {"dbfieldindex", -13361, "*"}, {"dbfieldname", -13362, "*"}, {"dbfieldnames", -13363, "*"},
    {"dbnumfields", -13364, "*"}, {"dbfieldtype", -13365, "*"}, {"dbgetrow", -13366, "*"},
    {"dbsetrow", -13367, "*"}, {"dbgetfieldvalue", -13368, "*"}, {"dbsetfieldvalue", -13369, "*"},
    {"dbsettimestamp", -13370, "*"}, {"dbappendstart", -13377, "*"}, {"dbappend", -13378, "*"},
    {"dbdeleterec", -13379, "*"}, {"dbundeleterec", -13380, "*"}, {"dbindexindex", -13393, "*"},
    {"dbselectindex", -13394, "*"}, {"dbnumindexes", -13395, "*"}, {"dbseek", -13396, "*"},
    {"dbseeknext", -13397, "*"}, {"dbpack", -13409, "*"}, {"dbzap", -13410, "*"},
};
// clang-format on

// One function set with its published size, its groups (each base b holds
// -(b + 1) down to -(b + 256)) and its published rows.
struct PublishedSet
{
    const char* name;
    const FunctionSet& set;
    size_t size;
    std::vector<int32_t> bases;
    std::span<const Published> rows;

    bool insideAGroup(int32_t id) const
    {
        for (const int32_t base : bases)
            if (id <= -(base + 1) && id >= -(base + 256)) return true;
        return false;
    }
};

// In the order of HostFunctionSets().
inline const PublishedSet kPublishedSets[] = {
    {"core", CoreFunctionSet(), 114, {0x1000, 0x1300, 0x1400, 0x1500, 0x1600, 0x1700}, kPublishedCore},
    {"host",
     HostOwnFunctionSet(),
     116,
     {0x3000, 0x3100, 0x3200, 0x3300, 0x3500, 0x3600, 0x3700, 0x4000, 0x4300, 0x4400},
     kPublishedHost},
    {"configuration", ConfigFunctionSet(), 20, {0x4200}, kPublishedConfig},
    {"database", DatabaseFunctionSet(), 45, {0x3400}, kPublishedDatabase},
};

inline bool Accepts(const std::string& counts, int argc)
{
    if (counts == "*" || counts == "?") return true;
    int a = 0, b = 0;
    if (std::sscanf(counts.c_str(), "%d|%d", &a, &b) == 2) return argc == a || argc == b;
    if (std::sscanf(counts.c_str(), "%d-%d", &a, &b) == 2) return argc >= a && argc <= b;
    a = std::stoi(counts);
    return counts.back() == '+' ? argc >= a : argc == a;
}

// The runtime error a refused count raises.
inline std::string CountMessage(const Published& f, int argc)
{
    char text[200];
    if (f.failure == Machine)
        std::snprintf(text, sizeof text, "Runtime Error: Invalid number of function arguments. Expected %d, actual %d",
                      f.expected, argc);
    else
        std::snprintf(text, sizeof text,
                      f.failure == Exact ? "Runtime Error: Invalid call to %s. Expecting %d arguments, %d were provided"
                                         : "Runtime Error: Invalid call to %s. Expecting a minimum of %d arguments, "
                                           "%d were provided",
                      *f.messageName ? f.messageName : f.name, f.expected, argc);
    return text;
}

} // namespace tn::test
