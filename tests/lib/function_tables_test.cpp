#include "lib/core_functions.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

using namespace tn;

namespace
{
class RecordingRegistry : public FunctionRegistry
{
  public:
    void registerSystemFunction(std::string_view name, int32_t id) override { names[std::string(name)] = id; }
    std::map<std::string, int32_t> names;
};
} // namespace

TEST(CoreFunctionTable, RowsAreUniqueWellFormedAndRegistered)
{
    const FunctionSet& table = CoreFunctionSet();
    ASSERT_FALSE(table.rows().empty());
    std::set<int32_t> ids;
    RecordingRegistry registry;
    table.registerAll(registry);
    for (const SysFunction* row : table.rows())
    {
        ASSERT_NE(row->name, nullptr);
        SCOPED_TRACE(row->name);
        EXPECT_GT(std::strlen(row->name), 0u);
        EXPECT_TRUE(ids.insert(row->id).second) << "id listed twice: " << row->id;
        EXPECT_LE(row->id, -4097);
        EXPECT_GE(row->id, -5890);
        EXPECT_EQ(registry.names[row->name], row->id);
        EXPECT_NE(row->handler, nullptr);
        EXPECT_GT(std::strlen(row->shownName()), 0u);
        EXPECT_EQ(table.find(row->id), row);
        // By-reference flags only make sense for declared parameters 1..n.
        if (row->byRefMask != 0)
        {
            ASSERT_GT(row->declaredCount, 0);
            EXPECT_EQ(row->byRefMask & 1u, 0u);
            EXPECT_EQ(row->byRefMask >> (row->declaredCount + 1), 0u);
        }
        // A declared count is tested first, so the handler's own rule must accept it.
        if (row->declaredCount >= 0)
        {
            EXPECT_TRUE(row->rule.accepts(row->declaredCount));
        }
    }
    // Every name once, none but the table's.
    EXPECT_EQ(registry.names.size(), table.rows().size());
    EXPECT_EQ(registry.names["count"], -5633);
    EXPECT_EQ(registry.names["type"], -5121);
}
