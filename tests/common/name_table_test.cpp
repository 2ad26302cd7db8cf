// The name table behind function numbers and variable slots: positions in
// the order added, values, growth of the index, and clearing for reuse.
#include "common/name_table.h"

#include <gtest/gtest.h>

#include <string>

using namespace tn;

namespace
{

int32_t Insert(NameTable& table, std::string_view name, int32_t value, bool* added = nullptr)
{
    bool wasAdded = false;
    const int32_t at = table.insert(name, value, wasAdded);
    if (added) *added = wasAdded;
    return at;
}

} // namespace

TEST(NameTable, PositionsFollowTheOrderOfFirstInsertion)
{
    NameTable table;
    EXPECT_EQ(table.find("a"), -1);
    bool added = false;
    EXPECT_EQ(Insert(table, "a", 10, &added), 0);
    EXPECT_TRUE(added);
    EXPECT_EQ(Insert(table, "b", 20, &added), 1);
    EXPECT_TRUE(added);
    // A second insertion finds the name and keeps its first value.
    EXPECT_EQ(Insert(table, "a", 99, &added), 0);
    EXPECT_FALSE(added);
    EXPECT_EQ(table.value(0), 10);
    EXPECT_EQ(table.size(), 2);
    EXPECT_EQ(table.find("b"), 1);
    EXPECT_EQ(table.name(1), "b");
    table.setValue(1, 21);
    EXPECT_EQ(table.value(1), 21);
}

TEST(NameTable, NamesAreComparedByteForByte)
{
    NameTable table;
    const std::string withZero("a\0b", 3);
    Insert(table, "", 1);
    Insert(table, withZero, 2);
    Insert(table, "A", 3);
    EXPECT_EQ(table.find(""), 0);
    EXPECT_EQ(table.find(withZero), 1);
    EXPECT_EQ(table.find("a"), -1); // a prefix of "a\0b" is another name
    EXPECT_EQ(table.find("A"), 2);
    EXPECT_EQ(table.name(1), withZero);
}

TEST(NameTable, ThousandsOfNamesSurviveGrowth)
{
    NameTable table;
    for (int i = 0; i < 20000; ++i)
        EXPECT_EQ(Insert(table, "v" + std::to_string(i), i * 3), i);
    EXPECT_EQ(table.size(), 20000);
    for (int i = 0; i < 20000; ++i)
    {
        const std::string name = "v" + std::to_string(i);
        ASSERT_EQ(table.find(name), i) << name;
        EXPECT_EQ(table.name(i), name);
        EXPECT_EQ(table.value(i), i * 3);
    }
    EXPECT_EQ(table.find("v20000"), -1);
}

TEST(NameTable, ClearForgetsEveryNameAndAllowsReuse)
{
    NameTable table;
    for (int i = 0; i < 500; ++i)
        Insert(table, "n" + std::to_string(i), i);
    table.clear();
    EXPECT_EQ(table.size(), 0);
    for (int i = 0; i < 500; ++i)
        EXPECT_EQ(table.find("n" + std::to_string(i)), -1) << i;
    // After a clear the positions start again from 0, with the new values.
    EXPECT_EQ(Insert(table, "n7", 70), 0);
    EXPECT_EQ(Insert(table, "x", 1), 1);
    EXPECT_EQ(table.find("n7"), 0);
    EXPECT_EQ(table.value(0), 70);
    EXPECT_EQ(table.find("n8"), -1);

    NameTable empty;
    empty.clear();
    EXPECT_EQ(empty.find("x"), -1);
}
