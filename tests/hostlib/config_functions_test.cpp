// The configuration functions as scripts call them, on a store loaded from a
// file in a scratch folder: reads, changes, the saved result, and the
// argument counts of every row.
#include "compiler/compile_run.h"
#include "hostlib/config_manager.h"
#include "support/call_function.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <map>

namespace tn
{
namespace
{
using namespace tn::test;

constexpr std::string_view kStore =
    "# main settings\nTimeout 30\nAlias www \"/var/www root\"\nAlias img /images\n"
    "<Web \"Main Site\">\n\tPort 80\n\tPort 8080\n\tIndex \"home page.htm\" first\n</web>\n"
    "<web backup>\n\tPort 81\n</web>\n";

// Each test loads its own file and leaves no store behind for the next.
class ConfigFunctions : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        path_ = folder_.write("app.cfg", kStore);
        ConfigManager::instance().setPath(path_);
        ConfigManager::instance().reload();
    }
    void TearDown() override
    {
        ConfigManager::instance().setPath("");
        ConfigManager::instance().reload();
    }

    ScratchFolder folder_;
    std::string path_;
};

struct Step
{
    const char* code; // statements that print one line through p()
    const char* line;
};

// Runs the steps as one page, so each sees the changes before it, and
// compares line by line.
void runSteps(std::initializer_list<Step> steps)
{
    std::string page = "function p($x) { print($x, \"\\n\"); }\n"
                       "function list($a) { if (type($a) == TYPE_NULL) return \"null\"; "
                       "return \"[\" . join(\"|\", $a) . \"]\"; }\n";
    std::string expected;
    for (const Step& step : steps)
    {
        page += std::string(step.code) + "\n";
        expected += std::string(step.line) + "\n";
    }
    const std::string output = RunOutput(page);
    std::istringstream got(output), want(expected);
    std::string gotLine, wantLine;
    for (const Step& step : steps)
    {
        std::getline(got, gotLine);
        std::getline(want, wantLine);
        EXPECT_EQ(gotLine, wantLine) << step.code;
    }
    EXPECT_EQ(output.size(), expected.size()) << output;
}

TEST_F(ConfigFunctions, ReadsMatchWithoutRegardToCase)
{
    runSteps({
        {R"(p(tnconfigOpen() . tnconfigIsEdited());)", "10"},
        {R"(p(tnconfigGetTypeSetting("", "", "TIMEOUT", 0));)", "30"},
        {R"(p(tnconfigGetTypeSetting("WEB", "main site", "port", 1));)", "8080"},
        {R"(p("<" . tnconfigGetTypeSetting("web", "main site", "port", 2) . ">");)", "<>"},
        {R"(p("<" . tnconfigGetTypeSetting(" web", "main site", "port", 0) . ">");)", "<>"},
        {R"(p(list(tnconfigGetTypeSettingList(" web ", " Main Site ", " PORT ")));)", "[80|8080]"},
        {R"(p(list(tnconfigGetTypeSettingList("web", "other", "port")));)", "null"},
        {R"($n = tnconfigGetTypeSettingSplitList("", "", " alias", $k, $v); p($n . list($k) . list($v));)",
         R"(2[www|img]["/var/www root"|/images])"},
        {R"($k = 5; $n = tnconfigGetTypeSettingSplitList("", "", "none", $k, $v); p($n . list($k) . list($v));)",
         "0[][]"},
        {R"(p(tnconfigGetTypeSettingSplit("web", "main site", "index", "HOME PAGE.HTM"));)", "first"},
        {R"(p(tnconfigGetTypeSettingSplit("web", "main site", "index", "\"home page.htm\""));)", "first"},
        {R"(p("<" . tnconfigGetTypeSettingSplit("", "", "alias", "none") . ">");)", "<>"},
        {R"(p(list(tnconfigGetContextList("WEB")));)", "[backup|Main Site]"},
        {R"(p(list(tnconfigGetContextList("db")));)", "null"},
    });
}

