// Most of the program's modes are covered end to end by the golden pages;
// these cases need a controlled input stream or a look at the file system.
#include "host/run_modes.h"

#include "support/scratch_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace tn
{
namespace
{

struct Outcome
{
    int exitCode;
    std::string output;
};

Outcome program(std::vector<const char*> args, std::vector<std::string> env = {}, int input = -1)
{
    args.insert(args.begin(), "tnscriptapp");
    std::vector<const char*> block;
    for (const std::string& entry : env)
        block.push_back(entry.c_str());
    block.push_back(nullptr);
    std::FILE* out = std::tmpfile();
    const int code = RunProgram(static_cast<int>(args.size()), args.data(), block.data(), out, input);
    std::fflush(out);
    std::rewind(out);
    std::string text;
    char chunk[4096];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, out)) > 0;)
        text.append(chunk, got);
    std::fclose(out);
    return {code, text};
}

TEST(RunModesTest, CgiBodyThatNeverEndsIsDroppedAfterTheDeadline)
{
    test::ScratchFolder folder;
    const std::string page = folder.write("f.htm", "<?tnl print(\"[\", envvar(\"a\"), \"]\"); ?>");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "a=1", 3), 3); // the writer stays open
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = program({}, {"GATEWAY_INTERFACE=CGI/1.1", "PATH_TRANSLATED=" + page}, fds[0]);
    const auto waited = std::chrono::steady_clock::now() - start;
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.output, "Content-type: text/html\n\n[]");
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
}

TEST(RunModesTest, CompileRemovesTheOldFileEvenWhenTheCompileFails)
{
    test::ScratchFolder folder;
    const std::string page = folder.write("p.htm", "<?tnl\n\n$x = ; ?>");
    const std::string target = folder.write("p.ctn", "stale");
    const Outcome o = program({"-c", page.c_str()});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.output, "tnscriptapp: compile " + page + "\nparse error on line 3\n");
    EXPECT_NE(access(target.c_str(), F_OK), 0);
}

TEST(RunModesTest, CompileLeavesAFolderOfTheCompiledNameAndFails)
{
    test::ScratchFolder folder;
    const std::string page = folder.write("d.htm", "<?tnl print(1); ?>");
    const std::string target = page.substr(0, page.size() - 3) + "ctn";
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    const Outcome o = program({"-c", page.c_str()});
    struct stat info
    {
    };
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.output, "tnscriptapp: compile " + page + "\nError reading script" + target + "\n");
    EXPECT_TRUE(stat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
}

} // namespace
} // namespace tn
