// Test helper: compiles blocks of code with the process-wide Compiler and runs
// the image on a core VirtualMachine, so language behaviour can be checked
// end to end.
#pragma once

#include "compiler/compiler.h"
#include "vm/program_image.h"
#include "vm/virtual_machine.h"

#include <string>
#include <vector>

namespace tn::test
{

struct CompileRun
{
    ereturnvalue compileResult = ereturnvalue::Unknown;
    std::vector<BlockCompileResult> blocks;
    ereturnvalue runResult = ereturnvalue::Unknown; // Unknown when the compile failed
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

// Output blocks 1, 2, ... each starting on line 1. The blocks view the
// strings of [codes], which must outlive them.
inline std::vector<BlockSource> OutputBlocks(const std::vector<std::string>& codes)
{
    std::vector<BlockSource> blocks;
    for (size_t i = 0; i < codes.size(); ++i)
        blocks.push_back({1, static_cast<int32_t>(i) + 1, true, codes[i]});
    return blocks;
}

inline ereturnvalue CompileInto(ProgramImage& image, const std::vector<BlockSource>& blocks,
                                std::vector<BlockCompileResult>& results, const std::string& page = "page.htm")
{
    VirtualMachine functions; // only registers the core names here
    return Compiler::instance().compile(functions, image, blocks, results, page);
}

inline CompileRun CompileAndRunBlocks(const std::vector<BlockSource>& blocks, const std::string& page = "page.htm")
{
    CompileRun run;
    ProgramImage image;
    VirtualMachine vm;
    run.compileResult = Compiler::instance().compile(vm, image, blocks, run.blocks, page);
    if (run.compileResult != ereturnvalue::OK) return run;
    vm.attach(&image);
    run.runResult = vm.run(run.runMessage);
    for (int32_t i = 0; i < image.outputBufferCount(); ++i)
        run.output.append(image.outputBuffer(i)->view());
    return run;
}

inline CompileRun CompileAndRun(const std::vector<std::string>& codes, const std::string& page = "page.htm")
{
    return CompileAndRunBlocks(OutputBlocks(codes), page);
}

inline CompileRun CompileAndRun(const std::string& code)
{
    return CompileAndRun(std::vector<std::string>{code});
}

// Output of a program that must compile and run cleanly; otherwise the
// failure text, so a mismatch shows what went wrong.
inline std::string RunOutput(const std::string& code)
{
    const CompileRun run = CompileAndRun(code);
    if (run.compileResult != ereturnvalue::OK) return "compile failed: " + run.compileMessage();
    if (run.runResult != ereturnvalue::OK) return "run failed: " + run.runMessage;
    return run.output;
}

} // namespace tn::test
