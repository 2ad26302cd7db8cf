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

struct Parsed
{
    CommandLine line;
    RunMode mode;
    std::string messages;
};

Parsed parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "tnscriptapp");
    Parsed p;
    p.line = ParseCommandLine(static_cast<int>(args.size()), args.data(), p.messages);
    p.mode = ChooseRunMode(p.line);
    return p;
}

TEST(CommandLineScan, NoArgumentsRunsWithEmptyName)
{
    const Parsed p = parse({});
    EXPECT_EQ(p.mode, RunMode::Run);
    EXPECT_TRUE(p.line.scriptName.empty());
    EXPECT_TRUE(p.messages.empty());

    std::string messages;
    EXPECT_EQ(ChooseRunMode(ParseCommandLine(0, nullptr, messages)), RunMode::Run);
}

TEST(CommandLineScan, LastScriptNameWins)
{
    const Parsed p = parse({"a.htm", "b.htm"});
    EXPECT_EQ(p.mode, RunMode::Run);
    EXPECT_EQ(p.line.scriptName, "b.htm");
    EXPECT_EQ(parse({"-c", "x.htm", "-v", "y.htm"}).line.scriptName, "y.htm");
}

TEST(CommandLineScan, RunFlagFollowsTheLastOption)
{
    EXPECT_EQ(parse({"-c", "-r", "f"}).mode, RunMode::Run);
    EXPECT_EQ(parse({"-r", "-c", "f"}).mode, RunMode::Compile);
    EXPECT_EQ(parse({"f", "-s"}).mode, RunMode::Managed);
    EXPECT_EQ(parse({"-s", "-c", "f"}).mode, RunMode::Compile);
    EXPECT_EQ(parse({"-r", "f"}).mode, RunMode::Run);
    EXPECT_EQ(parse({"f"}).mode, RunMode::Run);
}

TEST(CommandLineScan, HelpAndVersionTakePrecedence)
{
    EXPECT_EQ(parse({"-v", "-c", "f"}).mode, RunMode::Version);
    EXPECT_EQ(parse({"-h", "-v"}).mode, RunMode::Usage);
    EXPECT_EQ(parse({"-v", "-?"}).mode, RunMode::Usage);
    EXPECT_EQ(parse({"-help"}).mode, RunMode::Usage);
    EXPECT_EQ(parse({"-c", "-v", "-r"}).mode, RunMode::Version);
}

TEST(CommandLineScan, UnknownOptions)
{
    const Parsed dash = parse({"--help"});
    EXPECT_EQ(dash.mode, RunMode::None);
    EXPECT_EQ(dash.messages, "tnscriptapp: error unknown option");

    const Parsed x = parse({"-x", "f"});
    EXPECT_EQ(x.mode, RunMode::None);
    EXPECT_EQ(x.line.scriptName, "f");

    // Whole, case-sensitive words only; each miss prints once, without a line end.
    const Parsed many = parse({"-", "-R", "-rc", "-H", "-c"});
    EXPECT_EQ(many.messages, std::string(kUnknownOptionMessage) + kUnknownOptionMessage + kUnknownOptionMessage +
                                 kUnknownOptionMessage);
    EXPECT_EQ(many.mode, RunMode::Compile);
}

TEST(CommandLineScan, NullEntriesAreSkipped)
{
    const char* argv[] = {"tnscriptapp", nullptr, "-c", nullptr, "page.htm"};
    std::string messages;
    const CommandLine line = ParseCommandLine(5, argv, messages);
    EXPECT_EQ(ChooseRunMode(line), RunMode::Compile);
    EXPECT_EQ(line.scriptName, "page.htm");
    EXPECT_TRUE(messages.empty());
}

TEST(CommandLineTexts, UsageVersionAndCompile)
{
    EXPECT_EQ(UsageText(), "\ntnscriptapp\nSyntax:\n    tnscriptapp -[rcvh] scriptfile\n    -c compile\n"
                           "    -v version and build date\n    -h Display this message\n");
    const std::regex stamp("tnscriptapp version 2\\.2\\.0 Compiled on "
                           "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3][0-9] [0-9]{4} "
                           "at [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\n");
    EXPECT_TRUE(std::regex_match(VersionText(), stamp)) << VersionText();
    EXPECT_EQ(CompileAnnouncementText("a b.htm"), "tnscriptapp: compile a b.htm\n");
}

