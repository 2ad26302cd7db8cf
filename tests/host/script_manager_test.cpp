// Semaphore counts, timed waits and whole managed runs are covered by the
// scripts page and the managed_* golden pages; these cases follow the queue
// step by step.
#include "host/script.h"
#include "host/script_manager.h"

#include "support/scratch_folder.h"

#include <gtest/gtest.h>

namespace tn
{
namespace
{

using test::ScratchFolder;
using E = ereturnvalue;

TEST(ScriptManager, ScriptsRunInTurnAndLeaveWhenTheyEnd)
{
    ScratchFolder folder;
    // long.htm needs several slices of 1000 instructions; short.htm one.
    const std::string longPage = folder.write("long.htm", "<?tnl for ($i = 0 to 300) { $x = $i; } echo(\"L\"); ?>");
    const std::string shortPage = folder.write("short.htm", "<?tnl echo(\"S\"); ?>");
    ScriptManager manager;
    int32_t wake = 0, longId = 0, shortId = 0, missingId = 0, record = 0;
    EXPECT_EQ(manager.runNext(wake), E::Empty);
    EXPECT_EQ(wake, ScriptManager::kIdleWakeMs);
    EXPECT_EQ(manager.startScript(folder.file("missing.htm"), missingId), E::NotFound);
    ASSERT_EQ(manager.startScript(longPage, longId, true), E::OK);
    ASSERT_EQ(manager.startScript(shortPage, shortId, true), E::OK);
    EXPECT_EQ(manager.runningIds(), (std::vector<int32_t>{longId, shortId}));
    EXPECT_EQ(manager.scriptState(missingId), ScriptServices::kNoScript);

    EXPECT_EQ(manager.runNext(wake), E::OK); // long: first slice
    EXPECT_EQ(manager.scriptState(longId), static_cast<int32_t>(ScriptState::Running));
    EXPECT_EQ(manager.scriptRecord(ScriptServices::kScriptRecord, longId, record), E::Empty);
    EXPECT_EQ(manager.runNext(wake), E::OK); // short runs next and ends
    EXPECT_EQ(manager.scriptState(shortId), ScriptServices::kNoScript);
    EXPECT_EQ(manager.runningIds(), std::vector<int32_t>{longId});
    ASSERT_EQ(manager.scriptRecord(ScriptServices::kScriptRecord, shortId, record), E::Complete);
    ByteBuffer output;
    EXPECT_EQ(manager.takeOutput(record, output), E::OK);
    EXPECT_EQ(output.view(), "Content-type: text/html\n\nS");

    int steps = 0;
    while (manager.runNext(wake) == E::OK)
        ++steps;
    EXPECT_GE(steps, 1);
    EXPECT_TRUE(manager.runningIds().empty());
    ASSERT_EQ(manager.scriptRecord(ScriptServices::kScriptRecord, longId, record), E::Complete);
    EXPECT_EQ(manager.takeOutput(record, output), E::OK);
    EXPECT_EQ(output.view(), "Content-type: text/html\n\nL");
    EXPECT_EQ(manager.scriptRecord(ScriptServices::kScriptRecord, missingId, record), E::NotFound);
}

TEST(ScriptManager, AQueueThatOnlyWaitsIsStuckUntilItsWaitsAreGivenUp)
{
    ScratchFolder folder;
    ScriptManager manager;
    int32_t sem = 0, id = 0, wake = 0, record = 0;
    manager.addSemaphore(0, 1, sem);
    const std::string page = folder.write("wait.htm", "<?tnl echo(waitforsemaphore(" + std::to_string(sem) +
                                                          "), waitforsemaphore(" + std::to_string(sem) + ")); ?>");
    ASSERT_EQ(manager.startScript(page, id, true), E::OK);
    EXPECT_EQ(manager.runNext(wake), E::Wait);
    EXPECT_FALSE(manager.stuck()); // the first slice ran up to the wait
    EXPECT_EQ(manager.runNext(wake), E::Wait);
    EXPECT_TRUE(manager.stuck());
    EXPECT_EQ(manager.releaseSemaphore(sem), E::Complete); // the first wait is served
    EXPECT_EQ(manager.runNext(wake), E::Wait);
    EXPECT_FALSE(manager.stuck());
    EXPECT_EQ(manager.runNext(wake), E::Wait);
    EXPECT_TRUE(manager.stuck());
    manager.abandonWaits(); // the second is given up
    EXPECT_EQ(manager.runNext(wake), E::Empty);
    ByteBuffer output;
    ASSERT_EQ(manager.scriptRecord(ScriptServices::kScriptRecord, id, record), E::Complete);
    manager.takeOutput(record, output);
    EXPECT_EQ(output.view(), "Content-type: text/html\n\n-4-5");

    int32_t timer = 0, count = 0;
    manager.addTimedWait(60000, timer);
    EXPECT_EQ(manager.takeSemaphore(timer), E::NotFound); // a timer is no semaphore
    EXPECT_EQ(manager.semaphoreCount(timer, count), E::NotFound);
}

} // namespace
} // namespace tn
