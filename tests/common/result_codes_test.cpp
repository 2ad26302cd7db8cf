#include "common/result_codes.h"

#include <gtest/gtest.h>

using namespace tn;

TEST(ResultCodes, DisplayNamesAndScriptStatus)
{
    const std::pair<int, const char*> names[] = {
        {0, "unknown"},        {1, "OK"},    {2, "error"}, {3, "Mem Alloc"}, {20, "Not Found"},
        {40, "Special Error"}, {41, "XXXX"}, {-1, "XXXX"},
    };
    for (const auto& [code, name] : names)
        EXPECT_STREQ(ResultCodeName(code), name) << code;
    EXPECT_STREQ(ResultCodeName(ereturnvalue::OSNetworkError), "OS NetworkError");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::NotSupported), "Not Supported");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::EndOfFile), "EOF");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::RuntimeError), "Runtime Error");
    std::string text = "old";
    ResultCodeName(20, text);
    EXPECT_EQ(text, "Not Found");

    const std::pair<ereturnvalue, int> statuses[] = {{ereturnvalue::OK, 1},
                                                     {ereturnvalue::NotFound, -2},
                                                     {ereturnvalue::TimedOut, -1},
                                                     {ereturnvalue::InvalidInput, -3},
                                                     {ereturnvalue::Error, 0}};
    for (const auto& [code, status] : statuses)
        EXPECT_EQ(ScriptStatus(code), status) << ResultCodeName(code);
}
