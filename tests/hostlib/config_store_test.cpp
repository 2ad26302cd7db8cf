// The configuration file: what parsing keeps, the normalising save, the error
// messages with their line count, and files that are missing, unwritable, or
// not text at all.
#include "hostlib/config_store.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <set>

namespace tn
{
namespace
{
using test::ScratchFolder;
using namespace std::string_literals;

// Every setting as "[context|value] name=value {comment}", joined with " | ".
std::string shown(const ConfigStore& store)
{
    std::string out;
    for (const ConfigSetting& s : store.settings())
    {
        if (!out.empty()) out += " | ";
        if (!s.context.empty()) out += "[" + s.context + "|" + s.contextValue + "] ";
        out += s.name + "=" + s.value;
        if (!s.comment.empty()) out += " {" + s.comment + "}";
    }
    return out;
}

std::string serialized(const ConfigStore& store)
{
    std::string out;
    store.serialize(out);
    return out;
}

std::set<std::string> entries(const ScratchFolder& folder)
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        names.insert(entry.path().filename().string());
    return names;
}

// Messy on purpose: LF and CR line ends, tabs, a context before the plain
// settings, the same context twice under two spellings, quotes, comments.
constexpr std::string_view kMessy =
    "# server settings\nTimeout\t30\n<Web \"main site\">\n\tPort   80\n# the docs\n"
    "\tRoot /var/www\n</WEB>\n  Name   demo  \n\n<db 'primary'>\rhost localhost\r</db>\r\n"
    "<web \"main site\">\nPort 8080\n</web>\nFlag";

constexpr std::string_view kNormalised = "# server settings\r\nTimeout 30\r\nName demo\r\nFlag \r\n"
                                         "\r\n<db primary>\r\n\thost localhost\r\n</db>\r\n"
                                         "\r\n<web main site>\r\n\tPort 80\r\n\r\n# the docs\r\n\tRoot /var/www\r\n"
                                         "\tPort 8080\r\n</web>\r\n";

// Saved through a link: the file it names is replaced and keeps its
// permissions, and the link stays.
TEST(ConfigStore, SavingALoadedFileNormalisesItAndReadsBackTheSame)
{
    ScratchFolder folder;
    const std::string real = folder.write("real.cfg", kMessy), path = folder.file("app.cfg");
    std::filesystem::create_symlink(real, path);
    chmod(real.c_str(), 0640);
    ConfigStore store;
    std::string message;
    ASSERT_EQ(store.load(path, message), ereturnvalue::OK) << message;
    EXPECT_FALSE(store.edited());
    EXPECT_EQ(serialized(store), kNormalised);

    store.append({"", "", "Extra"}, "1");
    EXPECT_TRUE(store.edited());
    ASSERT_EQ(store.save(path, message), ereturnvalue::OK);
    EXPECT_FALSE(store.edited());
    EXPECT_EQ(entries(folder), (std::set<std::string>{"app.cfg", "real.cfg"}));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    struct stat status;
    EXPECT_TRUE(stat(real.c_str(), &status) == 0 && (status.st_mode & 0777) == 0640);

    ConfigStore again;
    ASSERT_EQ(again.load(path, message), ereturnvalue::OK) << message;
    EXPECT_EQ(ScratchFolder::read(real), serialized(store));
    EXPECT_EQ(serialized(again), serialized(store));
}

TEST(ConfigStore, ParsingKeepsNamesValuesContextsAndComments)
{
    const struct
    {
        std::string text;
        std::string settings;
    } rows[] = {
        {"a 1\n<Web  'x y' >\nb 2\n</web>\nc 3", "a=1 | [web|x y] b=2 | c=3"},
        {"name\tvalue\twith  tabs \t", "name=value with  tabs"},
        {"lonely", "lonely="},
        {"# one\n  #two\n\nx 1\n# dropped: no setting follows", "x=1 {# one\r\n#two}"},
        {"<Web>text after the tag\nx 1", "[web|] x=1"},
        {"<a \"\">\nx 1\n<", "[a|] x=1"},
        {"a 1\rb 2\r\nc 3\n\r", "a=1 | b=2 | c=3"},
        {"a\0b c\0\nz"s, "a\0b=c\0 | z="s},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.text);
        ConfigStore store;
        std::string message;
        store.parse(row.text, message);
        EXPECT_EQ(shown(store), row.settings);
    }
}

// The line number is the count of lines read, not the line in error, and the
// last error wins; a context left open at the end is accepted.
TEST(ConfigStore, ErrorsNameTheLineCount)
{
    constexpr ereturnvalue OK = ereturnvalue::OK, Bad = ereturnvalue::ConfigError, Empty = ereturnvalue::Empty;
    const struct
    {
        std::string text;
        ereturnvalue code;
        std::string message;
    } rows[] = {
        {"<web\nx 1", Bad, "line: 2 - Invalid context definition"},
        {"x 1\n<>", Bad, "line: 2 - Invalid context definition"},
        // A blank first makes a tag without a name: "web" is its value.
        {"< web>\n</web>\nx 1", Bad, "line: 3 - Unexpected end of context found"},
        {"</web>\nx 1", Bad, "line: 2 - Unexpected end of context found"},
        {"<a>\n</b>\nx 1", Bad, "line: 3 - Unexpected end of context found"},
        {"<a>\n<b>\nx 1\n</a>", Bad, "line: 4 - Embedded context definitions not allowed"},
        {"<>\nx 1\n<a>\n</b>\n", Bad, "line: 4 - Unexpected end of context found"},
        {"x 1\r\r\r<>", Bad, "line: 4 - Invalid context definition"},
        {"<>", Bad, "line: 1 - Invalid context definition"},
        {"# c\n\n \t \r\n", Empty, "line: 3 - No settings found in configuration file"},
        {"", Empty, "line: 0 - No settings found in configuration file"},
        {"<a>\n</a>", Empty, "line: 2 - No settings found in configuration file"},
        {"<a>\nx 1", OK, "f: "},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.text);
        ConfigStore store;
        std::string message = "f: ";
        EXPECT_EQ(store.parse(row.text, message), row.code);
        EXPECT_EQ(message, row.code == OK ? row.message : "f: " + row.message);
    }
}

