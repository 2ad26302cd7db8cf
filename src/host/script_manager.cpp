#include "host/script_manager.h"

#include "host/script.h"

#include <algorithm>
#include <thread>

namespace tn
{

namespace
{
// How long a record is kept at least (and while references are held).
constexpr std::chrono::seconds kRecordLife{180};
constexpr int32_t kFirstDueWakeMs = 50;
constexpr int32_t kLaterDueWakeMs = 250;
// A synchronous wait never sleeps longer than this between steps.
constexpr int32_t kLongestSyncSleepMs = 1000;

bool IsLive(ScriptState state)
{
    return state == ScriptState::Created || state == ScriptState::Loaded || state == ScriptState::Running ||
           state == ScriptState::Waiting;
}
} // namespace

ScriptManager& ScriptManager::instance()
{
    static ScriptManager manager;
    return manager;
}

ScriptManager::ScriptManager() = default;
// Queued scripts give their records back as they go, so they go first.
ScriptManager::~ScriptManager()
{
    running_.clear();
}

ScriptManager::Record* ScriptManager::findRecord(int32_t recordId)
{
    const auto it = records_.find(recordId);
    return it == records_.end() ? nullptr : &it->second;
}

ScriptManager::Record& ScriptManager::addRecord(int32_t kind, int32_t& recordId)
{
    recordId = ++nextRecordId_;
    Record& record = records_[recordId];
    record.kind = kind;
    record.expiry = Clock::now() + kRecordLife;
    return record;
}

ereturnvalue ScriptManager::startScript(const std::string& path, int32_t& scriptId, bool keep)
{
    static const std::map<std::string, std::string> noEnvironment;
    static const ByteBuffer noBody;
    return startScript(path, noEnvironment, noBody, scriptId, keep);
}

ereturnvalue ScriptManager::startScript(const std::string& path, const std::map<std::string, std::string>& environment,
                                        const ByteBuffer& requestBody, int32_t& scriptId, bool keep)
{
    try
    {
        auto script = std::make_unique<Script>();
        scriptId = script->id();
        script->engine().hostContext().scripts.services = this;
        for (const auto& [name, value] : environment)
            script->setEnvironmentVariable(name, value);
        script->setPath(path);
        script->setCgi(false);
        script->requestBody().assignWindow(requestBody);
        const ereturnvalue loaded = path.empty() ? ereturnvalue::NotFound : script->load();
        if (loaded != ereturnvalue::OK) return loaded;
        std::lock_guard guard(lock_);
        int32_t recordId = 0;
        Record& record = addRecord(kScriptRecord, recordId);
        record.scriptId = scriptId;
        if (keep) record.references = 1;
        running_.push_back(std::move(script));
        return ereturnvalue::OK;
    }
    catch (ereturnvalue code)
    {
        return code;
    }
    catch (...)
    {
        return ereturnvalue::Error;
    }
}

ereturnvalue ScriptManager::runNext(int32_t& wakeMs)
{
    std::unique_ptr<Script> ended; // destroyed after the lock is left: its end calls back in
    std::unique_lock guard(lock_);
    ereturnvalue result = ereturnvalue::OK;
    // A script's own wait never drives the queue from inside a slice.
    if (inSlice_) return ereturnvalue::Wait;
    progressed_ = false;
    if (!running_.empty())
    {
        size_t index = 0;
        if (resumeId_ != 0)
        {
            const auto it = std::find_if(running_.begin(), running_.end(),
                                         [this](const auto& script) { return script->id() == resumeId_; });
            if (it != running_.end()) index = static_cast<size_t>(it - running_.begin()) + 1;
            if (index >= running_.size()) index = 0;
        }
        bool wrapped = false;
        for (;;)
        {
            Script* script = running_[index].get();
            inSlice_ = true;
            guard.unlock();
            try
            {
                const int32_t before = script->engine().machine().instructionCount();
                script->runSlice(kSliceBudget);
                if (script->engine().machine().instructionCount() != before) progressed_ = true;
            }
            catch (...)
            {
                // The script keeps the state it had; an ended one leaves below.
            }
            guard.lock();
            inSlice_ = false;
            const ScriptState state = script->state();
            if (state == ScriptState::Running)
            {
                resumeId_ = script->id();
                break;
            }
            if (state == ScriptState::Waiting)
            {
                if (++index < running_.size()) continue;
                if (wrapped)
                {
                    result = ereturnvalue::Wait;
                    break;
                }
                wrapped = true;
                index = 0;
                continue;
            }
            ended = endScript(index);
            resumeId_ = 0;
            break;
        }
    }
    housekeeping(wakeMs);
    return running_.empty() ? ereturnvalue::Empty : result;
}

std::unique_ptr<Script> ScriptManager::endScript(size_t index)
{
    std::unique_ptr<Script> script = std::move(running_[index]);
    running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(index));
    ++endedCount_;
    for (auto& [id, record] : records_)
        if (record.kind == kScriptRecord && record.scriptId == script->id())
        {
            record.output.moveFrom(script->output());
            record.done = true;
            break;
        }
    return script;
}

