#include "host/script.h"

#include "host/compiled_file.h"
#include "host/script_files.h"
#include "vm/call_frame.h"
#include "vm/value.h"

#include <gtest/gtest.h>

#include <random>

namespace tn
{
namespace
{

using test::ScratchFolder;

constexpr std::string_view kHeader = "Content-type: text/html\n\n";

std::string ErrorPage(std::string_view message)
{
    return std::string("Content-type: text/html\n\n<HTML>\n<HEAD>\n<TITLE>Tarnwell</TITLE>\n</HEAD>\n"
                       "<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#000000\" LINK=\"#800080\" VLINK=\"#800080\" "
                       "ALINK=\"#FF0000\">\n") +
           std::string(message) + "\n</BODY>\n</HTML>";
}

std::string OutputOf(Script& script)
{
    return std::string(script.output().view());
}

// Runs [path] as the command line would and returns the response.
std::string RunPage(const std::string& path, ereturnvalue* result = nullptr)
{
    Script script;
    script.setPath(path);
    const ereturnvalue rc = script.run();
    if (result)
    {
        *result = rc;
    }
    return OutputOf(script);
}

TEST(ScriptStateTest, DisplayNamesCoverEveryStateAndNothingElse)
{
    const char* expected[] = {"Created",      "Loaded",   "Running",      "Waiting", "LoadError",
                              "CompileError", "Complete", "RuntimeError", "Killed"};
    for (int32_t i = 0; i < 9; ++i)
    {
        EXPECT_STREQ(ScriptStateName(i), expected[i]);
    }
    EXPECT_STREQ(ScriptStateName(-1), "Error");
    EXPECT_STREQ(ScriptStateName(9), "Error");
}

TEST(ScriptTest, ConstructionTakesAFreshIdAndOnlyModeOne)
{
    Script first;
    Script second;
    EXPECT_GT(first.id(), 0);
    EXPECT_GT(second.id(), first.id());
    EXPECT_EQ(first.state(), ScriptState::Created);
    EXPECT_EQ(first.errorMessage(), "Script Error");
    EXPECT_THROW(Script(2), ereturnvalue);
    EXPECT_THROW(Script(0), ereturnvalue);
}

TEST(ScriptTest, EnvironmentNamesAreLowerCaseAndEmptyValuesRemove)
{
    Script script;
    script.setEnvironmentVariable("Query_STRING", "a=1");
    ASSERT_NE(script.environmentVariable("QUERY_string"), nullptr);
    EXPECT_EQ(*script.environmentVariable("query_string"), "a=1");
    EXPECT_EQ(script.environment().begin()->first, "query_string");
    script.setEnvironmentVariable("QUERY_STRING", "");
    EXPECT_EQ(script.environmentVariable("query_string"), nullptr);
    EXPECT_TRUE(script.environment().empty());
}

// ---- finding the file ----

class FindScriptFileTest : public ::testing::Test
{
  protected:
    ScratchFolder folder;
    std::string actual;
    int64_t size = -1;
};

TEST_F(FindScriptFileTest, StatusOfMissingFilesFilesAndFolders)
{
    EXPECT_EQ(Script::FindScriptFile("", actual, size), ScriptFileStatus::NotFound);
    EXPECT_EQ(Script::FindScriptFile(folder.file("none.htm"), actual, size), ScriptFileStatus::NotFound);
    EXPECT_EQ(Script::FindScriptFile(folder.path(), actual, size), ScriptFileStatus::Directory);
    const std::string page = folder.write("p.htm", "12345");
    EXPECT_EQ(Script::FindScriptFile(page, actual, size), ScriptFileStatus::RegularFile);
    EXPECT_EQ(actual, page);
    EXPECT_EQ(size, 5);
}

TEST_F(FindScriptFileTest, CompiledSiblingWinsWhenAtLeastAsNew)
{
    const std::string page = folder.write("p.htm", "source");
    const std::string sibling = folder.write("p.ctn", "compiled!");
    ScratchFolder::touch(page, 1000000);
    ScratchFolder::touch(sibling, 1000001);
    EXPECT_EQ(Script::FindScriptFile(page, actual, size), ScriptFileStatus::RegularFile);
    EXPECT_EQ(actual, sibling);
    EXPECT_EQ(size, 9);

    ScratchFolder::touch(sibling, 1000000); // equal times choose the sibling
    Script::FindScriptFile(page, actual, size);
    EXPECT_EQ(actual, sibling);

    ScratchFolder::touch(sibling, 999999);
    Script::FindScriptFile(page, actual, size);
    EXPECT_EQ(actual, page);
    EXPECT_EQ(size, 6);
}

TEST_F(FindScriptFileTest, SiblingStandsInForAMissingSourceButNeedsAnExtension)
{
    const std::string sibling = folder.write("q.ctn", "x");
    EXPECT_EQ(Script::FindScriptFile(folder.file("q.htm"), actual, size), ScriptFileStatus::RegularFile);
    EXPECT_EQ(actual, sibling);
    // Upper-case ctn is the compiled extension itself: no sibling lookup.
    EXPECT_EQ(Script::FindScriptFile(folder.file("q.CTN"), actual, size), ScriptFileStatus::NotFound);
    // No extension, or a dot only in a folder name: no sibling.
    EXPECT_EQ(Script::FindScriptFile(folder.file("q"), actual, size), ScriptFileStatus::NotFound);
    EXPECT_EQ(Script::FindScriptFile(folder.file("q."), actual, size), ScriptFileStatus::NotFound);
    ::mkdir(folder.file("d.x").c_str(), 0755);
    folder.write("d.ctn", "x");
    EXPECT_EQ(Script::FindScriptFile(folder.file("d.x/page"), actual, size), ScriptFileStatus::NotFound);
}

// ---- the failure table ----

struct LoadFailure
{
    ereturnvalue result;
    std::string message;
    ScriptState state;
    std::string output;
};

LoadFailure LoadOf(const std::string& path)
{
    Script script;
    script.setPath(path);
    LoadFailure f;
    f.result = script.load();
    f.message = script.errorMessage();
    f.state = script.state();
    f.output = OutputOf(script);
    return f;
}

TEST(ScriptFailureTest, RowsOfTheLoadFailureTable)
{
    ScratchFolder folder;
    LoadFailure f = LoadOf("");
    EXPECT_EQ(f.result, ereturnvalue::NotFound);
    EXPECT_EQ(f.message, "Script not specified");
    EXPECT_EQ(f.state, ScriptState::LoadError);
    EXPECT_EQ(f.output, "");

    const std::string missing = folder.file("missing.htm");
    f = LoadOf(missing);
    EXPECT_EQ(f.result, ereturnvalue::NotFound);
    EXPECT_EQ(f.message, "Script not found: " + missing);
    EXPECT_EQ(f.state, ScriptState::LoadError);
    EXPECT_EQ(f.output, "");

    f = LoadOf(folder.path());
    EXPECT_EQ(f.result, ereturnvalue::NotFound);
    EXPECT_EQ(f.message, "Script not found: " + folder.path());

    const std::string empty = folder.write("empty.htm", "");
    f = LoadOf(empty);
    EXPECT_EQ(f.result, ereturnvalue::Empty);
    EXPECT_EQ(f.message, "Empty script: " + empty);
    EXPECT_EQ(f.state, ScriptState::LoadError);
    EXPECT_EQ(f.output, kHeader);

    const std::string nul = folder.write("nul.htm", std::string_view("\0", 1));
    f = LoadOf(nul);
    EXPECT_EQ(f.result, ereturnvalue::NotFound);
    EXPECT_EQ(f.message, "Empty Script: " + nul);
    EXPECT_EQ(f.state, ScriptState::CompileError);
    EXPECT_EQ(f.output, "");

    // No code block: the header alone, no page.
    f = LoadOf(folder.write("plain.htm", "just text\n"));
    EXPECT_EQ(f.result, ereturnvalue::Empty);
    EXPECT_EQ(f.message, "Script Error");
    EXPECT_EQ(f.state, ScriptState::CompileError);
    EXPECT_EQ(f.output, kHeader);

    f = LoadOf(folder.write("bad.ctn", "wtnCompiledScript\n2.2.0\nbad.ctn\nnow\n1\n"));
    EXPECT_EQ(f.result, ereturnvalue::InvalidInput);
    EXPECT_EQ(f.message, "Invalid compiled script");
    EXPECT_EQ(f.state, ScriptState::CompileError);
    EXPECT_EQ(f.output, ErrorPage("Invalid compiled script"));
}

TEST(ScriptFailureTest, LoadTwiceAndCompilingACompiledFileAreRefused)
{
    ScratchFolder folder;
    Script script;
    script.setPath(folder.write("p.htm", "<?tnl ; ?>"));
    EXPECT_EQ(script.load(), ereturnvalue::OK);
    EXPECT_EQ(script.state(), ScriptState::Loaded);
    EXPECT_THROW(script.load(), ereturnvalue);
    EXPECT_EQ(script.state(), ScriptState::Loaded);

    Script compiledAgain;
    compiledAgain.setPath(folder.write("x.htm", "wtnCompiledScript\nanything"));
    EXPECT_EQ(compiledAgain.compileOnly(), ereturnvalue::NotFound);
    EXPECT_EQ(compiledAgain.errorMessage(), "Script already compiled");
    EXPECT_EQ(compiledAgain.state(), ScriptState::Created);
    EXPECT_EQ(OutputOf(compiledAgain), "");
}

// ---- running source pages ----

TEST(ScriptRunTest, CloseTagEndsTheBlockEvenInsideAString)
{
    ScratchFolder folder;
    const std::string page = folder.write("p.htm", "A<?tnl print(1); ?>B<?TNL print(\"?>\"); ?>C\n");
    Script script;
    script.setPath(page);
    // The close tag inside the string still closes the block, which then
    // fails to compile; the rest of the statement is literal text.
    EXPECT_EQ(script.run(), ereturnvalue::Reject);
    EXPECT_EQ(script.state(), ScriptState::CompileError);
    ASSERT_EQ(script.codeBlocks().size(), 2u);
    EXPECT_EQ(script.codeBlocks()[0]->line, 1);
    EXPECT_EQ(script.codeBlocks()[1]->code, " print(\"");
    EXPECT_EQ(script.literalSegments().back(), "\"); ?>C\n");
}

TEST(ScriptRunTest, BlocksRunInOrderAndAPageWithoutHeaderGetsTheDefault)
{
    ScratchFolder folder;
    EXPECT_EQ(RunPage(folder.write("p.htm", "A<?tnl print(1); ?>B<?tnl print(2, 3); ?>C")),
              std::string(kHeader) + "A1B23C");
}

TEST(ScriptRunTest, TrailingNulOfASourceFileIsDropped)
{
    ScratchFolder folder;
    EXPECT_EQ(RunPage(folder.write("p.htm", std::string_view("<?tnl print(1); ?>x\0", 20))),
              std::string(kHeader) + "1x");
}

TEST(ScriptRunTest, RuntimeErrorStandsAtTheLastBlockAndEarlierOutputIsDropped)
{
    ScratchFolder folder;
    const std::string page =
        folder.write("p.htm", "A<?tnl print(\"x\"); ?>B<?tnl\nprint(\"y\");\necho(); ?>C<?tnl ; ?>D");
    Script script;
    script.setPath(page);
    EXPECT_EQ(script.run(), ereturnvalue::OK);
    EXPECT_EQ(script.state(), ScriptState::RuntimeError);
    const std::string error =
        "Runtime Error: Invalid call to echo. Expecting a minimum of 1 arguments, 0 were provided, on line 3 of " +
        page;
    EXPECT_EQ(OutputOf(script), std::string(kHeader) + "ABC" + error + "D");
}

TEST(ScriptRunTest, YieldInASynchronousRunIsNotAnError)
{
    ScratchFolder folder;
    ereturnvalue rc;
    EXPECT_EQ(RunPage(folder.write("p.htm", "A<?tnl print(1); yield(); print(2); ?>B<?tnl print(3); ?>"), &rc),
              std::string(kHeader) + "A1B");
    EXPECT_EQ(rc, ereturnvalue::OK);
}

TEST(ScriptRunTest, CompileErrorStandsInTheFailingBlockAndLaterBlocksStayEmpty)
{
    ScratchFolder folder;
    const std::string page = folder.write("p.htm", "A<?tnl print(1); ?>B\n<?tnl\n break; ?>C<?tnl print(3); ?>D");
    Script script;
    script.setPath(page);
    EXPECT_EQ(script.run(), ereturnvalue::Reject);
    EXPECT_EQ(script.state(), ScriptState::CompileError);
    const std::string framed =
        "<b>Compilation error</b>: &acute;{7} misplaced break&acute; in <b>" + page + "</b> on line <b>3</b><br>\n";
    EXPECT_EQ(OutputOf(script), std::string(kHeader) + "AB\n" + framed + "CD");

    ByteBuffer messages;
    script.errorMessages(messages);
    EXPECT_EQ(messages.view(), framed);
}

TEST(ScriptRunTest, RequestReachesTheScriptEnvironment)
{
    ScratchFolder folder;
    const std::string page =
        folder.write("p.htm", "<?tnl print(envvar(\"a\"), \"/\", envvar(\"b\"), \"/\", envvar(\"c\")); ?>");
    Script script;
    script.setCgi(true);
    script.setEnvironmentVariable("PATH_TRANSLATED", page);
    script.setEnvironmentVariable("QUERY_STRING", "a=query&b=query");
    script.requestBody().append("b=body&c=body");
    EXPECT_EQ(script.run(), ereturnvalue::OK);
    EXPECT_EQ(script.path(), page);
    EXPECT_EQ(OutputOf(script), std::string(kHeader) + "query/query/body");
}

// ---- compiled files through the Script ----

class CompiledScriptTest : public ::testing::Test
{
  protected:
    // Compiles [source] as compile mode does and returns the compiled path.
    std::string compile(std::string_view name, std::string_view source)
    {
        const std::string page = folder.write(name, source);
        Script script;
        script.setPath(page);
        script.engine().setHtmlFormatting(false);
        EXPECT_EQ(script.compileOnly(), ereturnvalue::OK);
        const std::string target = page.substr(0, page.rfind('.')) + ".ctn";
        EXPECT_EQ(script.saveCompiled(target), ereturnvalue::OK);
        std::remove(page.c_str());
        return target;
    }

