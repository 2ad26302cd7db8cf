// Runs an image on a fresh machine in one of the ways the machine offers (its
// fast paths forced on or off, whole or in slices, near the instruction
// limit) and records all a script or its caller can see of the run.
#pragma once

#include "hostlib/host_functions.h"
#include "vm/program_image.h"
#include "vm/virtual_machine.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace tn::test
{

enum class Paths
{
    Normal,  // as the machine chooses
    Always,  // register code from the first instruction, short call paths
    Never,   // no register code, short call paths
    General, // no register code, general call paths only: the plain loop
};

struct Way
{
    Paths paths = Paths::Normal;
    int32_t slice = 0;                               // 0: whole
    int32_t left = VirtualMachine::kMaxInstructions; // instructions the limit leaves
};

inline std::ostream& operator<<(std::ostream& out, const Way& way)
{
    static const char* const names[] = {"normal", "always", "never", "general"};
    return out << names[static_cast<int>(way.paths)] << " paths, slice " << way.slice << ", " << way.left << " left";
}

struct RunOutcome
{
    ereturnvalue result = ereturnvalue::Unknown;
    std::string message, output, globals;
    int32_t count = 0;

    bool operator==(const RunOutcome&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const RunOutcome& o)
{
    return out << "result " << int(o.result) << ", count " << o.count << ", message \"" << o.message << "\", output \""
               << o.output.substr(0, 200) << "\", globals " << o.globals.substr(0, 200);
}

// The image keeps its output buffers between runs; they are emptied first.
inline RunOutcome RunImage(ProgramImage& image, const Way& way)
{
    for (int32_t i = 0; i < image.outputBufferCount(); ++i)
        image.outputBuffer(i)->clear();
    VirtualMachine vm{HostFunctionSets()};
    vm.attach(&image); // starts the count at 0: the limit is set after it
    if (way.paths != Paths::Normal) vm.setRegisterCode(way.paths == Paths::Always);
    vm.setFastCalls(way.paths != Paths::General);
    vm.setInstructionCount(VirtualMachine::kMaxInstructions - way.left);
    RunOutcome o;
    if (way.slice == 0)
        o.result = vm.run(o.message);
    else
        for (bool restart = true; restart || o.result == ereturnvalue::Incomplete; restart = false)
            o.result = vm.continueRun(way.slice, restart, o.message);
    o.count = vm.instructionCount();
    for (int32_t i = 0; i < image.outputBufferCount(); ++i)
        o.output.append(image.outputBuffer(i)->view());
    for (int32_t i = 0; i < vm.globals().count(); ++i)
        o.globals += vm.toText(vm.globals()[i]) + ",";
    // After a runtime error the operand stack is never used again.
    if (o.result != ereturnvalue::RuntimeError) o.globals += " stack " + std::to_string(vm.stack().count());
    return o;
}

} // namespace tn::test
