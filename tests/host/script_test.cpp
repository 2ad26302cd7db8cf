// The golden pages cover the responses of whole runs; these cases cover the
// Script's own results, states and messages, and what no page can set up.
#include "host/script.h"
#include "hostlib/host_functions.h"

#include "host/compiled_file.h"
#include "support/scratch_folder.h"
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
constexpr std::string_view kInvalidCompiledPage =
    "Content-type: text/html\n\n<HTML>\n<HEAD>\n<TITLE>Tarnwell</TITLE>\n</HEAD>\n<BODY BGCOLOR=\"#FFFFFF\" "
    "TEXT=\"#000000\" LINK=\"#800080\" VLINK=\"#800080\" ALINK=\"#FF0000\">\nInvalid compiled script\n</BODY>\n</HTML>";

std::string OutputOf(Script& script)
{
    return std::string(script.output().view());
}

TEST(ScriptTest, IdsModeAndEnvironment)
{
    Script first;
    Script second;
    EXPECT_GT(first.id(), 0);
    EXPECT_GT(second.id(), first.id());
    EXPECT_EQ(first.state(), ScriptState::Created);
    EXPECT_EQ(first.errorMessage(), "Script Error");
    EXPECT_THROW(Script(2), ereturnvalue);
    EXPECT_THROW(Script(0), ereturnvalue);

    // Names are lower-cased when stored and looked up; an empty value removes.
    first.setEnvironmentVariable("Query_STRING", "a=1");
    ASSERT_NE(first.environmentVariable("QUERY_string"), nullptr);
    EXPECT_EQ(*first.environmentVariable("QUERY_string"), "a=1");
    EXPECT_EQ(first.environment().begin()->first, "query_string");
    first.setEnvironmentVariable("QUERY_STRING", "");
    EXPECT_EQ(first.environmentVariable("query_string"), nullptr);
    EXPECT_TRUE(first.environment().empty());
}

class ScriptFileTest : public ::testing::Test
{
  protected:
    ScriptFileStatus find(const std::string& path) { return Script::FindScriptFile(path, actual, size); }

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
    std::string actual;
    int64_t size = -1;
};

TEST_F(ScriptFileTest, StatusOfMissingFilesFilesAndFolders)
{
    EXPECT_EQ(find(""), ScriptFileStatus::NotFound);
    EXPECT_EQ(find(folder.file("none.htm")), ScriptFileStatus::NotFound);
    EXPECT_EQ(find(folder.path()), ScriptFileStatus::Directory);
    const std::string page = folder.write("p.htm", "12345");
    EXPECT_EQ(find(page), ScriptFileStatus::RegularFile);
    EXPECT_EQ(actual, page);
    EXPECT_EQ(size, 5);
}

// A run, unlike a compile, looks for the compiled sibling.
TEST_F(ScriptFileTest, CompiledSiblingWinsWhenAtLeastAsNew)
{
    const std::string sibling = compile("p.htm", "<?tnl print(\"compiled\"); ?>");
    const std::string page = folder.write("p.htm", "<?tnl print(\"source\"); ?>");
    ScratchFolder::touch(page, 1000000);
    for (const long siblingTime : {1000001L, 1000000L, 999999L})
    {
        SCOPED_TRACE(siblingTime);
        ScratchFolder::touch(sibling, siblingTime);
        const bool older = siblingTime < 1000000;
        EXPECT_EQ(find(page), ScriptFileStatus::RegularFile);
        EXPECT_EQ(actual, older ? page : sibling);
        EXPECT_EQ(size, std::ssize(ScratchFolder::read(actual)));
        Script script;
        script.setPath(page);
        script.run();
        EXPECT_EQ(OutputOf(script), std::string(kHeader) + (older ? "source" : "compiled"));
    }

    // A sibling stands in for a missing source, but only one with an extension.
    const std::string other = folder.write("q.ctn", "x");
    EXPECT_EQ(find(folder.file("q.htm")), ScriptFileStatus::RegularFile);
    EXPECT_EQ(actual, other);
    ::mkdir(folder.file("d.x").c_str(), 0755);
    folder.write("d.ctn", "x");
    // Upper-case ctn is the compiled extension itself; a dot only in a folder name is no extension.
    for (const char* name : {"q.CTN", "q", "q.", "d.x/page"})
        EXPECT_EQ(find(folder.file(name)), ScriptFileStatus::NotFound) << name;
}

