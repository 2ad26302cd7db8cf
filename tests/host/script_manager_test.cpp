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

TEST(ScriptManager, SemaphoresCountBetweenZeroAndTheirMaximum)
{
    ScriptManager manager;
    int32_t sem = 0, timer = 0, count = -1;
    ASSERT_EQ(manager.addSemaphore(1, 2, sem), E::OK);
    ASSERT_EQ(manager.addTimedWait(60000, timer), E::OK);
    struct Step
    {
        E (ScriptManager::*operation)(int32_t);
        int32_t record;
        E answer;
        int32_t countAfter;
    };
    const Step steps[] = {
        {&ScriptManager::takeSemaphore, sem, E::Complete, 0},
        {&ScriptManager::takeSemaphore, sem, E::Empty, 0},
        {&ScriptManager::releaseSemaphore, sem, E::Complete, 1},
        {&ScriptManager::checkSemaphoreMax, sem, E::Empty, 1},
        {&ScriptManager::releaseSemaphore, sem, E::Complete, 2},
        {&ScriptManager::releaseSemaphore, sem, E::Empty, 2},
        {&ScriptManager::checkSemaphoreMax, sem, E::Complete, 2},
        {&ScriptManager::takeSemaphore, timer, E::NotFound, 2},
        {&ScriptManager::releaseSemaphore, 999, E::NotFound, 2},
    };
    for (const Step& step : steps)
    {
        EXPECT_EQ((manager.*step.operation)(step.record), step.answer);
        ASSERT_EQ(manager.semaphoreCount(sem, count), E::OK);
        EXPECT_EQ(count, step.countAfter);
    }
    EXPECT_EQ(manager.semaphoreCount(timer, count), E::NotFound);
    // A record's completion follows the last kind of wait made on it.
    EXPECT_EQ(manager.isRecordDone(sem), E::Complete);
    EXPECT_EQ(manager.takeSemaphore(sem), E::Complete);
    EXPECT_EQ(manager.isRecordDone(sem), E::Complete);
    EXPECT_EQ(manager.isRecordDone(sem), E::Empty);
}

TEST(ScriptManager, TimedWaitsCompleteAtTheirDeadline)
{
    ScriptManager manager;
    int32_t soon = 0, later = 0;
    manager.addTimedWait(0, soon);
    manager.addTimedWait(60000, later);
    EXPECT_NE(soon, later);
    EXPECT_EQ(manager.isRecordDone(soon), E::Complete);
    EXPECT_EQ(manager.isRecordDone(later), E::Empty);
    EXPECT_EQ(manager.isRecordDone(later + 100), E::NotFound);
    EXPECT_EQ(manager.releaseRecord(later), E::OK);
    EXPECT_EQ(manager.releaseRecord(later + 100), E::NotFound);
}

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
}

} // namespace
} // namespace tn
