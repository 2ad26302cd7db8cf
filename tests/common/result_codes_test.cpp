#include "common/result_codes.h"

#include <gtest/gtest.h>

using namespace tn;

TEST(ResultCodes, DisplayNamesByValue)
{
    EXPECT_STREQ(ResultCodeName(0), "unknown");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::OK), "OK");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::Error), "error");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::MemAlloc), "Mem Alloc");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::OSNetworkError), "OS NetworkError");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::NotFound), "Not Found");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::NotSupported), "Not Supported");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::EndOfFile), "EOF");
    EXPECT_STREQ(ResultCodeName(ereturnvalue::RuntimeError), "Runtime Error");
    EXPECT_STREQ(ResultCodeName(40), "Special Error");
    EXPECT_STREQ(ResultCodeName(41), "XXXX");
    EXPECT_STREQ(ResultCodeName(-1), "XXXX");
    std::string text = "old";
    ResultCodeName(20, text);
    EXPECT_EQ(text, "Not Found");
}

TEST(ResultCodes, ScriptStatusNumbers)
{
    EXPECT_EQ(ScriptStatus(ereturnvalue::OK), 1);
    EXPECT_EQ(ScriptStatus(ereturnvalue::NotFound), -2);
    EXPECT_EQ(ScriptStatus(ereturnvalue::TimedOut), -1);
    EXPECT_EQ(ScriptStatus(ereturnvalue::InvalidInput), -3);
    EXPECT_EQ(ScriptStatus(ereturnvalue::Error), 0);
}