    ScratchFolder folder;
};

TEST_F(CompiledScriptTest, RoundTripGivesTheSamePageAndHidesTheLiterals)
{
    const std::string source = "<h1>Title</h1><?tnl print(\"one\"); ?>\n<p>middle</p><?tnl print(2 + 3); ?>end";
    const std::string expected = RunPage(folder.write("ref.htm", source));
    const std::string compiled = compile("page.htm", source);
    const std::string file = ScratchFolder::read(compiled);
    EXPECT_TRUE(IsCompiledFile(file));
    EXPECT_EQ(file.find("<h1>Title</h1>"), std::string::npos);
    EXPECT_NE(file.find("\npage.ctn\n"), std::string::npos);

    Script script;
    script.setPath(compiled);
    EXPECT_EQ(script.run(), ereturnvalue::OK);
    EXPECT_TRUE(script.isCompiled());
    EXPECT_EQ(OutputOf(script), expected);
    EXPECT_EQ(expected, std::string(kHeader) + "<h1>Title</h1>one\n<p>middle</p>5end");
}

TEST_F(CompiledScriptTest, SourceNameRunsTheNewerCompiledSibling)
{
    const std::string compiled = compile("s.htm", "<?tnl print(\"compiled\"); ?>");
    const std::string source = folder.write("s.htm", "<?tnl print(\"source\"); ?>");
    ScratchFolder::touch(source, 1000000);
    EXPECT_EQ(RunPage(source), std::string(kHeader) + "compiled");
    ScratchFolder::touch(compiled, 999999);
    EXPECT_EQ(RunPage(source), std::string(kHeader) + "source");
}

TEST_F(CompiledScriptTest, RunFailureOfACompiledPageShowsTheErrorPage)
{
    const std::string compiled = compile("e.htm", "A<?tnl print(1); ?>B<?tnl\n\necho(); ?>C");
    ereturnvalue rc;
    const std::string output = RunPage(compiled, &rc);
    EXPECT_EQ(rc, ereturnvalue::RuntimeError);
    EXPECT_EQ(output, ErrorPage("Runtime Error: Invalid call to echo. Expecting a minimum of 1 arguments, 0 were "
                                "provided, on line 3 of " +
                                folder.file("e.htm")));
}

TEST_F(CompiledScriptTest, YieldInACompiledPageIsNotAnError)
{
    const std::string compiled = compile("y.htm", "A<?tnl print(1); yield(); ?>B");
    EXPECT_EQ(RunPage(compiled), std::string(kHeader) + "A1B");
}

TEST_F(CompiledScriptTest, SaveToAnUnwritablePlaceFails)
{
    const std::string page = folder.write("w.htm", "<?tnl ; ?>");
    Script script;
    script.setPath(page);
    ASSERT_EQ(script.compileOnly(), ereturnvalue::OK);
    const std::string target = folder.file("no/such/dir/w.ctn");
    EXPECT_EQ(script.saveCompiled(target), ereturnvalue::FileError);
    EXPECT_EQ(script.errorMessage(), "Error reading script" + target);
}

// Any bytes after a valid header, and any cut of the file, end in an error
// or a run, never a crash. Runs go in slices so a looping image stays bounded.
TEST_F(CompiledScriptTest, HostileCompiledFilesNeverCrash)
{
    const std::string good = ScratchFolder::read(
        compile("h.htm", "a<?tnl function f($x) { return $x . \"!\"; } print(f(1)); ?>b<?tnl $i = 0; while ($i < 3) "
                         "{ print($i); $i++; } ?>c"));
    ASSERT_FALSE(good.empty());
    const size_t bodyStart = good.find("\n\n") + 2;
    std::mt19937 random(12345);
    int loaded = 0;
    for (int round = 0; round < 400; ++round)
    {
        std::string file = good;
        if (round % 4 == 3)
        {
            file.resize(random() % file.size());
        }
        else
        {
            const int flips = 1 + static_cast<int>(random() % 4);
            for (int i = 0; i < flips; ++i)
            {
                const size_t at =
                    round % 4 == 0 ? random() % file.size() : bodyStart + random() % (file.size() - bodyStart);
                file[at] = static_cast<char>(random());
            }
        }
        const std::string path = folder.write("fuzz.ctn", file);
        Script script;
        script.setPath(path);
        const ereturnvalue rc = script.load();
        const std::string output = OutputOf(script);
        if (rc != ereturnvalue::OK)
        {
            if (rc != ereturnvalue::NotFound && rc != ereturnvalue::Empty && script.isCompiled())
            {
                EXPECT_EQ(output, ErrorPage("Invalid compiled script")) << round;
            }
            continue;
        }
        ++loaded;
        for (int slice = 0;
             slice < 20 && (script.state() == ScriptState::Loaded || script.state() == ScriptState::Running ||
                            script.state() == ScriptState::Waiting);
             ++slice)
        {
            script.runSlice(5000);
        }
        if (script.state() == ScriptState::Complete || script.state() == ScriptState::RuntimeError)
        {
            EXPECT_EQ(OutputOf(script).substr(0, kHeader.size()), kHeader) << round;
        }
    }
    EXPECT_GT(loaded, 0);
}

// ---- response state set by host functions ----

// A machine with three extra functions that shape the response the way the
// web response functions do.
class ResponseMachine : public VirtualMachine
{
  public:
    static constexpr int32_t kHeader = -30001;
    static constexpr int32_t kSuppress = -30002;
    static constexpr int32_t kReplace = -30003;
    static constexpr int32_t kHttpError = -30004;

