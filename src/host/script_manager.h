// ScriptManager: runs scripts in the background, interleaved in slices of
// instructions on the thread that drives it, and keeps what scripts wait
// for: the result records of scripts (with their output), timed waits and
// counting semaphores. One per process, made on first use.
#pragma once

#include "common/byte_buffer.h"
#include "hostlib/script_services.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tn
{

class Script;

class ScriptManager final : public ScriptServices
{
  public:
    static constexpr int32_t kSliceBudget = 1000;
    static constexpr int32_t kIdleWakeMs = 15000;

    static ScriptManager& instance();

    ScriptManager();
    ~ScriptManager() override;
    ScriptManager(const ScriptManager&) = delete;
    ScriptManager& operator=(const ScriptManager&) = delete;

    // Loads the script and queues it; with [keep] its result record stays
    // until the caller has read it.
    ereturnvalue startScript(const std::string& path, const std::map<std::string, std::string>& environment,
                             const ByteBuffer& requestBody, int32_t& scriptId, bool keep);
    ereturnvalue startScript(const std::string& path, int32_t& scriptId, bool keep = false) override;

    // One step: slices of the queued scripts until one has used its budget
    // or ended (OK), all of them wait (Wait), or none is left (Empty).
    // [wakeMs]: how long the caller may sleep before the next step.
    ereturnvalue runNext(int32_t& wakeMs);
    // One step for a caller that drives the queue: when every script waits,
    // the waits are given up if nothing could wake one, else the caller
    // sleeps [sleepMs] (with [untilTimer] no longer than to the next timer).
    // The step's answer: OK, Wait or Empty.
    ereturnvalue drive(int32_t sleepMs, bool untilTimer);
    // Moves a finished script's output out of its record.
    ereturnvalue takeOutput(int32_t recordId, ByteBuffer& out);
    // True when the last step answered Wait without running a single
    // instruction and no timed wait is pending: nothing can wake the queue.
    bool stuck();
    // Every waiting script gives up its wait, which then reads as failed.
    void abandonWaits();

    int32_t scriptState(int32_t scriptId) override;
    std::vector<int32_t> runningIds() override;
    ereturnvalue scriptRecord(int32_t kind, int32_t scriptId, int32_t& recordId) override;
    ereturnvalue isRecordDone(int32_t recordId) override;
    ereturnvalue releaseRecord(int32_t recordId) override;
    ereturnvalue addTimedWait(int64_t milliseconds, int32_t& recordId) override;
    ereturnvalue addSemaphore(int32_t initial, int32_t maximum, int32_t& recordId) override;
    ereturnvalue takeSemaphore(int32_t recordId) override;
    ereturnvalue checkSemaphoreMax(int32_t recordId) override;
    ereturnvalue releaseSemaphore(int32_t recordId) override;
    ereturnvalue semaphoreCount(int32_t recordId, int32_t& count) override;
    ereturnvalue waitForScript(int32_t scriptId) override;

  private:
    using Clock = std::chrono::steady_clock;

    struct Record
    {
        int32_t references = -1;
        Clock::time_point expiry;
        bool done = false;
        int32_t kind = 8;
        int32_t scriptId = 0;       // script records
        int32_t maximum = 0;        // semaphores
        int32_t count = 0;          // semaphores
        bool waitForMax = false;    // semaphores: the last wait was for the maximum
        Clock::time_point deadline; // timed waits
        ByteBuffer output;          // script records
    };

    Record* findRecord(int32_t recordId);
    Record& addRecord(int32_t kind, int32_t& recordId);
    bool completes(Record& record, Clock::time_point now);
    ereturnvalue semaphoreWait(int32_t recordId, bool forMax);
    std::unique_ptr<Script> endScript(size_t index);
    void housekeeping(int32_t& wakeMs);

    std::mutex lock_;
    std::vector<std::unique_ptr<Script>> running_; // in start order
    int32_t resumeId_ = 0;
    std::map<int32_t, Record> records_;
    int32_t nextRecordId_ = 0;
    int32_t endedCount_ = 0;
    bool wakeGiven_ = false;
    bool inSlice_ = false;
    bool progressed_ = false;    // the current step ran an instruction
    bool timersPending_ = false; // a timed wait had not expired at the last housekeeping
};

} // namespace tn
