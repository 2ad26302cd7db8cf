#include "lib/core_functions.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace tn;

namespace
{
constexpr int32_t kHighestCoreId = -4097;
constexpr int32_t kLowestCoreId = -5890;

class RecordingRegistry : public FunctionRegistry
{
public:
    void registerSystemFunction(std::string_view name, int32_t id) override { names[std::string(name)] = id; }
    std::map<std::string, int32_t> names;
};
} // namespace

TEST(CoreFunctionTable, RowsAreUniqueAndWellFormed)
{
    const FunctionTable& table = CoreFunctionTable();
    ASSERT_FALSE(table.rows().empty());
    std::set<std::string> names;
    std::set<int32_t> ids;
    for (const SysFunction* row : table.rows())
    {
        ASSERT_NE(row->name, nullptr);
        SCOPED_TRACE(row->name);
        EXPECT_GT(std::strlen(row->name), 0u);
        EXPECT_TRUE(names.insert(row->name).second) << "name listed twice";
        EXPECT_TRUE(ids.insert(row->id).second) << "id listed twice: " << row->id;
        EXPECT_LE(row->id, kHighestCoreId);
        EXPECT_GE(row->id, kLowestCoreId);
        EXPECT_NE(row->handler, nullptr);
        ASSERT_NE(row->messageName, nullptr);
        EXPECT_GT(std::strlen(row->messageName), 0u);
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
}

TEST(CoreFunctionTable, RegistersEveryName)
{
    RecordingRegistry registry;
    VirtualMachine vm;
    vm.registerFunctions(registry);
    EXPECT_EQ(registry.names.size(), CoreFunctionTable().rows().size());
    EXPECT_EQ(registry.names["count"], -5633);
    EXPECT_EQ(registry.names["pop"], -5635);
    EXPECT_EQ(registry.names["type"], -5121);
}

TEST(CoreFunctionTable, DeclaredParametersOfTheMachine)
{
    struct Expected
    {
        int32_t id;
        int32_t declared;
        std::vector<int32_t> byRef;
    };
    const Expected cases[] = {
        {-5635, 1, {1}},        // pop
        {-5633, 1, {0}},        // count
        {-4867, 3, {0, 1, 1}},  // envvarindex
        {-4865, -1, {}},        // envvar: any count reaches the handler
    };
    VirtualMachine vm;
    for (const Expected& c : cases)
    {
        SCOPED_TRACE(c.id);
        CallFrame frame;
        int32_t declared = 0;
        vm.describeParameters(c.id, frame, declared);
        EXPECT_EQ(declared, c.declared);
        // Flags are only listed when some parameter is by reference.
        const bool anyByRef = std::find(c.byRef.begin(), c.byRef.end(), 1) != c.byRef.end();
        EXPECT_EQ(frame.byRefFlags, anyByRef ? c.byRef : std::vector<int32_t>{});
    }
}
