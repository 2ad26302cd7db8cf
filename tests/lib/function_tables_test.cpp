// The core set against its published tables: every name with its id,
// accepted argument counts, message name, declared count and by-reference
// parameters, typed here from the function reference rather than read from
// the code. Each row is also called with counts it refuses.
#include "lib/core_functions.h"
#include "support/call_function.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>

using namespace tn;
using namespace tn::test;

namespace
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
    const char* counts; // "2", "2+", "0-1", "3|6" or "*"
    const char* messageName;
    Failure failure;
    int expected;       // the count the failure message reports
    uint32_t byRef = 0; // bit i: parameter i by reference
};

// clang-format off
const Published kCoreFunctions[] = {
    {"echo", -4097, "1+", "echo", Minimum, 1},
    {"print", -4098, "1+", "print", Minimum, 1},
    {"echohtml", -4099, "1+", "echohtml", Minimum, 1},
    {"echodebug", -4100, "1", "echodebug", Exact, 1},
    {"echolog", -4101, "1", "echodebug", Exact, 1},
    {"lineno", -4145, "0", "lineno", Exact, 0},
    {"scriptpath", -4146, "0", "scriptpath", Exact, 0},
    {"yield", -4177, "*", "", None, 0},
    {"envvar", -4865, "1", "envvar", Exact, 1},
    {"numenvvar", -4866, "0", "numenvvar", Exact, 0},
    {"envvarindex", -4867, "3", "", Machine, 3, 0b1100},
    {"setenvvar", -4868, "2", "setenvvar", Exact, 2},
    {"globalenvvar", -4869, "1", "globalenvvar", Exact, 1},
    {"setglobalenvvar", -4870, "2", "setglobalenvvar", Exact, 2},
    {"getscriptpath", -4880, "0", "getscriptpath", Exact, 0},
    {"type", -5121, "1", "type", Exact, 1},
    {"tonull", -5122, "0", "tonull", Exact, 0},
    {"toint", -5123, "0-1", "totype", Exact, 1},
    {"toflags", -5124, "0-1", "totype", Exact, 1},
    {"toarray", -5125, "0-1", "totype", Exact, 1},
    {"tostring", -5126, "0-1", "totype", Exact, 1},
    {"todate", -5127, "0-1", "totype", Exact, 1},
    {"tofloat", -5128, "0-1", "totype", Exact, 1},
    {"isblank", -5129, "1", "isblank", Exact, 1},
    {"isfuncdef", -5136, "1", "isfuncdef", Exact, 1},
    {"isvalidint", -5141, "1", "isvalidint", Exact, 1},
    {"isvalidpositiveint", -5142, "1", "isvalidint", Exact, 1},
    {"isvalididentifier", -5143, "1", "isvalididentifier", Exact, 1},
    {"isvalididentifierallowws", -5144, "1", "isvalididentifier", Exact, 1},
    {"escapestr", -5185, "1", "escapestr", Exact, 1},
    {"unescapestr", -5186, "1", "unescapestr", Exact, 1},
    {"escapetohtml", -5187, "1", "escapetohtml", Exact, 1},
    {"htmltoescape", -5188, "1", "htmltoescape", Exact, 1},
    {"texttohtml", -5189, "1", "texttohtml", Exact, 1},
    {"htmltotext", -5190, "1", "htmltotext", Exact, 1},
    {"urlencode", -5191, "1", "urlendecode", Exact, 1},
    {"urldecode", -5192, "1", "urlendecode", Exact, 1},
    {"urlqueryencode", -5193, "1", "urlendecode", Exact, 1},
    {"urlquerydecode", -5194, "1", "urlendecode", Exact, 1},
    {"urlencodestrict", -5197, "1", "urlendecode", Exact, 1},
    {"validateipaddress", -5195, "1", "validateipaddress", Exact, 1},
    {"escapeexport", -5196, "2", "escapeexport", Exact, 2},
    {"dateblank", -5456, "0", "dateblank", Exact, 0},
    {"datenow", -5457, "0", "datenow", Exact, 0},
    {"timenow", -5504, "0", "datenow", Exact, 0},
    {"datefromnum", -5458, "3|6", "datefromnum", Exact, 3},
    {"datefromstr", -5459, "1", "datefromstr", Exact, 1},
    {"datetostr", -5460, "1", "datetostr", Exact, 1},
    {"datefromstdstr", -5461, "1", "datefromstdstr", Exact, 1},
    {"datetostdstr", -5462, "1", "datetostdstr", Exact, 1},
    {"datesetformat", -5463, "1", "datesetformat", Exact, 1},
    {"dateformat", -5464, "0", "dateformat", Exact, 0},
    {"setlocaltimeformat", -5473, "1", "setlocaltimeformat", Exact, 1},
    {"localtimeformat", -5474, "0", "localtimeformat", Exact, 0},
    {"secstodhms", -5475, "1", "secstodhms", Exact, 1},
    {"dateyear", -5465, "1", "datesegment", Exact, 1},
    {"datemonth", -5466, "1", "datesegment", Exact, 1},
    {"dateday", -5467, "1", "datesegment", Exact, 1},
    {"datehour", -5468, "1", "datesegment", Exact, 1},
    {"dateminute", -5469, "1", "datesegment", Exact, 1},
    {"datesec", -5470, "1", "datesegment", Exact, 1},
    {"datemilisec", -5471, "1", "datesegment", Exact, 1},
    {"datedayofweek", -5472, "1", "datesegment", Exact, 1},
    {"dateaddyears", -5477, "2", "dateadd", Exact, 2},
    {"dateaddmonths", -5478, "2", "dateadd", Exact, 2},
    {"dateadddays", -5479, "2", "dateadd", Exact, 2},
    {"dateaddhours", -5480, "2", "dateadd", Exact, 2},
    {"dateaddminutes", -5481, "2", "dateadd", Exact, 2},
    {"dateaddsecs", -5482, "2", "dateadd", Exact, 2},
    {"dateaddmilisecs", -5483, "2", "dateadd", Exact, 2},
    {"datediffsecs", -5484, "2", "datediff", Exact, 2},
    {"datediffminutes", -5485, "2", "datediff", Exact, 2},
    {"datediffdays", -5486, "2", "datediff", Exact, 2},
    {"datediffhours", -5487, "2", "datediff", Exact, 2},
    {"datediffmillisecs", -5490, "2", "datediff", Exact, 2},
    {"gmttolocal", -5488, "1", "gmttolocal", Exact, 1},
    {"localtogmt", -5489, "1", "gmttolocal", Exact, 1},
    {"dateisblank", -5494, "1", "dateisblank", Exact, 1},
    {"count", -5633, "1", "", Machine, 1},
    {"push", -5634, "2+", "push", Minimum, 2},
    {"pop", -5635, "1", "", Machine, 1, 0b10},
    {"sort", -5636, "1", "sort", Exact, 1},
    {"strsort", -5637, "1", "sort", Exact, 1},
    {"reverse", -5638, "1", "reverse", Exact, 1},
    {"split", -5639, "1-2", "split", Minimum, 1},
    {"splitwithquotes", -5645, "1-2", "split", Minimum, 1},
    {"join", -5640, "1+", "join", Minimum, 1},
    {"joinwithquotes", -5647, "1+", "join", Minimum, 1},
    {"min", -5641, "1", "min", Exact, 1},
    {"max", -5642, "1", "max", Exact, 1},
    {"shuffle", -5643, "1", "shuffle", Exact, 1},
    {"find", -5644, "2-5", "find", Exact, 5},
    {"erase", -5646, "2", "erase", Exact, 2},
    {"rand", -5889, "2", "rand", Exact, 2},
    {"srand", -5890, "1", "srand", Exact, 1},
    {"strlen", -5377, "1", "strlen", Exact, 1},
    {"strcmp", -5378, "2", "stringcompare", Exact, 2},
    {"stricmp", -5379, "2", "stringcompare", Exact, 2},
    {"strncmp", -5380, "3", "stringcompare", Exact, 3},
    {"strnicmp", -5381, "3", "stringcompare", Exact, 3},
    {"strstr", -5382, "2", "strstr", Exact, 2},
    {"strrstr", -5383, "2", "strrstr", Exact, 2},
    {"strtoupper", -5392, "1", "strcase", Exact, 1},
    {"strtolower", -5393, "1", "strcase", Exact, 1},
    {"trim", -5394, "1", "strtrim", Exact, 1},
    {"ltrim", -5395, "1", "strtrim", Exact, 1},
    {"rtrim", -5396, "1", "strtrim", Exact, 1},
    {"trimquotes", -5397, "1", "trimquotes", Exact, 1},
    {"addquotes", -5398, "1", "addquotes", Exact, 1},
    {"substr", -5408, "3", "substr", Exact, 3},
    {"leftstr", -5409, "2", "leftright", Exact, 2},
    {"rightstr", -5410, "2", "leftright", Exact, 2},
    {"asc", -5411, "1", "asc", Exact, 1},
    {"chr", -5412, "1", "chr", Exact, 1},
};
// clang-format on

