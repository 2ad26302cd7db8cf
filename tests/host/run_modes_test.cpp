#include "host/run_modes.h"

#include "host/script_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <vector>

namespace tn
{
namespace
{

using test::ScratchFolder;

constexpr std::string_view kHeader = "Content-type: text/html\n\n";

class RunModesTest : public ::testing::Test
{
  protected:
    struct Outcome
    {
        int exitCode;
        std::string output;
    };

    // Runs the program with [args] after the program name, the environment
    // [env] and standard input [input].
    Outcome program(std::vector<const char*> args, std::vector<std::string> env = {}, int input = -1)
    {
        args.insert(args.begin(), "tnscriptapp");
        std::vector<const char*> block;
        for (const std::string& entry : env)
        {
            block.push_back(entry.c_str());
        }
        block.push_back(nullptr);
        std::FILE* out = std::tmpfile();
        const int code = RunProgram(static_cast<int>(args.size()), args.data(), block.data(), out, input);
        std::fflush(out);
        std::rewind(out);
        std::string text;
        char chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, out)) > 0)
        {
            text.append(chunk, got);
        }
        std::fclose(out);
        return {code, text};
    }

    ScratchFolder folder;
};

TEST_F(RunModesTest, RunWithoutAScriptOutsideCgi)
{
    const Outcome o = program({});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.output, "tnscriptapp: no script specified\n");
}

TEST_F(RunModesTest, CgiTakesThePageFromPathTranslatedAndTheBodyFromInput)
{
    const std::string page = folder.write("f.htm", "<?tnl print(envvar(\"a\"), envvar(\"b\")); ?>");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "a=1&b=2", 7), 7);
    close(fds[1]);
    const Outcome o =
        program({"ignored.htm"}, {"GATEWAY_INTERFACE=CGI/1.1", "PATH_TRANSLATED=" + page, "QUERY_STRING=b=q", "EMPTY="},
                fds[0]);
    close(fds[0]);
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.output, std::string(kHeader) + "1q");
}

TEST_F(RunModesTest, CgiBodyThatNeverEndsIsDroppedAfterTheDeadline)
{
    const std::string page = folder.write("f.htm", "<?tnl print(\"[\", envvar(\"a\"), \"]\"); ?>");
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "a=1", 3), 3); // the writer stays open
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = program({}, {"GATEWAY_INTERFACE=CGI/1.1", "PATH_TRANSLATED=" + page}, fds[0]);
    const auto waited = std::chrono::steady_clock::now() - start;
    close(fds[0]);
    close(fds[1]);
    EXPECT_EQ(o.output, std::string(kHeader) + "[]");
    EXPECT_GE(waited, std::chrono::milliseconds(1900));
    EXPECT_LT(waited, std::chrono::milliseconds(5000));
}

TEST_F(RunModesTest, MissingPageInRunModeSendsNothing)
{
    const Outcome o = program({folder.file("none.htm").c_str()});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.output, "");
}

TEST_F(RunModesTest, CompileRemovesTheOldFileEvenWhenTheCompileFails)
{
    const std::string page = folder.write("p.htm", "<?tnl\n\n$x = ; ?>");
    const std::string target = folder.write("p.ctn", "stale");
    const Outcome o = program({"-c", page.c_str()});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.output, "tnscriptapp: compile " + page + "\nparse error on line 3\n");
    EXPECT_NE(access(target.c_str(), F_OK), 0);
}

TEST_F(RunModesTest, CompileThenRunTheCompiledFile)
{
    const std::string page = folder.write("p.htm", "x<?tnl print(6 * 7); ?>y");
    Outcome o = program({"-c", page.c_str()});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.output, "tnscriptapp: compile " + page + "\n");
    const std::string compiled = folder.file("p.ctn");
    std::remove(page.c_str());
    o = program({compiled.c_str()});
    EXPECT_EQ(o.output, std::string(kHeader) + "x42y");
}

TEST_F(RunModesTest, CompileRefusals)
{
    Outcome o = program({"-c"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.output, "tnscriptapp: no script specified\n");
    o = program({"-c", "X.CTN"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.output, "tnscriptapp: compiled script extension specified\n");
    const std::string plain = folder.write("plain.htm", "no blocks");
    o = program({"-c", plain.c_str()});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.output, "tnscriptapp: compile " + plain + "\nScript Error\n");
}

TEST_F(RunModesTest, ManagedRunRunsThePageInSlices)
{
    const std::string page =
        folder.write("m.htm", "a<?tnl $i = 0; while ($i < 2000) { $i++; } print($i); yield(); print(\"!\"); ?>b");
    Outcome o = program({"-s", page.c_str()});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.output, std::string(kHeader) + "a2000!b");
    o = program({"-s"});
    EXPECT_EQ(o.exitCode, 1);
    EXPECT_EQ(o.output, "tnscriptapp: no script specified\n");
}

TEST_F(RunModesTest, UnknownOptionIsReportedAndNothingElseHappens)
{
    const std::string page = folder.write("p.htm", "<?tnl print(1); ?>");
    const Outcome o = program({"-x", page.c_str()});
    EXPECT_EQ(o.exitCode, 0);
    EXPECT_EQ(o.output, "tnscriptapp: error unknown option");
}

} // namespace
} // namespace tn