TEST(ConfigStore, LoadFailsWithoutAReadableFile)
{
    ScratchFolder folder;
    const std::string missing = folder.file("missing.cfg");
    const std::string directory = folder.path();
    const struct
    {
        std::string path;
        std::string message;
    } rows[] = {
        {"", "No configuration file was specified"},
        {missing, missing + ": Could not open configuration file"},
        {directory, directory + ": Could not open configuration file"},
    };
    for (const auto& row : rows)
    {
        ConfigStore store;
        std::string message = "earlier text";
        store.append({"", "", "x"}, "1");
        EXPECT_EQ(store.load(row.path, message), ereturnvalue::FileError);
        EXPECT_EQ(message, row.message);
        EXPECT_TRUE(store.settings().empty());
    }
}

// Permissions do not stop root, so the failures come from the paths: a folder
// that does not exist, a file where a folder should be, a folder in the
// target's place. Nothing is left behind.
TEST(ConfigStore, SaveFailsCleanlyWhereNoFileCanBeWritten)
{
    ScratchFolder folder;
    folder.write("plain", "not a folder");
    std::filesystem::create_directory(folder.file("taken"));
    const std::set<std::string> before = entries(folder);
    for (const char* name : {"missing/app.cfg", "plain/app.cfg", "taken", ""})
    {
        SCOPED_TRACE(name);
        ConfigStore store;
        store.append({"", "", "x"}, "1");
        std::string message = "earlier: ";
        EXPECT_EQ(store.save(*name ? folder.file(name) : "", message), ereturnvalue::FileError);
        EXPECT_EQ(message, "earlier: Could not write configuration file");
        EXPECT_TRUE(store.edited());
        EXPECT_EQ(entries(folder), before);
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder.file("taken")));
}

// A write that runs short (here: past the file size limit) leaves the old file.
TEST(ConfigStore, AShortWriteKeepsTheOldFile)
{
    ScratchFolder folder;
    const std::string path = folder.write("app.cfg", "old 1\n");
    ConfigStore store;
    store.append({"", "", "big"}, std::string(64 * 1024, 'v'));

    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{4096, limit.rlim_max};
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string message;
    const ereturnvalue result = store.save(path, message);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(result, ereturnvalue::FileError);
    EXPECT_EQ(message, "Could not write configuration file");
    EXPECT_EQ(ScratchFolder::read(path), "old 1\n");
    EXPECT_EQ(entries(folder), std::set<std::string>{"app.cfg"});
}

// Any bytes load without harm, in time linear in their size: a 10 MB line
// without a line end, thousands of comment and tag lines, and pseudo-random
// bytes, whose line count is checked against a plain count and whose settings
// all come back from the saved form.
TEST(ConfigStore, AnyBytesLoad)
{
    const std::string huge = "key " + std::string(10 * 1024 * 1024, 'v');
    ConfigStore store;
    std::string message;
    ASSERT_EQ(store.parse(huge, message), ereturnvalue::OK);
    ASSERT_EQ(store.settings().size(), 1u);
    EXPECT_EQ(store.settings()[0].value.size(), huge.size() - 4);
    EXPECT_EQ(serialized(store), huge + "\r\n");

    std::string comments;
    for (int i = 0; i < 200000; ++i)
        comments += "# c\n<>\n";
    comments += "x 1";
    ConfigStore commented;
    EXPECT_EQ(commented.parse(comments, message), ereturnvalue::ConfigError);
    ASSERT_EQ(commented.settings().size(), 1u);
    EXPECT_EQ(commented.settings()[0].comment.size(), 200000u * 5 - 2);

    uint32_t state = 12345;
    std::string noise(4 * 1024 * 1024, '\0');
    int64_t lines = 1; // the last byte below is not a line end
    for (char& c : noise)
        c = static_cast<char>((state = state * 1103515245u + 12345u) >> 23);
    noise.back() = 'x';
    for (size_t i = 0; i < noise.size(); ++i)
        lines += noise[i] == '\n' || (noise[i] == '\r' && noise[i + 1] != '\n');
    ConfigStore noisy, reread;
    message.clear();
    EXPECT_EQ(noisy.parse(noise, message), ereturnvalue::ConfigError);
    EXPECT_EQ(message.substr(0, message.find(" - ")), "line: " + std::to_string(lines));
    EXPECT_GT(noisy.settings().size(), 1000u);
    reread.parse(serialized(noisy), message);
    EXPECT_EQ(reread.settings().size(), noisy.settings().size());
}

TEST(ConfigStore, LineBreaksInsideFieldsAreWrittenAsBlanks)
{
    ConfigStore store;
    store.append({"Web", "a\nb", "x\ry"}, "1\r\n<evil>");
    EXPECT_EQ(serialized(store), "<web a b>\r\n\tx y 1  <evil>\r\n</web>\r\n");
}

} // namespace
} // namespace tn
