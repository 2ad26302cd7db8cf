// Every test page and golden case page gives the same response, error and
// instruction count with the fast paths forced on as in the plain loop alone:
// whole, in slices of 1 to 50 instructions and against the instruction limit
// (the pages' own expectations are checked by their runners).
#include "host/script.h"
#include "host/script_engine.h"

#include "support/run_ways.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace tn
{
namespace
{

namespace fs = std::filesystem;

// Pages that wait for timers or other scripts answer Wait in slices and
// would only measure the clock; random numbers go on with the process's one
// sequence from run to run.
bool Waits(const fs::path& page)
{
    const std::string text = test::ScratchFolder::read(page.string());
    for (const char* word : {"sleep", "waitfor", "runandwait", "semaphore", "run(", "rand"})
        if (text.find(word) != std::string::npos) return true;
    return false;
}

std::vector<fs::path> Pages()
{
    const char* data = std::getenv("TN_TEST_DATA");
    std::vector<fs::path> pages;
    if (!data) return pages;
    for (const char* folder : {"pages", "golden/cases"})
        for (const auto& entry : fs::recursive_directory_iterator(fs::path(data) / folder))
        {
            const auto extension = entry.path().extension();
            if (entry.is_regular_file() && (extension == ".htm" || extension == ".tnl") && !Waits(entry.path()))
                pages.push_back(entry.path());
        }
    return pages;
}

// The page's folder copied to a scratch folder, as its runners make: includes
// resolve beside the page, and every run finds the files as they were. The
// copy is made again only after a run changed it: on some disks making and
// removing files costs more than the run.
class PageFolder
{
  public:
    explicit PageFolder(const fs::path& page) : page_(page)
    {
        copy();
        pristine_ = contents();
    }
    const fs::path& page() const { return page_; }
    const std::string& path() const { return scratch_.path(); }
    void restore()
    {
        if (contents() == pristine_) return;
        for (const auto& entry : fs::directory_iterator(scratch_.path()))
            fs::remove_all(entry.path());
        copy();
    }

  private:
    void copy() { fs::copy(page_.parent_path(), scratch_.path(), fs::copy_options::recursive); }
    std::map<std::string, std::string> contents() const
    {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(scratch_.path()))
            files[entry.path().string()] = entry.is_directory() ? "folder" : test::ScratchFolder::read(entry.path());
        return files;
    }

    const fs::path page_;
    const test::ScratchFolder scratch_;
    std::map<std::string, std::string> pristine_;
};

struct PageOutcome
{
    std::string response, error;
    int32_t count = 0; // the machine's instruction count at the end

    bool operator==(const PageOutcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const PageOutcome& o)
{
    return out << "count " << o.count << ", error \"" << o.error << "\", response \"" << o.response << "\"";
}

constexpr int32_t kUnbounded = VirtualMachine::kMaxInstructions;

// Runs the page whole (slice 0) or in slices, with [left] instructions
// before the limit. Whole and without a limit it runs as the program runs a
// page, unless the general call paths are asked for, which only a run in
// steps can choose.
PageOutcome Respond(PageFolder& folder, test::Paths paths, int32_t slice, int32_t left = kUnbounded)
{
    folder.restore();
    ScriptEngine::setFastPaths(paths == test::Paths::Always ? ScriptEngine::FastPaths::Always
                                                            : ScriptEngine::FastPaths::Never);
    const fs::path before = fs::current_path();
    fs::current_path(folder.path());
    Script script;
    script.setPath(folder.page().filename().string());
    script.setCgi(false);
    if (slice == 0 && left == kUnbounded && paths != test::Paths::General)
    {
        script.run();
    }
    else if (script.load() == ereturnvalue::OK)
    {
        // The compile attached the image afresh, which started the count at 0.
        script.engine().machine().setInstructionCount(kUnbounded - left);
        script.engine().machine().setFastCalls(paths != test::Paths::General);
        // Slice 0: one whole run.
        for (int32_t n = 0; n < 10000000 && script.runSlice(slice) == ereturnvalue::Incomplete; ++n)
        {
        }
    }
    fs::current_path(before);
    ScriptEngine::setFastPaths(ScriptEngine::FastPaths::Normal);
    return {std::string(script.output().view()), script.errorMessage(), script.engine().machine().instructionCount()};
}

using enum test::Paths;

TEST(FastPaths, PagesRespondAsInThePlainLoop)
{
    const std::vector<fs::path> pages = Pages();
    ASSERT_GT(pages.size(), 50u) << "TN_TEST_DATA must name the tests folder";
    for (const fs::path& page : pages)
    {
        PageFolder folder(page);
        for (int32_t slice = 0; slice <= 50; slice += slice < 5 ? 1 : 9)
            EXPECT_EQ(Respond(folder, Always, slice), Respond(folder, Never, slice)) << page << ", slice " << slice;
    }
}

// The limit met after each of the first 40 instructions, then at points
// spread over the whole run, up to where it is no longer met; whole and in
// slices of sizes taken in turn. The plain loop takes the general call paths
// here, so that the short ones are tested too.
TEST(FastPaths, PagesMeetTheInstructionLimitAsInThePlainLoop)
{
    const std::vector<fs::path> pages = Pages();
    ASSERT_GT(pages.size(), 50u) << "TN_TEST_DATA must name the tests folder";
    int32_t limitsMet = 0;
    for (const fs::path& page : pages)
    {
        PageFolder folder(page);
        const int32_t total = Respond(folder, General, 0).count;
        std::vector<int32_t> lefts;
        for (int32_t left = 0; left <= std::min(total, 40); ++left)
            lefts.push_back(left);
        for (int32_t k = 1; k <= 24; ++k)
            if (const int32_t left = int32_t(int64_t(total) * k / 24); left > 40) lefts.push_back(left);
        if (total > 41) lefts.push_back(total - 1);
        for (size_t k = 0; k < lefts.size(); ++k)
            for (const int32_t slice : {0, 1 + int32_t(k * 7 % 50)})
            {
                const PageOutcome plain = Respond(folder, General, slice, lefts[k]);
                limitsMet += plain.error.find("maximum instructions exceeded") != std::string::npos;
                EXPECT_EQ(Respond(folder, Always, slice, lefts[k]), plain)
                    << page << ", " << lefts[k] << " of " << total << " instructions, slice " << slice;
            }
    }
    // The spread must make runs meet the limit, or the test tests little.
    EXPECT_GT(limitsMet, 1000);
}

} // namespace
} // namespace tn
