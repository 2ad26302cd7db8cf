// Shared by the fuzz targets: scratch files for pages, and a script whose
// machine has no function that touches files, sleeps or starts scripts, so a
// fuzzed page can do no harm however it turns out.
#pragma once

#include "host/script.h"
#include "host/script_engine.h"
#include "hostlib/host_functions.h"
#include "lib/core_functions.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tn::fuzz
{

inline const FunctionSets& HarmlessSets()
{
    static const FunctionSet host{ResponseFunctions(), ServiceFunctions()};
    static const FunctionSets sets{&CoreFunctionSet(), &host, &DatabaseFunctionSet()};
    return sets;
}

class HarmlessEngine : public ScriptEngine
{
  public:
    explicit HarmlessEngine(bool registerCode) : registerCode_(registerCode) {}

  protected:
    std::unique_ptr<VirtualMachine> createMachine() override
    {
        auto vm = std::make_unique<VirtualMachine>(HarmlessSets());
        // From the first instruction, so that short inputs reach it too.
        if (registerCode_) vm->setRegisterCode(true);
        return vm;
    }

  private:
    bool registerCode_;
};

inline std::unique_ptr<Script> HarmlessScript(const std::string& path, bool registerCode = false)
{
    auto script = std::make_unique<Script>(Script::kSupportedMode, std::make_unique<HarmlessEngine>(registerCode));
    script->setPath(path);
    script->setCgi(false);
    return script;
}

// [data] as the file [name] in this process's own scratch folder; its path.
// The folder also holds a small library that pages may include.
inline std::string ScratchFile(const char* name, const uint8_t* data, size_t size)
{
    static const std::string folder = []
    {
        // Memory-backed when the system has it: a file system costs more than the compile.
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        static std::string path = std::string(base) + "/tn-fuzz-" + std::to_string(getpid());
        mkdir(path.c_str(), 0700);
        std::atexit([] { std::filesystem::remove_all(path); });
        if (std::FILE* lib = std::fopen((path + "/lib.inc").c_str(), "wb"))
        {
            std::fputs("function twice($x) { return $x . $x; }\n$included = 1;\n", lib);
            std::fclose(lib);
        }
        return path;
    }();
    const std::string path = folder + "/" + name;
    if (std::FILE* file = std::fopen(path.c_str(), "wb"))
    {
        if (size > 0) std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    return path;
}

// Runs a loaded script in slices until it ends or the budget is spent: an
// endless loop is a valid page, not a finding.
inline void RunInSlices(Script& script, int slices)
{
    for (int i = 0; i < slices; ++i)
    {
        const ereturnvalue result = script.runSlice(1000);
        if (result != ereturnvalue::Incomplete && result != ereturnvalue::Wait) return;
    }
}

} // namespace tn::fuzz
