// Background scripts, waits, semaphores and sleeping: run, runandwait,
// waitforscript, waitforjob, waitforwhois, waitforbrowser, getnumbkscripts,
// getbkscriptids, getbkscriptstatus, createsemaphore, waitforsemaphore,
// waitforsemaphoremaxvalue, releasesemaphore, semaphorecount, sleep, sleepmilli.
//
// A run driven in slices by the script manager suspends in a wait function
// (the handler answers Wait) and resumes once the host's resume check finds
// what it waited for; a synchronous run may not be suspended.
#include "hostlib/host_call.h"
#include "hostlib/host_functions.h"
#include "hostlib/url_reference.h"

#include "vm/virtual_machine.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace tn
{

namespace
{

// What a wait function reads before its wait is over, or when it failed.
constexpr int32_t kWaitFailed = WaitResult(WaitedScriptState::Abandoned);

// The number a wait function reads for the manager's answer.
int32_t WaitResultNumber(ereturnvalue answer)
{
    if (answer == ereturnvalue::Complete) return WaitResult(WaitedScriptState::Complete);
    if (answer == ereturnvalue::NotFound) return WaitResult(WaitedScriptState::NotFound);
    return kWaitFailed;
}

ScriptWaits& waitsOf(SysCall& call)
{
    return HostOf(call).scripts;
}

ScriptServices* servicesOf(SysCall& call)
{
    return waitsOf(call).services;
}

// Every wait function shares one message for a run that cannot wait.
void requireSlicedRun(SysCall& call)
{
    if (call.vm.noWait())
        call.vm.raiseRuntimeError("Invalid call to waitforscript. Wait function called in a stand alone script");
}

int32_t semaphoreHandle(SysCall& call)
{
    const int32_t handle = call.integer(1);
    if (handle < 1) call.fail("invalid semaphore handle");
    return handle;
}

// Suspends the script until the resume check settles [kind] on [record].
ereturnvalue suspend(SysCall& call, PendingWait kind, int32_t record)
{
    ScriptWaits& waits = waitsOf(call);
    waits.pending = kind;
    waits.pendingRecord = record;
    call.returnInt(kWaitFailed);
    return ereturnvalue::Wait;
}

ereturnvalue waitForScript(SysCall& call, int32_t scriptId)
{
    ScriptWaits& waits = waitsOf(call);
    // Nothing could ever end a wait on the waiting script itself.
    if (scriptId == waits.scriptId && scriptId != 0) return call.returnInt(kWaitFailed);
    ScriptServices* services = servicesOf(call);
    if (scriptId <= 0 || !services) return call.returnInt(WaitResultNumber(ereturnvalue::NotFound));
    if (call.vm.noWait()) return call.returnInt(WaitResultNumber(services->waitForScript(scriptId)));
    call.vm.setWaitedScript(scriptId);
    call.returnInt(kWaitFailed);
    return ereturnvalue::Wait;
}

// Starts the script at argument 1, named relative to a "PATH_INFO" entry when
// the script environment has one; 0 with its status number when it failed.
int32_t startScript(SysCall& call, int32_t& status)
{
    ScriptServices* services = servicesOf(call);
    std::string path(call.text(1));
    const auto& environment = call.vm.environment();
    if (const auto pathInfo = environment.find("PATH_INFO"); pathInfo != environment.end() && !path.empty())
        path = ResolveUrl(pathInfo->second, path);
    int32_t id = 0;
    const ereturnvalue code = services ? services->startScript(path, id) : ereturnvalue::NotSupported;
    status = ScriptStatus(code);
    return code == ereturnvalue::OK ? id : 0;
}

ereturnvalue run(SysCall& call)
{
    int32_t status = 0;
    const int32_t id = startScript(call, status);
    return call.returnInt(id ? id : status);
}

ereturnvalue runAndWait(SysCall& call)
{
    int32_t status = 0;
    const int32_t id = startScript(call, status);
    if (!id) return call.returnInt(status);
    return waitForScript(call, id);
}

ereturnvalue waitScript(SysCall& call)
{
    return waitForScript(call, call.integer(1));
}

// Jobs and lookups never exist in this host: the wait ends as not found.
ereturnvalue waitUnknown(SysCall& call)
{
    requireSlicedRun(call);
    return suspend(call, PendingWait::Unknown, call.integer(1));
}

ereturnvalue waitBrowser(SysCall& call)
{
    requireSlicedRun(call);
    return ereturnvalue::OK;
}

ereturnvalue backgroundCount(SysCall& call)
{
    ScriptServices* services = servicesOf(call);
    return call.returnInt(services ? static_cast<int32_t>(services->runningIds().size()) : 0);
}

ereturnvalue backgroundIds(SysCall& call)
{
    ValueVector ids;
    if (ScriptServices* services = servicesOf(call))
        for (const int32_t id : services->runningIds())
            ids.push(Value::integer(id));
    return call.returnArray(std::move(ids));
}

// By the script's state: 1 while it is queued or running, 0 when it has
// ended but is still in the manager's list, -2 once the list has let it go
// (the state reads 9 then) and for an id the manager never ran.
ereturnvalue backgroundStatus(SysCall& call)
{
    const int32_t id = call.integer(1);
    ScriptServices* services = servicesOf(call);
    if (!services) return call.returnInt(-2);
    const int32_t state = services->scriptState(id);
    if (state >= 0 && state <= 3) return call.returnInt(1);
    return call.returnInt(state >= 4 && state <= 8 ? 0 : -2);
}

ereturnvalue createSemaphore(SysCall& call)
{
    const int32_t initial = call.integer(1);
    const int32_t maximum = call.integer(2);
    if (maximum < 1) call.fail("maxCount was lower than 1");
    if (initial < 0 || initial > maximum) call.fail("invalid initialCount");
    ScriptServices* services = servicesOf(call);
    int32_t handle = 0;
    if (!services || services->addSemaphore(initial, maximum, handle) != ereturnvalue::OK)
        return call.returnInt(kWaitFailed);
    waitsOf(call).ownRecords.push_back(handle);
    return call.returnInt(handle);
}

// variant: what the wait is for. The handle is checked before the kind of run.
ereturnvalue waitSemaphore(SysCall& call)
{
    const int32_t handle = semaphoreHandle(call);
    requireSlicedRun(call);
    return suspend(call, static_cast<PendingWait>(call.variant()), handle);
}

ereturnvalue releaseSemaphore(SysCall& call)
{
    const int32_t handle = semaphoreHandle(call);
    ScriptServices* services = servicesOf(call);
    return call.returnInt(services && services->releaseSemaphore(handle) == ereturnvalue::Complete ? 1 : 0);
}

ereturnvalue semaphoreCount(SysCall& call)
{
    const int32_t handle = semaphoreHandle(call);
    ScriptServices* services = servicesOf(call);
    int32_t count = 0;
    if (!services || services->semaphoreCount(handle, count) != ereturnvalue::OK) return call.returnInt(-2);
    return call.returnInt(count);
}

// variant: milliseconds per unit of the argument
ereturnvalue sleep(SysCall& call)
{
    const int64_t count = std::llabs(int64_t(call.integer(1)));
    if (count == 0) return call.returnInt(kWaitFailed);
    const int64_t milliseconds = count * call.variant();
    if (call.vm.noWait())
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return ereturnvalue::OK;
    }
    ScriptServices* services = servicesOf(call);
    int32_t record = 0;
    if (!services || services->addTimedWait(milliseconds, record) != ereturnvalue::OK)
        return call.returnInt(kWaitFailed);
    waitsOf(call).ownRecords.push_back(record);
    return suspend(call, PendingWait::Timer, record);
}

constexpr int32_t kTake = static_cast<int32_t>(PendingWait::SemaphoreTake);
constexpr int32_t kMax = static_cast<int32_t>(PendingWait::SemaphoreMax);
constexpr ArgRule one = ArgRule::exactly(1);
constexpr ArgRule none = ArgRule::exactly(0);

constexpr SysFunction kScriptFunctions[] = {
    Fn("run", -13569, one, run),
    Fn("runandwait", -13570, one, runAndWait),
    Fn("waitforscript", -13571, one, waitScript),
    Fn("waitforjob", -13572, one, waitUnknown),
    Fn("sleep", -13575, one, sleep).as(1000),
    Fn("getnumbkscripts", -13576, none, backgroundCount),
    Fn("getbkscriptids", -13577, none, backgroundIds),
    Fn("getbkscriptstatus", -13578, one, backgroundStatus),
    Fn("createsemaphore", -13579, ArgRule::exactly(2), createSemaphore),
    Fn("waitforsemaphore", -13580, one, waitSemaphore).as(kTake),
    Fn("releasesemaphore", -13581, one, releaseSemaphore),
    Fn("semaphorecount", -13582, one, semaphoreCount),
    Fn("waitforsemaphoremaxvalue", -13583, one, waitSemaphore).as(kMax),
    Fn("sleepmilli", -13584, one, sleep).as(1).message("sleep"),
    Fn("waitforwhois", -12639, one, waitUnknown),
    Fn("waitforbrowser", -13839, ArgRule::any(), waitBrowser),
};

} // namespace