void ScriptManager::housekeeping(int32_t& wakeMs)
{
    const Clock::time_point now = Clock::now();
    bool pending = false;
    Clock::time_point earliest = Clock::time_point::max();
    for (auto it = records_.begin(); it != records_.end();)
    {
        Record& record = it->second;
        if (now >= record.expiry && record.references <= 0 && (record.kind != kScriptRecord || record.done))
        {
            it = records_.erase(it);
            continue;
        }
        if ((record.kind == kTimedWait || record.kind == 2) && !record.done)
        {
            pending = true;
            earliest = std::min(earliest, record.deadline);
        }
        ++it;
    }
    timersPending_ = pending;
    if (!pending)
    {
        wakeMs = kIdleWakeMs;
        return;
    }
    if (earliest <= now)
    {
        wakeMs = wakeGiven_ ? kLaterDueWakeMs : kFirstDueWakeMs;
        wakeGiven_ = true;
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(earliest - now).count();
    wakeMs = static_cast<int32_t>(std::min<int64_t>(left, kIdleWakeMs));
}

bool ScriptManager::stuck()
{
    std::lock_guard guard(lock_);
    return !progressed_ && !timersPending_;
}

void ScriptManager::abandonWaits()
{
    std::lock_guard guard(lock_);
    for (const auto& script : running_)
        if (script->state() == ScriptState::Waiting) script->engine().hostContext().scripts.abandoned = true;
}

ereturnvalue ScriptManager::takeOutput(int32_t recordId, ByteBuffer& out)
{
    std::lock_guard guard(lock_);
    Record* record = findRecord(recordId);
    if (!record) return ereturnvalue::NotFound;
    out.moveFrom(record->output);
    return ereturnvalue::OK;
}

int32_t ScriptManager::scriptState(int32_t scriptId)
{
    std::lock_guard guard(lock_);
    for (const auto& script : running_)
        if (script->id() == scriptId) return static_cast<int32_t>(script->state());
    return kNoScript;
}

std::vector<int32_t> ScriptManager::runningIds()
{
    std::lock_guard guard(lock_);
    std::vector<int32_t> ids;
    ids.reserve(running_.size());
    for (const auto& script : running_)
        ids.push_back(script->id());
    return ids;
}

bool ScriptManager::completes(Record& record, Clock::time_point now)
{
    switch (record.kind)
    {
    case kSemaphore:
        if (record.waitForMax) return record.count >= record.maximum;
        if (record.count < 1) return false;
        --record.count;
        return true;
    case kTimedWait:
    case 2:
        if (!record.done && now >= record.deadline) record.done = true;
        return record.done;
    default:
        return record.done;
    }
}

ereturnvalue ScriptManager::scriptRecord(int32_t kind, int32_t scriptId, int32_t& recordId)
{
    std::lock_guard guard(lock_);
    for (auto& [id, record] : records_)
        if (record.kind == kind && record.scriptId == scriptId)
        {
            recordId = id;
            return completes(record, Clock::now()) ? ereturnvalue::Complete : ereturnvalue::Empty;
        }
    return ereturnvalue::NotFound;
}

ereturnvalue ScriptManager::isRecordDone(int32_t recordId)
{
    std::lock_guard guard(lock_);
    Record* record = findRecord(recordId);
    if (!record) return ereturnvalue::NotFound;
    return completes(*record, Clock::now()) ? ereturnvalue::Complete : ereturnvalue::Empty;
}

ereturnvalue ScriptManager::releaseRecord(int32_t recordId)
{
    std::lock_guard guard(lock_);
    Record* record = findRecord(recordId);
    if (!record) return ereturnvalue::NotFound;
    if (record->references > 0) --record->references;
    return ereturnvalue::OK;
}

ereturnvalue ScriptManager::addTimedWait(int64_t milliseconds, int32_t& recordId)
{
    std::lock_guard guard(lock_);
    Record& record = addRecord(kTimedWait, recordId);
    record.references = 1;
    record.deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    return ereturnvalue::OK;
}

ereturnvalue ScriptManager::addSemaphore(int32_t initial, int32_t maximum, int32_t& recordId)
{
    std::lock_guard guard(lock_);
    Record& record = addRecord(kSemaphore, recordId);
    record.references = 1;
    record.count = initial;
    record.maximum = maximum;
    return ereturnvalue::OK;
}

// A take and a wait for the maximum differ only in what completes the record.
ereturnvalue ScriptManager::semaphoreWait(int32_t recordId, bool forMax)
{
    std::lock_guard guard(lock_);
    Record* record = findRecord(recordId);
    if (!record || record->kind != kSemaphore) return ereturnvalue::NotFound;
    record->waitForMax = forMax;
    return completes(*record, Clock::now()) ? ereturnvalue::Complete : ereturnvalue::Empty;
}

ereturnvalue ScriptManager::takeSemaphore(int32_t recordId)
{
    return semaphoreWait(recordId, false);
}

ereturnvalue ScriptManager::checkSemaphoreMax(int32_t recordId)
{
    return semaphoreWait(recordId, true);
}

ereturnvalue ScriptManager::releaseSemaphore(int32_t recordId)
{
    std::lock_guard guard(lock_);
    Record* record = findRecord(recordId);
    if (!record || record->kind != kSemaphore) return ereturnvalue::NotFound;
    if (record->count >= record->maximum) return ereturnvalue::Empty;
    ++record->count;
    return ereturnvalue::Complete;
}

ereturnvalue ScriptManager::semaphoreCount(int32_t recordId, int32_t& count)
{
    std::lock_guard guard(lock_);
    Record* record = findRecord(recordId);
    if (!record || record->kind != kSemaphore) return ereturnvalue::NotFound;
    count = record->count;
    return ereturnvalue::OK;
}

// The caller is a run that may not be suspended, so it turns the queue itself.
ereturnvalue ScriptManager::waitForScript(int32_t scriptId)
{
    {
        std::lock_guard guard(lock_);
        if (inSlice_) return ereturnvalue::TimedOut;
    }
    for (;;)
    {
        const int32_t state = scriptState(scriptId);
        if (state == kNoScript || !IsLive(static_cast<ScriptState>(state)))
        {
            int32_t recordId = 0;
            return scriptRecord(kScriptRecord, scriptId, recordId) == ereturnvalue::Complete ? ereturnvalue::Complete
                                                                                             : ereturnvalue::NotFound;
        }
        drive(kLongestSyncSleepMs, true);
    }
}

ereturnvalue ScriptManager::drive(int32_t sleepMs, bool untilTimer)
{
    int32_t wakeMs = 0;
    const ereturnvalue step = runNext(wakeMs);
    if (step != ereturnvalue::Wait) return step;
    if (stuck())
        abandonWaits();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(untilTimer ? std::min(wakeMs, sleepMs) : sleepMs));
    return step;
}

} // namespace tn
