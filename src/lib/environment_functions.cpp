// Environment functions: the script's own environment (envvar, numenvvar,
// envvarindex, setenvvar) and the process-wide one shared by every script
// (globalenvvar, setglobalenvvar).
#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

#include <iterator>
#include <map>
#include <mutex>

namespace tn
{

namespace
{
constexpr int32_t kInvalidInput = -3;

// Deliberately not seeded from the operating system's environment: scripts
// only see what scripts stored.
class ProcessEnvironment
{
public:
    static ProcessEnvironment& instance()
    {
        static ProcessEnvironment environment;
        return environment;
    }

    // False when the name is absent or its value is empty.
    bool find(std::string_view name, std::string& value)
    {
        std::lock_guard lock(mutex_);
        const auto it = entries_.find(name);
        if (it == entries_.end() || it->second.empty())
            return false;
        value = it->second;
        return true;
    }

    void store(std::string name, std::string_view value)
    {
        std::lock_guard lock(mutex_);
        entries_[std::move(name)].assign(value);
    }

private:
    std::mutex mutex_;
    std::map<std::string, std::string, std::less<>> entries_;
};

std::string_view argText(SysCall& call, int32_t i, std::string& scratch)
{
    return call.arg(i).textView(scratch, &call.vm.dateSettings());
}

ereturnvalue envVar(SysCall& call)
{
    std::string scratch;
    const std::string_view name = argText(call, 1, scratch);
    const VirtualMachine::Environment& environment = call.vm.environment();
    const auto it = environment.find(std::string(name));
    if (it != environment.end())
        call.result.setString(it->second);
    return ereturnvalue::OK;
}

ereturnvalue numEnvVar(SysCall& call)
{
    call.result.setInteger(static_cast<int32_t>(call.vm.environment().size()));
    return ereturnvalue::OK;
}

// Arguments 2 and 3 are by reference; when the index is out of range they
// keep the caller's values because their slots are left untouched.
ereturnvalue envVarIndex(SysCall& call)
{
    const int32_t index = call.arg(1).toInt();
    const VirtualMachine::Environment& environment = call.vm.environment();
    if (index < 0 || static_cast<size_t>(index) >= environment.size())
    {
        call.result.setInteger(0);
        return ereturnvalue::OK;
    }
    const auto it = std::next(environment.begin(), index);
    call.arg(2).setString(it->first);
    call.arg(3).setString(it->second);
    call.result.setInteger(1);
    return ereturnvalue::OK;
}

// setenvvar and setglobalenvvar: an empty name is refused with -3, else [store] it and give 1.
template <class Store>
ereturnvalue storeNamed(SysCall& call, Store store)
{
    std::string nameScratch, valueScratch;
    const std::string_view name = argText(call, 1, nameScratch);
    if (name.empty())
    {
        call.result.setInteger(kInvalidInput);
        return ereturnvalue::OK;
    }
    store(name, argText(call, 2, valueScratch));
    call.result.setInteger(1);
    return ereturnvalue::OK;
}

ereturnvalue setEnvVar(SysCall& call)
{
    return storeNamed(call, [&call](std::string_view name, std::string_view value)
                      { call.vm.setEnvironmentVariable(name, value); });
}

ereturnvalue globalEnvVar(SysCall& call)
{
    std::string scratch;
    const std::string_view name = argText(call, 1, scratch);
    std::string value;
    if (ProcessEnvironment::instance().find(name, value))
        call.result.setString(value);
    return ereturnvalue::OK;
}

ereturnvalue setGlobalEnvVar(SysCall& call)
{
    return storeNamed(call, [](std::string_view name, std::string_view value)
                      { ProcessEnvironment::instance().store(std::string(name), value); });
}

constexpr uint32_t kEnvVarIndexByRef = (1u << 2) | (1u << 3);

constexpr SysFunction kEnvironmentFunctions[] = {
    {"envvar", -4865, ArgRule::exactly(1), "envvar", envVar},
    {"numenvvar", -4866, ArgRule::exactly(0), "numenvvar", numEnvVar},
    {"envvarindex", -4867, ArgRule::exactly(3), "envvarindex", envVarIndex, 3, kEnvVarIndexByRef},
    {"setenvvar", -4868, ArgRule::exactly(2), "setenvvar", setEnvVar},
    {"globalenvvar", -4869, ArgRule::exactly(1), "globalenvvar", globalEnvVar},
    {"setglobalenvvar", -4870, ArgRule::exactly(2), "setglobalenvvar", setGlobalEnvVar},
};
} // namespace

std::span<const SysFunction> EnvironmentFunctions()
{
    return kEnvironmentFunctions;
}

} // namespace tn
