// The name table behind function numbers and variable slots. Positions in
// order of first insertion are seen through the codegen tests; these cases
// cover what small programs do not reach.
#include "common/name_table.h"

#include <gtest/gtest.h>

#include <string>

using namespace tn;

TEST(NameTable, NamesAreBytesAndASecondInsertKeepsTheFirstValue)
{
    NameTable table;
    const std::string withZero("a\0b", 3);
    bool added = false;
    for (const std::string_view name : {std::string_view(), std::string_view(withZero), std::string_view("A")})
        table.insert(name, 5, added);
    EXPECT_EQ(table.insert("A", 99, added), 2);
    EXPECT_FALSE(added);
    EXPECT_EQ(table.value(2), 5);
    EXPECT_EQ(table.find(""), 0);
    EXPECT_EQ(table.find(withZero), 1);
    EXPECT_EQ(table.name(1), withZero);
    EXPECT_EQ(table.find("a"), -1); // a prefix of "a\0b" is another name
}

TEST(NameTable, ThousandsOfNamesSurviveGrowthAndClear)
{
    NameTable table;
    table.clear();
    bool added = false;
    for (int round = 0; round < 2; ++round)
    {
        for (int i = 0; i < 20000; ++i)
            ASSERT_EQ(table.insert("v" + std::to_string(i), i * 3 + round, added), i);
        for (int i = 0; i < 20000; ++i)
        {
            const std::string name = "v" + std::to_string(i);
            ASSERT_EQ(table.find(name), i) << name;
            EXPECT_EQ(table.name(i), name);
            EXPECT_EQ(table.value(i), i * 3 + round);
        }
        EXPECT_EQ(table.find("v20000"), -1);
        table.clear();
        EXPECT_EQ(table.size(), 0);
        EXPECT_EQ(table.find("v7"), -1);
    }
}