TEST_F(ConfigFunctions, ChangesGiveStatusNumbersAndSaveNormalised)
{
    runSteps({
        {R"(p(tnconfigOpen());)", "1"},
        {R"(p(tnconfigAddContext("web", "BACKUP") . tnconfigIsEdited());)", "00"},
        {R"(p(tnconfigAddContext(" DB ", " main ") . tnconfigIsEdited());)", "11"},
        {R"(p(tnconfigGetTypeSetting("db", "main", "default", 0));)", "0"},
        {R"(p(tnconfigCopyContext(" web", "main site", "copy ") . tnconfigCopyContext("web", "main site", "COPY"));)",
         "10"},
        {R"(p(tnconfigCopyContext("web", "absent", "other"));)", "-2"},
        {R"(p(list(tnconfigGetTypeSettingList("web", "copy", "port")));)", "[80|8080]"},
        {R"(p(tnconfigRenameContext("web", "copy", "renamed") . tnconfigRenameContext("web", "copy", "x"));)", "1-2"},
        {R"(p(tnconfigDeleteContext("web", "renamed") . tnconfigDeleteContext("web", "renamed"));)", "1-2"},
        {R"(p(tnconfigAddTypeSetting("", "", "Mirror", "a") . tnconfigAddTypeSetting("", "", "Mirror", "a"));)", "11"},
        {R"(p(tnconfigSetTypeSetting("", "", "mirror", " b ") . list(tnconfigGetTypeSettingList("", "", "mirror")));)",
         "1[b|b]"},
        {R"(p(tnconfigDeleteTypeSetting("", "", "mirror", "x") . tnconfigDeleteTypeSetting("", "", "mirror", " B"));)",
         "-21"},
        {R"(p(tnconfigDeleteTypeSetting("", "", "mirror") . tnconfigDeleteTypeSetting("web", "backup", "port"));)",
         "-21"},
        {R"(p(tnconfigSetTypeSetting("db", "main", "port", "5432"));)", "1"},
        {R"(p(tnconfigSetTypeSettingSplit("", "", "alias", "IMG", "/pics"));)", "1"},
        {R"(p(tnconfigSetTypeSettingSplit("", "", "alias", "new key", " x y "));)", "1"},
        {R"(p(tnconfigGetTypeSettingSplit("", "", "alias", "new key"));)", "x y"},
        {R"(p(tnconfigDeleteTypeSettingSplit("", "", "alias", "WWW") . tnconfigDeleteTypeSettingSplit("", "", "alias", "www"));)",
         "1-2"},
        {R"(p(tnconfigSave() . tnconfigIsEdited());)", "10"},
        // Opened twice (once by the test's set-up): the third close finds the count at 0 and keeps it there.
        {R"(p(tnconfigClose() . tnconfigClose() . tnconfigServerReload() . tnconfigClose());)", "1101"},
        {R"(p(tnconfigReload() . tnconfigServerReload() . tnconfigIsEdited());)", "110"},
    });
    EXPECT_EQ(ScratchFolder::read(path_),
              "# main settings\r\nTimeout 30\r\nAlias IMG /pics\r\nalias \"new key\" x y\r\n"
              "\r\n<db main>\r\n\tDefault 0\r\n\tport 5432\r\n</db>\r\n"
              "\r\n<web Main Site>\r\n\tPort 80\r\n\tPort 8080\r\n"
              "\tIndex \"home page.htm\" first\r\n</web>\r\n");
}

// A file that cannot be used leaves no store: opening answers 0, and so do
// the changes; the manager keeps the reason.
TEST_F(ConfigFunctions, AnUnusableFileOpensNothing)
{
    const struct
    {
        std::string bytes;
        std::string message;
    } rows[] = {
        {"<>\nx 1\n", ": line: 2 - Invalid context definition"},
        {"# only a comment\n", ": line: 1 - No settings found in configuration file"},
    };
    for (const auto& row : rows)
    {
        folder_.write("app.cfg", row.bytes);
        runSteps({{R"(p(tnconfigReload() . tnconfigOpen() . tnconfigSetTypeSetting("", "", "a", "b"));)", "000"}});
        EXPECT_EQ(ConfigManager::instance().lastMessage(), path_ + row.message);
    }
}

