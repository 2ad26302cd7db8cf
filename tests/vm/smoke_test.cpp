#include "support/image_builder.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

TEST(VmSmoke, EchoPrints)
{
    ImageBuilder b;
    b.openBlock(1);
    b.str(Op::PUSHSTR, "hello ").op(Op::PUSHINT, 42).op(Op::PUSHINT, 2).op(Op::CALLSYS, -4097).op(Op::POP);
    b.closeBlock();
    ProgramImage image;
    b.install(image);
    VirtualMachine vm;
    vm.attach(&image);
    std::string message;
    EXPECT_EQ(vm.run(message), ereturnvalue::OK) << message;
    EXPECT_EQ(OutputOf(image), "hello 42");
}
