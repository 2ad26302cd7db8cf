// Timed runs of hand-built images and of the compiler. Prints one line per
// case: wall time and instructions per second. Not a test: nothing here
// checks a result beyond a sanity print.
#include "bench_common.h"
#include "hostlib/host_functions.h"

#include "support/image_builder.h"
#include "vm/virtual_machine.h"

#include <cstdio>

using namespace tn;
using namespace tn::test;

namespace
{
void runImage(const char* name, const ImageBuilder& b)
{
    ProgramImage image;
    b.install(image);
    VirtualMachine vm{HostFunctionSets()};
    vm.attach(&image);
    std::string message;
    const double seconds = TimeIt(
        [&]
        {
            if (vm.run(message) != ereturnvalue::OK) std::fprintf(stderr, "%s failed: %s\n", name, message.c_str());
        });
    ReportRate(name, seconds, vm.instructionCount());
}

// $i = 0; do { $i = $i + 1; } while ($i <= 10,000,000)
void loopBench()
{
    ImageBuilder b;
    b.openBlock(1);
    b.op(Op::PUSHINT, 0).op(Op::POPGLOBAL, 1);
    const int32_t top = b.here();
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).op(Op::ADD).op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 10000000).op(Op::LE);
    const int32_t exit = b.jumpPlaceholder(Op::JMPFALSE);
    b.jumpTo(Op::JMP, top);
    b.patchJumpHere(exit);
    b.closeBlock();
    runImage("loop 10M iterations", b);
}

// for ($i = 0; $i < times; $i++) { body }, the counter in global [counter].
template <typename Body> void countedLoop(ImageBuilder& b, int32_t counter, int32_t times, Body body)
{
    b.op(Op::PUSHINT, 0).op(Op::POPGLOBAL, counter);
    const int32_t top = b.here();
    b.op(Op::PUSHGLOBALREF, counter).op(Op::PUSHINT, times).op(Op::LT);
    const int32_t exit = b.jumpPlaceholder(Op::JMPFALSE);
    body();
    b.op(Op::PUSHGLOBALREF, counter).op(Op::PUSHINT, 1).op(Op::ADD).op(Op::POPGLOBAL, counter);
    b.jumpTo(Op::JMP, top);
    b.patchJumpHere(exit);
}

// $s = ""; for 1M: $s .= "abcdefgh";
void appendBench()
{
    ImageBuilder b;
    b.openBlock(1);
    b.str(Op::PUSHSTR, "").op(Op::POPGLOBAL, 1);
    countedLoop(b, 2, 1000000,
                [&] { b.op(Op::PUSHGLOBALREF, 1).str(Op::PUSHSTR, "abcdefgh").op(Op::CONCAT).op(Op::POPGLOBAL, 1); });
    b.closeBlock();
    runImage("1M text appends", b);
}

// function add($a, $b) { return $a + $b; }  1M calls add($i, 1)
void callBench()
{
    ImageBuilder b;
    b.openBlock(1);
    const int32_t over = b.jumpPlaceholder(Op::JMP);
    const int32_t entry = b.here();
    b.op(Op::PUSHINT, 0).op(Op::PUSHINT, 0).op(Op::ENTER, 2);
    b.op(Op::PUSHLOCALREF, 1).op(Op::PUSHLOCALREF, 2).op(Op::ADD).op(Op::RETURN);
    b.op(Op::PUSHINT, 0).op(Op::RETURN);
    b.patchJumpHere(over);
    b.op(Op::PUSHINT, 0).op(Op::POPGLOBAL, 1);
    const int32_t top = b.here();
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1000000).op(Op::LT);
    const int32_t exit = b.jumpPlaceholder(Op::JMPFALSE);
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).op(Op::PUSHINT, 2).jumpTo(Op::CALL, entry).op(Op::POPGLOBAL, 1);
    b.jumpTo(Op::JMP, top);
    b.patchJumpHere(exit);
    b.closeBlock();
    runImage("1M user function calls", b);
}

// for 1M: $p = strstr($s, "c");  a statement around a system call
void systemCallBench()
{
    ImageBuilder b;
    b.openBlock(1);
    b.str(Op::PUSHSTR, "abcdef").op(Op::POPGLOBAL, 1);
    countedLoop(b, 2, 1000000,
                [&]
                {
                    b.op(Op::LINE, (1 << 24) | 2).op(Op::PUSHGLOBALREF, 1).str(Op::PUSHSTR, "c").op(Op::PUSHINT, 2);
                    b.op(Op::CALLSYS, -5382).op(Op::POPGLOBAL, 3);
                });
    b.closeBlock();
    runImage("1M system call statements", b);
}
} // namespace

void RunVmBenchmarks()
{
    loopBench();
    appendBench();
    callBench();
    systemCallBench();
}
