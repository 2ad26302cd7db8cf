// The configuration functions as scripts call them, on a store loaded from a
// file in a scratch folder: reads, changes and the saved result.
#include "compiler/compile_run.h"
#include "hostlib/config_manager.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

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

// Runs the steps as one page, so each sees the changes before it.
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
    EXPECT_EQ(RunOutput(page, Runs::Once), expected);
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
        // The key and the rest are always joined by a blank, even when the rest is empty.
        {R"(p(tnconfigSetTypeSettingSplit("", "", "alias", "img", "") . list(tnconfigGetTypeSettingList("", "", "alias")));)",
         R"(1[www "/var/www root"|img ])"},
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

} // namespace
} // namespace tn