std::span<const SysFunction> ScriptFunctions()
{
    return kScriptFunctions;
}

// A suspended script goes on once what it waits for is there; the wait
// function's placeholder result on the stack then reads the answer.
ereturnvalue HostResumeCheck(VirtualMachine& vm, bool& done)
{
    done = false;
    if (!vm.host() || vm.host()->scripts.pending == PendingWait::None) return ereturnvalue::OK;
    ScriptWaits& waits = vm.host()->scripts;
    ScriptServices* services = waits.services;
    ereturnvalue answer = ereturnvalue::NotFound;
    if (waits.abandoned)
    {
        answer = ereturnvalue::TimedOut;
        waits.abandoned = false;
    }
    else if (services)
    {
        switch (waits.pending)
        {
        case PendingWait::Timer:
            answer = services->isRecordDone(waits.pendingRecord);
            break;
        case PendingWait::SemaphoreTake:
            answer = services->takeSemaphore(waits.pendingRecord);
            break;
        case PendingWait::SemaphoreMax:
            answer = services->checkSemaphoreMax(waits.pendingRecord);
            break;
        default:
            break;
        }
    }
    if (answer == ereturnvalue::Empty)
    {
        done = true;
        return ereturnvalue::Wait;
    }
    if (waits.pending == PendingWait::Timer && services)
    {
        services->releaseRecord(waits.pendingRecord);
        std::erase(waits.ownRecords, waits.pendingRecord);
    }
    waits.pending = PendingWait::None;
    waits.pendingRecord = 0;
    if (Value* top = vm.stack().top()) top->setInteger(WaitResultNumber(answer));
    return ereturnvalue::OK;
}

// A script that has left the running list has ended when its result record
// says so; an id with no record never ran.
WaitedScriptState HostScriptState(VirtualMachine& vm, int32_t scriptId)
{
    if (!vm.host()) return WaitedScriptState::NotFound;
    ScriptWaits& waits = vm.host()->scripts;
    if (waits.abandoned)
    {
        waits.abandoned = false;
        return WaitedScriptState::Abandoned;
    }
    ScriptServices* services = waits.services;
    if (!services) return WaitedScriptState::NotFound;
    const int32_t state = services->scriptState(scriptId);
    if (state >= 0 && state <= 3) return WaitedScriptState::Running;
    int32_t record = 0;
    switch (services->scriptRecord(ScriptServices::kScriptRecord, scriptId, record))
    {
    case ereturnvalue::Complete:
        return WaitedScriptState::Complete;
    case ereturnvalue::Empty:
        return WaitedScriptState::Running;
    default:
        return WaitedScriptState::NotFound;
    }
}

} // namespace tn