// The core set's group bases (hexadecimal 1000, 1300 ... 1700): each group
// holds -(base + 1) down to -(base + 256).
bool insideAGroup(int32_t id)
{
    for (const int32_t base : {0x1000, 0x1300, 0x1400, 0x1500, 0x1600, 0x1700})
        if (id <= -(base + 1) && id >= -(base + 256)) return true;
    return false;
}

bool accepts(const std::string& counts, int argc)
{
    if (counts == "*") return true;
    int a = 0, b = 0;
    if (std::sscanf(counts.c_str(), "%d|%d", &a, &b) == 2) return argc == a || argc == b;
    if (std::sscanf(counts.c_str(), "%d-%d", &a, &b) == 2) return argc >= a && argc <= b;
    a = std::stoi(counts);
    return counts.back() == '+' ? argc >= a : argc == a;
}

std::string expectedMessage(const Published& f, int argc)
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
                      f.messageName, f.expected, argc);
    return text;
}

class RecordingRegistry : public FunctionRegistry
{
  public:
    void registerSystemFunction(std::string_view name, int32_t id) override { names[std::string(name)] = id; }
    std::map<std::string, int32_t> names;
};
} // namespace

TEST(CoreFunctionSet, NamesIdsAndParametersAreThePublishedOnes)
{
    RecordingRegistry registry;
    CoreFunctionSet().registerAll(registry);
    EXPECT_EQ(CoreFunctionSet().rows().size(), 114u);
    EXPECT_EQ(registry.names.size(), 114u) << "a name registered twice";
    std::set<int32_t> ids;
    for (const Published& f : kCoreFunctions)
    {
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(ids.insert(f.id).second);
        EXPECT_TRUE(insideAGroup(f.id));
        EXPECT_EQ(registry.names[f.name], f.id);
        const SysFunction* row = CoreFunctionSet().find(f.id);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->declaredCount, f.failure == Machine ? f.expected : -1);
        EXPECT_EQ(row->byRefMask, f.byRef);
    }
    EXPECT_EQ(ids.size(), 114u);
}

// Every function called with one argument too few and one too many (and, for
// ranges with a gap, the count in the gap) fails with its own message; a
// count it accepts passes the test and reaches the function.
TEST(CoreFunctionSet, EveryFunctionRefusesCountsOutsideItsRule)
{
    FunctionCaller caller;
    for (const Published& f : kCoreFunctions)
    {
        SCOPED_TRACE(f.name);
        for (int argc = 0; argc <= 7; ++argc)
        {
            const CallOutcome outcome = caller.call(f.id, std::vector<CallArg>(size_t(argc), CallArg(0)));
            if (!accepts(f.counts, argc))
            {
                EXPECT_EQ(outcome.message, expectedMessage(f, argc)) << argc;
            }
            else if (outcome.code == ereturnvalue::RuntimeError)
            {
                EXPECT_EQ(outcome.message.find("arguments"), std::string::npos) << argc << ": " << outcome.message;
            }
        }
    }
}
