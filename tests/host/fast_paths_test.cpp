// Every test page and golden case page gives the same response with the fast
// paths forced on as in the plain loop alone: whole, and in slices of 1 to 50
// instructions (the pages' own expectations are checked by their runners).
#include "host/script.h"
#include "host/script_engine.h"

#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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
    std::ifstream in(page, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    for (const char* word : {"sleep", "waitfor", "runandwait", "semaphore", "run(", "rand"})
        if (text.str().find(word) != std::string::npos) return true;
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

std::string Response(const fs::path& page, ScriptEngine::FastPaths paths, int32_t slice)
{
    ScriptEngine::setFastPaths(paths);
    // A fresh copy of the page's folder for each run, as its runners make:
    // includes resolve beside the page, and files it writes start anew.
    const test::ScratchFolder folder;
    fs::copy(page.parent_path(), folder.path(), fs::copy_options::recursive);
    const fs::path before = fs::current_path();
    fs::current_path(folder.path());
    Script script;
    script.setPath(page.filename().string());
    script.setCgi(false);
    if (slice == 0)
    {
        script.run();
    }
    else if (script.load() == ereturnvalue::OK)
    {
        for (int32_t n = 0; n < 10000000 && script.runSlice(slice) == ereturnvalue::Incomplete; ++n)
        {
        }
    }
    fs::current_path(before);
    ScriptEngine::setFastPaths(ScriptEngine::FastPaths::Normal);
    return std::string(script.output().view());
}

TEST(FastPaths, PagesRespondAsInThePlainLoop)
{
    const std::vector<fs::path> pages = Pages();
    ASSERT_GT(pages.size(), 50u) << "TN_TEST_DATA must name the tests folder";
    for (const fs::path& page : pages)
        for (int32_t slice = 0; slice <= 50; slice += slice < 5 ? 1 : 9)
        {
            const std::string plain = Response(page, ScriptEngine::FastPaths::Never, slice);
            EXPECT_EQ(Response(page, ScriptEngine::FastPaths::Always, slice), plain) << page << ", slice " << slice;
        }
}

} // namespace
} // namespace tn
