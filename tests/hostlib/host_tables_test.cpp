// Every function set against its published table: the totals, every name
// with its id, declared count and by-reference parameters, each id inside its
// set's groups, and no name or id twice across the sets.
#include "support/published_functions.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

namespace tn
{
namespace
{

using test::kPublishedSets;
using test::Published;
using test::PublishedSet;

class RecordingRegistry : public FunctionRegistry
{
  public:
    void registerSystemFunction(std::string_view name, int32_t id) override
    {
        ++registrations;
        names[std::string(name)] = id;
    }
    std::map<std::string, int32_t> names;
    size_t registrations = 0;
};

TEST(FunctionTables, SetsHoldThePublishedNamesAndIds)
{
    ASSERT_EQ(HostFunctionSets().size(), std::size(kPublishedSets));
    std::set<int32_t> allIds;
    std::set<std::string> allNames;
    for (size_t i = 0; i < std::size(kPublishedSets); ++i)
    {
        const PublishedSet& published = kPublishedSets[i];
        SCOPED_TRACE(published.name);
        EXPECT_EQ(HostFunctionSets()[i], &published.set) << "registration order";
        EXPECT_EQ(published.rows.size(), published.size) << "the published table itself";

        RecordingRegistry registry;
        published.set.registerAll(registry);
        EXPECT_EQ(published.set.rows().size(), published.size);
        EXPECT_EQ(registry.names.size(), registry.registrations) << "a name registered twice";
        for (const SysFunction* row : published.set.rows())
        {
            SCOPED_TRACE(row->name);
            EXPECT_TRUE(published.insideAGroup(row->id));
            EXPECT_TRUE(allIds.insert(row->id).second) << "id used twice";
            EXPECT_TRUE(allNames.insert(row->name).second) << "name used twice";
        }
        for (const Published& f : published.rows)
        {
            SCOPED_TRACE(f.name);
            EXPECT_EQ(registry.names[f.name], f.id);
            const SysFunction* row = published.set.find(f.id);
            if (!row)
            {
                ADD_FAILURE() << "no row";
                continue;
            }
            EXPECT_STREQ(row->name, f.name);
            EXPECT_EQ(row->declaredCount, f.failure == test::Machine ? f.expected : -1);
            EXPECT_EQ(row->byRefMask, f.byRef);
        }
    }
}

} // namespace
} // namespace tn