    explicit ResponseMachine(ResponseState& response) : response_(response) {}

    void registerFunctions(FunctionRegistry& registry) override
    {
        VirtualMachine::registerFunctions(registry);
        registry.registerSystemFunction("testheader", kHeader);
        registry.registerSystemFunction("testsuppress", kSuppress);
        registry.registerSystemFunction("testreplace", kReplace);
        registry.registerSystemFunction("testhttperror", kHttpError);
    }
    void describeParameters(int32_t id, CallFrame& frame, int32_t& declared) override
    {
        if (id <= kHeader && id >= kHttpError)
        {
            declared = -1;
            return;
        }
        VirtualMachine::describeParameters(id, frame, declared);
    }
    ereturnvalue dispatch(int32_t id, CallFrame& frame, int32_t argc, Value& result) override
    {
        switch (id)
        {
        case kHeader:
            response_.headerText += "X-Test: yes\n";
            return ereturnvalue::OK;
        case kSuppress:
            response_.pageSuppressed = true;
            return ereturnvalue::OK;
        case kReplace:
            response_.replacementPage = "replaced";
            return ereturnvalue::OK;
        case kHttpError:
            response_.headerText = "SpecialError: 404\n";
            response_.pageSuppressed = true;
            response_.runResult = ereturnvalue::SpecialError;
            setStop();
            return ereturnvalue::OK;
        default:
            return VirtualMachine::dispatch(id, frame, argc, result);
        }
    }

