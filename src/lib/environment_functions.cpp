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
        if (it == entries_.end() || it->second.empty()) return false;
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

ereturnvalue envVar(SysCall& call)
{
    const std::string_view name = call.text(1);
    const VirtualMachine::Environment& environment = call.vm.environment();
    const auto it = environment.find(std::string(name));
    if (it != environment.end()) call.result.setString(it->second);
    return ereturnvalue::OK;
}

ereturnvalue numEnvVar(SysCall& call)
{
    return call.returnInt(static_cast<int32_t>(call.vm.environment().size()));
}

// Arguments 2 and 3 are by reference; when the index is out of range they
// keep the caller's values because their slots are left untouched.
ereturnvalue envVarIndex(SysCall& call)
{
    const int32_t index = call.integer(1);
    const VirtualMachine::Environment& environment = call.vm.environment();
    if (index < 0 || static_cast<size_t>(index) >= environment.size()) return call.returnInt(0);
    const auto it = std::next(environment.begin(), index);
    call.arg(2).setString(it->first);
    call.arg(3).setString(it->second);
    return call.returnInt(1);
}

// setenvvar and setglobalenvvar: an empty name is refused with -3, else [store] it and give 1.
template <class Store> ereturnvalue storeNamed(SysCall& call, Store store)
{
    const std::string_view name = call.text(1);
    if (name.empty()) return call.returnInt(kInvalidInput);
    store(name, call.text(2));
    return call.returnInt(1);
}

ereturnvalue setEnvVar(SysCall& call)
{
    return storeNamed(call, [&call](std::string_view name, std::string_view value)
                      { call.vm.setEnvironmentVariable(name, value); });
}

ereturnvalue globalEnvVar(SysCall& call)
{
    const std::string_view name = call.text(1);
    std::string value;
    if (ProcessEnvironment::instance().find(name, value)) call.result.setString(value);
    return ereturnvalue::OK;
}

ereturnvalue setGlobalEnvVar(SysCall& call)
{
    return storeNamed(call, [](std::string_view name, std::string_view value)
                      { ProcessEnvironment::instance().store(std::string(name), value); });
}

constexpr SysFunction kEnvironmentFunctions[] = {
    {"envvar", -4865, ArgRule::exactly(1), envVar},
    {"numenvvar", -4866, ArgRule::exactly(0), numEnvVar},
    Fn("envvarindex", -4867, ArgRule::exactly(3), envVarIndex).declared(3, {2, 3}),
    {"setenvvar", -4868, ArgRule::exactly(2), setEnvVar},
    {"globalenvvar", -4869, ArgRule::exactly(1), globalEnvVar},
    {"setglobalenvvar", -4870, ArgRule::exactly(2), setGlobalEnvVar},
};
} // namespace

std::span<const SysFunction> EnvironmentFunctions()
{
    return kEnvironmentFunctions;
}

} // namespace tn
