// Every row of every function set called with the counts it refuses: one too
// few and one too many, and the count in a gap. Each must fail with its own
// message; a count a row accepts must reach the function.
#include "hostlib/host_context.h"
#include "support/call_function.h"
#include "support/published_functions.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

using namespace tn;
using namespace tn::test;

namespace
{

// The file functions create what they are asked to: keep it in a scratch folder.
class InFolder
{
  public:
    explicit InFolder(const std::string& path) : previous_(std::filesystem::current_path())
    {
        std::filesystem::current_path(path);
    }
    ~InFolder() { std::filesystem::current_path(previous_); }

  private:
    std::filesystem::path previous_;
};

} // namespace

TEST(FunctionTables, EveryRowRefusesCountsOutsideItsRule)
{
    std::map<int32_t, const Published*> published;
    for (const PublishedSet& set : kPublishedSets)
        for (const Published& f : set.rows)
            published[f.id] = &f;

    ScratchFolder folder;
    InFolder inFolder(folder.path());
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