  private:
    ResponseState& response_;
};

class ResponseEngine : public ScriptEngine
{
  protected:
    std::unique_ptr<VirtualMachine> createMachine() override { return std::make_unique<ResponseMachine>(response()); }
};

class ResponseStateTest : public ::testing::Test
{
  protected:
    std::string run(std::string_view source, ereturnvalue* result = nullptr)
    {
        Script script(Script::kSupportedMode, std::make_unique<ResponseEngine>());
        script.setPath(folder.write("r.htm", source));
        const ereturnvalue rc = script.run();
        if (result)
        {
            *result = rc;
        }
        return OutputOf(script);
    }
    ScratchFolder folder;
};

TEST_F(ResponseStateTest, HeaderLinesReplaceTheDefaultHeader)
{
    EXPECT_EQ(run("a<?tnl testheader(); testheader(); ?>b"), "X-Test: yes\nX-Test: yes\n\nab");
}

TEST_F(ResponseStateTest, SuppressedPageWinsOverAReplacement)
{
    EXPECT_EQ(run("a<?tnl testreplace(); ?>b"), std::string(kHeader) + "replaced");
    EXPECT_EQ(run("a<?tnl testreplace(); testsuppress(); ?>b"), kHeader);
}

TEST_F(ResponseStateTest, HttpErrorEndsTheRunWithSpecialError)
{
    ereturnvalue rc;
    EXPECT_EQ(run("a<?tnl testhttperror(); print(\"never\"); ?>b", &rc), "SpecialError: 404\n\n");
    EXPECT_EQ(rc, ereturnvalue::SpecialError);
}

} // namespace
} // namespace tn
