#include "host/command_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <regex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tn
{
namespace
{

TEST(CommandLineScan, ModeNameAndMessages)
{
    struct Row
    {
        std::vector<const char*> args;
        RunMode mode;
        const char* name;
        int unknown; // how many unknown-option messages
    };
    const Row rows[] = {
        {{}, RunMode::Run, "", 0},
        {{"-c", "x.htm", "-v", "y.htm"}, RunMode::Version, "y.htm", 0},
        // The run flag follows only the last option (golden pages cover more).
        {{"-r", "-c", "f"}, RunMode::Compile, "f", 0},
        {{"f", "-s"}, RunMode::Managed, "f", 0},
        {{"-s", "-c", "f"}, RunMode::Compile, "f", 0},
        {{"f"}, RunMode::Run, "f", 0},
        // Help, then version, take precedence.
        {{"-v", "-c", "f"}, RunMode::Version, "f", 0},
        {{"-v", "-?"}, RunMode::Usage, "", 0},
        {{"-c", "-v", "-r"}, RunMode::Version, "", 0},
        // Whole, case-sensitive words only; each miss is reported, none is fatal.
        {{"-", "-R", "-rc", "-H", "-c"}, RunMode::Compile, "", 4},
        // Null arguments are skipped.
        {{nullptr, "-c", nullptr, "page.htm"}, RunMode::Compile, "page.htm", 0},
    };
    for (const Row& row : rows)
    {
        std::vector<const char*> args = row.args;
        args.insert(args.begin(), "tnscriptapp");
        std::string messages;
        const CommandLine line = ParseCommandLine(static_cast<int>(args.size()), args.data(), messages);
        std::string expected;
        for (int i = 0; i < row.unknown; ++i)
            expected += "tnscriptapp: error unknown option";
        SCOPED_TRACE(testing::Message() << "row " << &row - rows);
        EXPECT_EQ(ChooseRunMode(line), row.mode);
        EXPECT_EQ(line.scriptName, row.name);
        EXPECT_EQ(messages, expected);
    }
    // No argument vector at all, not even the program's name.
    std::string messages;
    EXPECT_EQ(ChooseRunMode(ParseCommandLine(0, nullptr, messages)), RunMode::Run);
    EXPECT_EQ(messages, "");
}

// The usage and compile texts are in the golden pages; the version names its build time.
TEST(CommandLineTexts, Version)
{
    const std::regex stamp("tnscriptapp version 2\\.2\\.0 Compiled on "
                           "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] [0-9]{4} "
                           "at [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n");
    EXPECT_TRUE(std::regex_match(VersionText(), stamp)) << VersionText();
}

TEST(CompiledNames, ExtensionReplacedAndDetected)
{
    const struct
    {
        const char* name;
        const char* compiled;
        bool alreadyCompiled;
    } rows[] = {
        {"a/b.htm", "a/b.ctn", false},          {"a.b/c", "a.ctn", false}, {"x.tar.htm", "x.tar.ctn", false},
        {"trailing.", "trailing.ctn", false},   {"", ".ctn", false},       {"ctn", "ctn.ctn", false},
        {"dir/Page.Ctn", "dir/Page.ctn", true},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(CompiledFileName(row.name), row.compiled);
        EXPECT_EQ(HasCompiledExtension(row.name), row.alreadyCompiled) << row.name;
    }
}

TEST(EnvironmentEntries, NamesLoweredEmptyPartsLeftOut)
{
    const char* env[] = {"PATH=/bin", "Query_String=a=1&b",        "EMPTY=", "=x",
                         "NOEQUALS",  "GATEWAY_INTERFACE=CGI/1.1", nullptr};
    std::map<std::string, std::string> seen;
    ForEachEnvironmentEntry(env, [&](std::string name, std::string value) { seen[name] = value; });
    EXPECT_EQ(seen, (std::map<std::string, std::string>{
                        {"path", "/bin"}, {"query_string", "a=1&b"}, {"gateway_interface", "CGI/1.1"}}));
    ForEachEnvironmentEntry(nullptr, [&](std::string, std::string) { ADD_FAILURE(); });
}

TEST(RequestBody, DataThenEndOfStream)
{
    std::string sent;
    for (int i = 0; i < 30000; ++i)
        sent += static_cast<char>('a' + i % 23);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer(
        [&]
        {
            // Two bursts with a pause between them, then end of stream.
            EXPECT_EQ(write(fds[1], sent.data(), 10000), 10000);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            EXPECT_EQ(write(fds[1], sent.data() + 10000, 20000), 20000);
            close(fds[1]);
        });
    ByteBuffer body;
    body.append("stale");
    EXPECT_EQ(ReadRequestBody(fds[0], body, 5000), ereturnvalue::OK);
    writer.join();
    EXPECT_TRUE(body.view() == sent);
    // The stream is now at its end: an empty body.
    EXPECT_EQ(ReadRequestBody(fds[0], body, 1000), ereturnvalue::OK);
    EXPECT_TRUE(body.empty());
    close(fds[0]);
}

// A writer that trickles a byte every 20 ms cannot hold the reader past its
// deadline; what came is dropped. (The run modes test a silent writer.)
TEST(RequestBody, DeadlineEndsTheReadEmpty)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::atomic<bool> stop = false;
    std::thread writer(
        [&]
        {
            while (!stop && write(fds[1], "x", 1) == 1)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        });
    ByteBuffer body;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadRequestBody(fds[0], body, 300), ereturnvalue::TimedOut);
    const auto waited = std::chrono::steady_clock::now() - start;
    stop = true;
    writer.join();
    close(fds[0]);
    close(fds[1]);
    EXPECT_GE(waited, std::chrono::milliseconds(250));
    EXPECT_LT(waited, std::chrono::milliseconds(1500));
    EXPECT_TRUE(body.empty());
}

TEST(RequestBody, BadDescriptor)
{
    ByteBuffer body;
    EXPECT_EQ(ReadRequestBody(-1, body, 200), ereturnvalue::FileError);
    EXPECT_EQ(ReadRequestBody(987654, body, 200), ereturnvalue::FileError);
    EXPECT_TRUE(body.empty());
}

} // namespace
} // namespace tn
