// What the script functions ask of the host that runs scripts in the
// background: starting scripts, their result records, timed waits and
// semaphores. The host layer implements it with its script manager.
#pragma once

#include "common/result_codes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tn
{

class ScriptServices
{
  public:
    // Result record kinds.
    static constexpr int32_t kScriptRecord = 0;
    static constexpr int32_t kTimedWait = 3;
    static constexpr int32_t kSemaphore = 7;
    // The state a script id has when no running script has it.
    static constexpr int32_t kNoScript = 9;

    virtual ~ScriptServices() = default;

    // Loads [path] and queues it; [scriptId] is given even when the load fails.
    virtual ereturnvalue startScript(const std::string& path, int32_t& scriptId, bool keep = false) = 0;
    // The state of a running script, or kNoScript.
    virtual int32_t scriptState(int32_t scriptId) = 0;
    virtual std::vector<int32_t> runningIds() = 0;
    // Complete when the record of [kind] for [scriptId] is done, Empty when
    // not yet, NotFound when there is none.
    virtual ereturnvalue scriptRecord(int32_t kind, int32_t scriptId, int32_t& recordId) = 0;
    virtual ereturnvalue isRecordDone(int32_t recordId) = 0;
    virtual ereturnvalue releaseRecord(int32_t recordId) = 0;

    virtual ereturnvalue addTimedWait(int64_t milliseconds, int32_t& recordId) = 0;
    virtual ereturnvalue addSemaphore(int32_t initial, int32_t maximum, int32_t& recordId) = 0;
    virtual ereturnvalue takeSemaphore(int32_t recordId) = 0;
    virtual ereturnvalue checkSemaphoreMax(int32_t recordId) = 0;
    virtual ereturnvalue releaseSemaphore(int32_t recordId) = 0;
    virtual ereturnvalue semaphoreCount(int32_t recordId, int32_t& count) = 0;

    // A run that may not be suspended waits for [scriptId] by running the
    // queued scripts itself: Complete when it ended, NotFound for an id that
    // never ran, TimedOut when nothing left could end it.
    virtual ereturnvalue waitForScript(int32_t scriptId) = 0;
};

// What a suspended script waits for, checked before it resumes.
enum class PendingWait : uint8_t
{
    None,
    Timer,         // a timed wait record (sleep in a sliced run)
    SemaphoreTake, // one unit of a semaphore
    SemaphoreMax,  // a semaphore back at its maximum
    Unknown,       // a job or lookup this host never has
};

// The script functions' share of one script's host context.
struct ScriptWaits
{
    ScriptServices* services = nullptr; // the manager that runs the script; null: none
    int32_t scriptId = 0;
    std::vector<int32_t> ownRecords; // semaphores and timed waits this script made
    PendingWait pending = PendingWait::None;
    int32_t pendingRecord = 0;
    bool abandoned = false; // the host gave up the current wait: nothing could end it

    // Gives back what the script made, when it ends.
    void release() noexcept
    {
        if (services && !ownRecords.empty())
        {
            for (const int32_t id : ownRecords)
                services->releaseRecord(id);
        }
        ownRecords.clear();
        pending = PendingWait::None;
        pendingRecord = 0;
        abandoned = false;
    }
};

} // namespace tn