TEST(CompiledNames, ExtensionReplaced)
{
    EXPECT_EQ(CompiledFileName("a/b.htm"), "a/b.ctn");
    EXPECT_EQ(CompiledFileName("prog"), "prog.ctn");
    EXPECT_EQ(CompiledFileName("noext"), "noext.ctn");
    EXPECT_EQ(CompiledFileName("a.b/c"), "a.ctn");
    EXPECT_EQ(CompiledFileName("x.tar.htm"), "x.tar.ctn");
    EXPECT_EQ(CompiledFileName("trailing."), "trailing.ctn");
    EXPECT_EQ(CompiledFileName(""), ".ctn");
}

TEST(CompiledNames, CompiledExtensionDetected)
{
    EXPECT_TRUE(HasCompiledExtension("x.ctn"));
    EXPECT_TRUE(HasCompiledExtension("X.CTN"));
    EXPECT_TRUE(HasCompiledExtension("dir/Page.Ctn"));
    EXPECT_FALSE(HasCompiledExtension("x.htm"));
    EXPECT_FALSE(HasCompiledExtension("noext"));
    EXPECT_FALSE(HasCompiledExtension("ctn"));
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

// A pipe whose write end the test controls.
struct Pipe
{
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe()
    {
        closeWrite();
        close(fds[0]);
    }
    void closeWrite()
    {
        if (fds[1] >= 0)
        {
            close(fds[1]);
            fds[1] = -1;
        }
    }
};

TEST(RequestBody, DataThenEndOfStream)
{
    Pipe p;
    std::string sent;
    for (int i = 0; i < 30000; ++i)
    {
        sent += static_cast<char>('a' + i % 23);
    }
    std::thread writer(
        [&]
        {
            // Two bursts with a pause between them, then end of stream.
            ASSERT_EQ(write(p.fds[1], sent.data(), 10000), 10000);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ASSERT_EQ(write(p.fds[1], sent.data() + 10000, sent.size() - 10000),
                      static_cast<ssize_t>(sent.size() - 10000));
            p.closeWrite();
        });
    ByteBuffer body;
    EXPECT_EQ(ReadRequestBody(p.fds[0], body, 5000), RC::OK);
    writer.join();
    EXPECT_TRUE(body.view() == sent);
}

TEST(RequestBody, EmptyStream)
{
    Pipe p;
    p.closeWrite();
    ByteBuffer body;
    body.append("stale");
    EXPECT_EQ(ReadRequestBody(p.fds[0], body, 1000), RC::OK);
    EXPECT_TRUE(body.empty());
}

TEST(RequestBody, StreamThatNeverEndsTimesOutEmpty)
{
    Pipe p;
    ASSERT_EQ(write(p.fds[1], "partial", 7), 7);
    ByteBuffer body;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadRequestBody(p.fds[0], body, 300), RC::TimedOut);
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GE(waited, 250);
    EXPECT_LT(waited, 1500);
    EXPECT_TRUE(body.empty());
}

TEST(RequestBody, TricklingWriterCannotExtendTheDeadline)
{
    Pipe p;
    std::atomic<bool> stop = false;
    std::thread writer(
        [&]
        {
            while (!stop)
            {
                if (write(p.fds[1], "x", 1) != 1)
                {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    ByteBuffer body;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadRequestBody(p.fds[0], body, 300), RC::TimedOut);
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    stop = true;
    writer.join();
    EXPECT_LT(waited, 1500);
    EXPECT_TRUE(body.empty());
}

TEST(RequestBody, BadDescriptor)
{
    ByteBuffer body;
    EXPECT_EQ(ReadRequestBody(-1, body, 200), RC::FileError);
    EXPECT_EQ(ReadRequestBody(987654, body, 200), RC::FileError);
    EXPECT_TRUE(body.empty());
}

} // namespace
} // namespace tn