TEST(ScriptLoadTest, ResultsMessagesAndStates)
{
    ScratchFolder folder;
    const std::string missing = folder.file("missing.htm");
    const std::string empty = folder.write("empty.htm", "");
    const std::string nul = folder.write("nul.htm", std::string_view("\0", 1));
    const struct
    {
        std::string path;
        ereturnvalue result;
        std::string message;
        ScriptState state;
        std::string output;
    } rows[] = {
        {"", ereturnvalue::NotFound, "Script not specified", ScriptState::LoadError, ""},
        {missing, ereturnvalue::NotFound, "Script not found: " + missing, ScriptState::LoadError, ""},
        {folder.path(), ereturnvalue::NotFound, "Script not found: " + folder.path(), ScriptState::LoadError, ""},
        {empty, ereturnvalue::Empty, "Empty script: " + empty, ScriptState::LoadError, std::string(kHeader)},
        {nul, ereturnvalue::NotFound, "Empty Script: " + nul, ScriptState::CompileError, ""},
        // No code block: the header alone, no page.
        {folder.write("plain.htm", "just text\n"), ereturnvalue::Empty, "Script Error", ScriptState::CompileError,
         std::string(kHeader)},
        {folder.write("bad.ctn", "wtnCompiledScript\n2.2.0\nbad.ctn\nnow\n1\n"), ereturnvalue::InvalidInput,
         "Invalid compiled script", ScriptState::CompileError, std::string(kInvalidCompiledPage)},
        // Loaded once, a script refuses a second load.
        {folder.write("p.htm", "<?tnl ; ?>"), ereturnvalue::OK, "Script Error", ScriptState::Loaded, ""},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.path);
        Script script;
        script.setPath(row.path);
        EXPECT_EQ(script.load(), row.result);
        EXPECT_EQ(script.errorMessage(), row.message);
        EXPECT_EQ(script.state(), row.state);
        EXPECT_EQ(OutputOf(script), row.output);
        if (row.result != ereturnvalue::OK) continue;
        EXPECT_THROW(script.load(), ereturnvalue);
        EXPECT_EQ(script.state(), ScriptState::Loaded);
    }
}

TEST(ScriptRunTest, ResultsStatesAndPages)
{
    ScratchFolder folder;
    const std::string path = folder.file("p.htm");
    const std::string header(kHeader), framed = "<b>Compilation error</b>: &acute;{7} misplaced break&acute; in <b>" +
                                                path + "</b> on line <b>3</b><br>\n";
    const struct
    {
        std::string source;
        ereturnvalue result;
        ScriptState state;
        std::string output;
    } rows[] = {
        // A trailing NUL of a source file is dropped.
        {std::string("<?tnl print(1); ?>x\0", 20), ereturnvalue::OK, ScriptState::Complete, header + "1x"},
        {"A<?tnl print(\"x\"); ?>B<?tnl\nprint(\"y\");\necho(); ?>C<?tnl ; ?>D", ereturnvalue::OK,
         ScriptState::RuntimeError,
         header +
             "ABCRuntime Error: Invalid call to echo. "
             "Expecting a minimum of 1 arguments, 0 were provided, on line 3 of " +
             path + "D"},
        {"A<?tnl print(1); ?>B\n<?tnl\n break; ?>C<?tnl print(3); ?>D", ereturnvalue::Reject, ScriptState::CompileError,
         header + "AB\n" + framed + "CD"},
        // Header lines replace the default header; a repeated line is kept. (The
        // other response functions are in the response_* golden pages.)
        {"a<?tnl header(\"X-Test: yes\"); header(\"X-Test: yes\"); ?>b", ereturnvalue::OK, ScriptState::Complete,
         "X-Test: yes\nX-Test: yes\n\nab"},
        // A suppressed page wins over a replacement.
        {"a<?tnl erroroutput(\"replaced\"); surpressbody(); ?>b", ereturnvalue::OK, ScriptState::Complete, header},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.source);
        folder.write("p.htm", row.source);
        Script script;
        script.setPath(path);
        EXPECT_EQ(script.run(), row.result);
        EXPECT_EQ(script.state(), row.state);
        EXPECT_EQ(OutputOf(script), row.output);
        ByteBuffer messages;
        script.errorMessages(messages);
        EXPECT_EQ(messages.view(), row.result == ereturnvalue::Reject ? framed : "");
    }
}