// Every row's name and id, and the count it reports when refused; the
// declared row is refused by the machine before its handler.
TEST(ConfigFunctionTable, NamesIdsAndArgumentCounts)
{
    const struct
    {
        const char* name;
        int32_t id;
        int accepted;            // the count the messages report
        int most;                // the largest count accepted
        const char* messageName; // null: the machine's declared-count message
    } rows[] = {
        {"tnconfigOpen", -16897, 0, 0, "tnconfigFileOps"},
        {"tnconfigClose", -16898, 0, 0, "tnconfigFileOps"},
        {"tnconfigIsEdited", -16899, 0, 0, "tnconfigFileOps"},
        {"tnconfigSave", -16900, 0, 0, "tnconfigFileOps"},
        {"tnconfigReload", -16901, 0, 0, "tnconfigFileOps"},
        {"tnconfigServerReload", -16902, 0, 0, "tnconfigFileOps"},
        {"tnconfigGetContextList", -16913, 1, 1, "tnconfigGetContextList"},
        {"tnconfigGetTypeSetting", -16914, 4, 4, "tnconfigGetTypeSetting"},
        {"tnconfigGetTypeSettingList", -16915, 3, 3, "tnconfigGetTypeSettingList"},
        {"tnconfigGetTypeSettingSplitList", -16916, 5, 5, nullptr},
        {"tnconfigGetTypeSettingSplit", -16917, 4, 4, "tnconfigGetTypeSettingSplit"},
        {"tnconfigAddContext", -16929, 2, 2, "tnconfigAddContext"},
        {"tnconfigDeleteContext", -16930, 2, 2, "tnconfigDeleteContext"},
        {"tnconfigRenameContext", -16931, 3, 3, "tnconfigRenameContext"},
        {"tnconfigCopyContext", -16932, 3, 3, "tnconfigCopyContext"},
        {"tnconfigSetTypeSetting", -16945, 4, 4, "tnconfigSetTypeSetting"},
        {"tnconfigSetTypeSettingSplit", -16946, 5, 5, "tnconfigSetTypeSettingSplit"},
        {"tnconfigDeleteTypeSetting", -16947, 3, 4, "tnconfigDeleteTypeSetting"},
        {"tnconfigDeleteTypeSettingSplit", -16948, 4, 4, "tnconfigDeleteTypeSettingSplit"},
        {"tnconfigAddTypeSetting", -16949, 4, 4, "tnconfigAddTypeSetting"},
    };
    struct Names : FunctionRegistry
    {
        void registerSystemFunction(std::string_view name, int32_t id) override { ids[std::string(name)] = id; }
        std::map<std::string, int32_t> ids;
    } names;
    ConfigFunctionSet().registerAll(names);
    EXPECT_EQ(names.ids.size(), std::size(rows));

    FunctionCaller caller;
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(names.ids[row.name], row.id);
        // One too many; and one too few, but for the six without arguments.
        for (const int argc : {row.most + 1, row.accepted - 1})
        {
            if (argc < 0) continue;
            const std::string expected =
                row.messageName
                    ? "Runtime Error: Invalid call to " + std::string(row.messageName) + ". Expecting " +
                          std::to_string(row.accepted) + " arguments, " + std::to_string(argc) + " were provided"
                    : "Runtime Error: Invalid number of function arguments. Expected 5, actual " + std::to_string(argc);
            EXPECT_EQ(caller.call(row.id, std::vector<CallArg>(size_t(argc), CallArg(""))).message, expected);
        }
    }
    // Four arguments reach the handler too.
    EXPECT_EQ(caller.call(-16947, std::vector<CallArg>(4, CallArg(""))).message, "");
}

} // namespace
} // namespace tn
