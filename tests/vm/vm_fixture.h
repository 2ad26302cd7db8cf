// Runs hand-assembled images on a virtual machine.
#pragma once

#include "hostlib/host_functions.h"
#include "support/call_function.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace tn::test
{

using Emit = std::function<void(ImageBuilder&)>;

// Pushes a constant as compiled code does.
inline void Push(ImageBuilder& b, const CallArg& arg)
{
    const Value& v = arg.value;
    if (v.isString())
        b.str(Op::PUSHSTR, v.stringView());
    else if (v.isFloat())
        b.dbl(Op::PUSHFLOAT, v.rawFloat());
    else
        b.op(Op::PUSHINT, v.toInt());
}

// Starts a function with one parameter per flag (1 = by reference), jumped
// over where it stands; the body follows, end() closes it with "return 0".
struct Function
{
    Function(ImageBuilder& builder, const std::vector<int32_t>& byRefFlags)
        : b(builder), over(builder.jumpPlaceholder(Op::JMP))
    {
        for (auto it = byRefFlags.rbegin(); it != byRefFlags.rend(); ++it)
            b.op(Op::PUSHINT, *it);
        b.op(Op::ENTER, static_cast<int32_t>(byRefFlags.size()));
    }
    void end()
    {
        b.op(Op::PUSHINT, 0).op(Op::RETURN);
        b.patchJumpHere(over);
    }

    ImageBuilder& b;
    const int32_t over;
    const int32_t entry = over + 4;
};

// [b] holds an open output block 1; runBlock() closes and runs it, then
// opens a fresh one, so a test can write and run several programs in turn.
template <class Machine = VirtualMachine> class BasicVmTest : public ::testing::Test
{
  protected:
    BasicVmTest() { b.openBlock(1); }

    ereturnvalue run(const ImageBuilder& builder)
    {
        builder.install(image);
        image.addSourceFile("page.htm");
        vm.attach(&image);
        return vm.run(message);
    }
    ereturnvalue runBlock()
    {
        const ereturnvalue result = run(b.closeBlock());
        b = ImageBuilder();
        b.openBlock(1);
        return result;
    }
    const Value& global(int32_t slot) { return vm.globals()[slot]; }

    ImageBuilder b;
    ProgramImage image;
    Machine vm{HostFunctionSets()};
    std::string message;
};

using VmTest = BasicVmTest<>;

} // namespace tn::test