TEST_F(ScriptFileTest, SaveToAnUnwritablePlaceFails)
{
    Script script;
    script.setPath(folder.write("w.htm", "<?tnl ; ?>"));
    ASSERT_EQ(script.compileOnly(), ereturnvalue::OK);
    const std::string target = folder.file("no/such/dir/w.ctn");
    EXPECT_EQ(script.saveCompiled(target), ereturnvalue::FileError);
    EXPECT_EQ(script.errorMessage(), "Error reading script" + target);
}

// Flipped bytes anywhere or in the body, and cuts of the file, end in an
// error page or a run, never a crash. Runs go in slices so a looping image
// stays bounded.
TEST_F(ScriptFileTest, HostileCompiledFilesNeverCrash)
{
    const std::string good = ScratchFolder::read(
        compile("h.htm", "a<?tnl function f($x) { return $x . \"!\"; } print(f(1)); ?>b<?tnl $i = 0; while ($i < 3) "
                         "{ print($i); $i++; } ?>c"));
    ASSERT_FALSE(good.empty());
    const size_t bodyStart = good.find("\n\n") + 2;
    std::mt19937 random(12345);
    int loaded = 0;
    for (int round = 0; round < 200; ++round)
    {
        std::string file = good;
        if (round % 4 == 3)
            file.resize(random() % file.size());
        else
            for (int i = 0, flips = 1 + static_cast<int>(random() % 4); i < flips; ++i)
            {
                const size_t from = round % 4 == 0 ? 0 : bodyStart;
                file[from + random() % (file.size() - from)] = static_cast<char>(random());
            }
        Script script;
        script.setPath(folder.write("fuzz.ctn", file));
        const ereturnvalue rc = script.load();
        if (rc != ereturnvalue::OK)
        {
            if (rc != ereturnvalue::NotFound && rc != ereturnvalue::Empty && script.isCompiled())
            {
                EXPECT_EQ(OutputOf(script), kInvalidCompiledPage) << round;
            }
            continue;
        }
        ++loaded;
        for (int slice = 0;
             slice < 20 && (script.state() == ScriptState::Loaded || script.state() == ScriptState::Running ||
                            script.state() == ScriptState::Waiting);
             ++slice)
            script.runSlice(5000);
        if (script.state() == ScriptState::Complete || script.state() == ScriptState::RuntimeError)
        {
            EXPECT_EQ(OutputOf(script).substr(0, kHeader.size()), kHeader) << round;
        }
    }
    EXPECT_GT(loaded, 0);
}

// A file the script leaves open is written out when its run ends, even when
// it ends in an error, while the script object lives on.
TEST(ScriptRunTest, FilesLeftOpenAreClosedWhenTheRunEnds)
{
    ScratchFolder folder;
    const std::string written = folder.file("out.txt");
    const std::string page =
        folder.write("w.htm", "<?tnl $h = openfilecreate(\"" + written + "\"); filewrite($h, \"kept\"); echo(); ?>");
    for (const bool sliced : {false, true})
    {
        SCOPED_TRACE(sliced);
        std::remove(written.c_str());
        Script script;
        script.setPath(page);
        if (!sliced)
            script.run();
        else if (script.load() == ereturnvalue::OK)
            script.runSlice(1000);
        EXPECT_EQ(script.state(), ScriptState::RuntimeError);
        EXPECT_EQ(ScratchFolder::read(written), "kept");
    }
}

} // namespace
} // namespace tn
