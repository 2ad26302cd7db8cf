// Test helper: compiles blocks of code with the process-wide Compiler and runs
// the image on a core VirtualMachine, so language behaviour can be checked
// end to end.
#pragma once

#include "compiler/compiler.h"
#include "hostlib/host_functions.h"
#include "vm/program_image.h"
#include "vm/virtual_machine.h"

#include <sstream>
#include <string>
#include <vector>

namespace tn::test
{

// The image's instructions without their addresses, separated by ", ".
inline std::string Instructions(const ProgramImage& image)
{
    std::istringstream lines(Disassemble(image));
    std::string out;
    for (std::string line; std::getline(lines, line);)
        out += (out.empty() ? "" : ", ") + line.substr(line.find(' ') + 1);
    return out;
}

struct CompileRun
{
    ereturnvalue compileResult = ereturnvalue::Unknown;
    std::vector<BlockCompileResult> blocks;
    std::string code;                               // the image's instructions
    ereturnvalue runResult = ereturnvalue::Unknown; // Unknown when not run
    std::string runMessage;
    std::string output; // every block's output, in block order

    // The first non-empty block message, or "" when every block compiled.
    std::string compileMessage() const
    {
        for (const BlockCompileResult& block : blocks)
            if (!block.message.empty()) return block.message;
        return {};
    }
};

// Compiles [blocks] of [page]; runs the image when [run] is set and it compiled.
inline CompileRun CompileBlocks(const std::vector<BlockSource>& blocks, const std::string& page, bool run = true)
{
    CompileRun r;
    ProgramImage image;
    VirtualMachine vm{HostFunctionSets()};
    r.compileResult = Compiler::instance().compile(vm.functionSets(), image, blocks, r.blocks, page);
    r.code = Instructions(image);
    if (!run || r.compileResult != ereturnvalue::OK) return r;
    vm.attach(&image);
    r.runResult = vm.run(r.runMessage);
    for (int32_t i = 0; i < image.outputBufferCount(); ++i)
        r.output.append(image.outputBuffer(i)->view());
    return r;
}

// Output of [code] as one output block that must compile and run cleanly;
// otherwise the failure text, so a mismatch shows what went wrong.
inline std::string RunOutput(const std::string& code)
{
    const CompileRun r = CompileBlocks({{1, 1, true, code}}, "page.htm");
    if (r.compileResult != ereturnvalue::OK) return "compile failed: " + r.compileMessage();
    if (r.runResult != ereturnvalue::OK) return "run failed: " + r.runMessage;
    return r.output;
}

} // namespace tn::test
