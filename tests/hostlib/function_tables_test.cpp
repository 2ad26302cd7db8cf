// Every function set against its published table: the totals, every name
// with its id, declared count and by-reference parameters, each id inside its
// set's groups, no name or id twice across the sets; and every row called
// with each count from 0 to 10, where a refused count must fail with the
// row's own message and an accepted one must reach the function.
#include "hostlib/host_context.h"
#include "support/call_function.h"
#include "support/published_functions.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace tn
{
namespace
{
using namespace tn::test;

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
            EXPECT_EQ(row->declaredCount, f.failure == Machine ? f.expected : -1);
            EXPECT_EQ(row->byRefMask, f.byRef);
        }
    }
}

TEST(FunctionTables, EveryRowRefusesCountsOutsideItsRule)
{
    std::map<int32_t, const Published*> published;
    for (const PublishedSet& set : kPublishedSets)
        for (const Published& f : set.rows)
            published[f.id] = &f;

    // The file functions create what they are asked to: keep it in a scratch folder.
    ScratchFolder folder;
    struct Restore
    {
        std::filesystem::path path;
        ~Restore() { std::filesystem::current_path(path); }
    } restore{std::filesystem::current_path()};
    std::filesystem::current_path(folder.path());
    FunctionCaller caller;
    HostContext host;
    caller.vm().setHost(&host);
    for (const FunctionSet* set : HostFunctionSets())
        for (const SysFunction* row : set->rows())
        {
            SCOPED_TRACE(row->name);
            const auto found = published.find(row->id);
            ASSERT_NE(found, published.end()) << "a row the tables do not list";
            const Published& f = *found->second;
            if (f.counts[0] == '?') continue;
            for (int argc = 0; argc <= 10; ++argc)
            {
                const CallOutcome outcome = caller.call(f.id, std::vector<CallArg>(size_t(argc), CallArg(0)));
                if (!Accepts(f.counts, argc))
                {
                    EXPECT_EQ(outcome.message, CountMessage(f, argc)) << argc;
                }
                else if (outcome.code == ereturnvalue::RuntimeError)
                {
                    EXPECT_EQ(outcome.message.find("arguments"), std::string::npos) << argc << ": " << outcome.message;
                }
            }
        }
}

} // namespace
} // namespace tn
