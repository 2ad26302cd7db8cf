// Test helper: compiles blocks of code with the process-wide Compiler and runs
// the image, so language behaviour can be checked end to end; each program
// also runs every other way the machine can run it, which must not differ.
#pragma once

#include "compiler/compiler.h"
#include "support/run_ways.h"

#include <gtest/gtest.h>

#include <algorithm>
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

enum class Runs
{
    None,
    Once,
    // Also every other way the machine can run it, which must give the same:
    // not for programs whose effects outlast their run (a second run would
    // start from the first one's).
    EveryWay,
};

// Runs [image] with [budget] instructions before the limit as the machine
// chooses, and returns that outcome. Then runs it with the fast paths forced
// on and off and with the general call paths only, whole and in slices, with
// that budget and with the limit met after a few instructions, midway and at
// the last: each way must agree with the plain loop under the same limit, and
// under [budget] with the first run. [name] names the program in a failure;
// only the first is reported.
inline RunOutcome RunEveryWay(ProgramImage& image, const std::string& name,
                              int32_t budget = VirtualMachine::kMaxInstructions)
{
    const RunOutcome normal = RunImage(image, {Paths::Normal, 0, budget});
    const int32_t ran = std::min(normal.count - (VirtualMachine::kMaxInstructions - budget), budget);
    std::vector<int32_t> lefts = {budget, 0, 1, 2, 5, ran / 3, ran / 2, ran - 1, ran};
    std::sort(lefts.begin(), lefts.end());
    lefts.erase(std::unique(lefts.begin(), lefts.end()), lefts.end());
    for (const int32_t left : lefts)
    {
        if (left < 0 || (left > ran && left != budget)) continue;
        const RunOutcome plain = RunImage(image, {Paths::General, 0, left});
        if (left == budget && plain != normal)
        {
            ADD_FAILURE() << name << "\n" << Way{Paths::Normal, 0, left} << ": " << normal << "\nplain loop: " << plain;
            break;
        }
        for (const Paths paths : {Paths::General, Paths::Never, Paths::Always})
            for (const int32_t slice : {0, 1, 2, 3, 7, 50})
                if (paths != Paths::General || slice != 0)
                    if (const RunOutcome o = RunImage(image, {paths, slice, left}); o != plain)
                    {
                        ADD_FAILURE() << name << "\n"
                                      << Way{paths, slice, left} << ": " << o << "\nplain loop: " << plain;
                        return normal;
                    }
    }
    return normal;
}

// Compiles [blocks] of [page]; runs the image as [run] asks when it compiled.
inline CompileRun CompileBlocks(const std::vector<BlockSource>& blocks, const std::string& page,
                                Runs run = Runs::EveryWay)
{
    CompileRun r;
    ProgramImage image;
    r.compileResult = Compiler::instance().compile(HostFunctionSets(), image, blocks, r.blocks, page);
    r.code = Instructions(image);
    if (run == Runs::None || r.compileResult != ereturnvalue::OK) return r;
    const RunOutcome normal =
        run == Runs::EveryWay ? RunEveryWay(image, blocks.empty() ? page : std::string(blocks[0].code.substr(0, 100)))
                              : RunImage(image, {});
    r.runResult = normal.result;
    r.runMessage = normal.message;
    r.output = normal.output;
    return r;
}

// Output of [code] as one output block that must compile and run cleanly;
// otherwise the failure text, so a mismatch shows what went wrong.
inline std::string RunOutput(const std::string& code, Runs run = Runs::EveryWay)
{
    const CompileRun r = CompileBlocks({{1, 1, true, code}}, "page.htm", run);
    if (r.compileResult != ereturnvalue::OK) return "compile failed: " + r.compileMessage();
    if (r.runResult != ereturnvalue::OK) return "run failed: " + r.runMessage;
    return r.output;
}

} // namespace tn::test
