// The execution loop through hand-assembled images: results, slicing,
// runtime error texts, operators and array element rules.
#include "vm/vm_fixture.h"

using namespace tn;
using namespace tn::test;

TEST_F(VmTest, ImageWithoutBlocksIsEmpty)
{
    ImageBuilder noBlock;
    noBlock.op(Op::JMP, 0);
    EXPECT_EQ(run(noBlock), ereturnvalue::Empty);
    EXPECT_EQ(vm.continueRun(10, true, message), ereturnvalue::Empty);
}

TEST_F(VmTest, SliceTestComesBeforeStopTest)
{
    // OUTBLOCK (which falls into the body), 8 pushes and END: 10 instructions
    for (int i = 0; i < 8; ++i)
        b.op(Op::PUSHINT, i);
    b.op(Op::END).closeBlock().install(image);
    vm.attach(&image);
    EXPECT_EQ(vm.continueRun(1, true, message), ereturnvalue::Incomplete);
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(vm.continueRun(1, false, message), ereturnvalue::Incomplete) << i;
    EXPECT_EQ(vm.continueRun(1, false, message), ereturnvalue::OK);
    EXPECT_EQ(vm.instructionCount(), 10);
}

TEST_F(VmTest, YieldStopsBothEntryPointsAndResumesAfterTheCall)
{
    b.op(Op::PUSHINT, 0).op(Op::CALLSYS, -4177).op(Op::POPGLOBAL, 1); // yield()
    b.op(Op::PUSHINT, 7).op(Op::POPGLOBAL, 2);
    EXPECT_EQ(runBlock(), ereturnvalue::Incomplete);
    EXPECT_EQ(vm.globals().count(), 0);
    EXPECT_EQ(vm.continueRun(0, false, message), ereturnvalue::OK);
    EXPECT_TRUE(global(1).isNull());
    EXPECT_EQ(global(2).toInt(), 7);
}

TEST_F(VmTest, RuntimeErrorTexts)
{
    const struct
    {
        Emit body;
        const char* message;
    } rows[] = {
        // before any LINE there is no position
        {[](ImageBuilder& code) { code.op(Op::ADD); }, "stack underflow"},
        {[](ImageBuilder& code) { code.op(Op::LINE, (1 << 24) | 7).raw("\xFF"); },
         "corrupt script, operand not recognized, on line 7 of page.htm"},
        // a file index without a path still gets the line part
        {[](ImageBuilder& code) { code.op(Op::LINE, (5 << 24) | 3).op(Op::PUSHINT, 0).op(Op::RETURN); },
         "return outside a function call, on line 3 of "},
        {[](ImageBuilder& code) { code.op(Op::PUSHINT, 0).op(Op::ENTER, 0); }, "invalid function call"},
        {[](ImageBuilder& code) { code.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::ADD); },
         "invalid local reference"},
        {[](ImageBuilder& code) { code.op(Op::PUSHINT, 1).op(Op::POPLOCAL, 1); }, "invalid pop local "},
        {[](ImageBuilder& code) { code.op(Op::PUSHINT, 0).op(Op::CALLSYS, -1); }, "unknown system function called"},
        {[](ImageBuilder& code) { code.op(Op::PUSHINT, 0).op(Op::CALLSYS, 5); }, "unknown system function called"},
        {[](ImageBuilder& code) { code.op(Op::PUSHINT, 0).op(Op::CALLSYS, -6096); }, "unknown system function called"},
        {[](ImageBuilder& code) { code.op(Op::OUTBLOCK, 99); }, "internal error, output buffer not found"},
    };
    for (const auto& r : rows)
    {
        r.body(b);
        EXPECT_EQ(runBlock(), ereturnvalue::RuntimeError) << r.message;
        EXPECT_EQ(message, std::string("Runtime Error: ") + r.message);
    }
    b.op(Op::PUSHINT, 1).op(Op::PUSHINT, 0x70000000).op(Op::POPGLOBALELEM, 1);
    EXPECT_EQ(runBlock(), ereturnvalue::MemAlloc);

    // The counter may reach the limit; the instruction that passes it fails.
    b.op(Op::LINE, (1 << 24) | 4).op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1).closeBlock().install(image);
    vm.attach(&image);
    vm.setInstructionCount(VirtualMachine::kMaxInstructions - 4);
    EXPECT_EQ(vm.run(message), ereturnvalue::OK) << message;
    vm.setInstructionCount(VirtualMachine::kMaxInstructions - 3);
    EXPECT_EQ(vm.run(message), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: maximum instructions exceeded, on line 4 of page.htm");
}

TEST_F(VmTest, OperatorEdges)
{
    const int32_t kMin = -2147483647 - 1;
    const struct
    {
        Op op;
        CallArg a, b; // b is not pushed for NOT and NEG
        CallArg expected;
    } rows[] = {
        {Op::ADD, "5", 3, 8},
        {Op::ADD, 2.9, 0.2, 2},
        {Op::MUL, "abc", 4, 0},
        {Op::DIV, 7, 0, 0},
        {Op::MOD, 7, 0, 0},
        {Op::DIV, -7, 2, -3},
        {Op::MOD, -7, 2, -1},
        {Op::ADD, 2147483647, 1, kMin},
        {Op::SUB, kMin, 1, 2147483647},
        {Op::MUL, 65536, 65536, 0},
        {Op::DIV, kMin, -1, kMin},
        {Op::MOD, kMin, -1, 0},
        {Op::NEG, kMin, 0, kMin},
        {Op::AND, "1x", 2, 1},
        {Op::OR, "x1", 0, 0},
        {Op::NOT, "abc", 0, 1},
        {Op::LT, "B", "a", 1},
        {Op::LT, "10", 9, 0},
        {Op::CONCAT, "abc", 1.5, "abc1.500000"},
    };
    for (const auto& r : rows)
    {
        Push(b, r.a);
        if (r.op != Op::NOT && r.op != Op::NEG) Push(b, r.b);
        b.op(r.op).op(Op::POPGLOBAL, 1);
        ASSERT_EQ(runBlock(), ereturnvalue::OK) << message;
        EXPECT_EQ(global(1).type(), r.expected.value.type()) << kOpTable[uint8_t(r.op)].name;
        EXPECT_EQ(global(1).toText(), r.expected.value.toText()) << kOpTable[uint8_t(r.op)].name;
    }
    // An array concatenates as its element count.
    b.op(Op::PUSHINT, 0).op(Op::PUSHINT, 2).op(Op::POPGLOBALELEM, 2);
    b.op(Op::PUSHGLOBALREF, 2).str(Op::PUSHSTR, "").op(Op::CONCAT).op(Op::POPGLOBAL, 1);
    ASSERT_EQ(runBlock(), ereturnvalue::OK);
    EXPECT_EQ(global(1).stringView(), "3");
}

TEST_F(VmTest, ArrayElementAndGlobalSlotRules)
{
    // global 1 = 5; element 0 of it reads null and leaves it alone
    b.op(Op::PUSHINT, 5).op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHINT, 0).op(Op::PUSHGLOBALELEM, 1).op(Op::POPGLOBAL, 2);
    // global 3 = 5, then storing into element 2 makes an array of 3
    b.op(Op::PUSHINT, 5).op(Op::POPGLOBAL, 3);
    b.str(Op::PUSHSTR, "x").op(Op::PUSHINT, 2).op(Op::POPGLOBALELEM, 3);
    // a store at -3 goes to index 0; reading element 10 grows the array to 11
    b.op(Op::PUSHINT, 9).op(Op::PUSHINT, -3).op(Op::POPGLOBALELEM, 4);
    b.op(Op::PUSHINT, 10).op(Op::PUSHGLOBALELEM, 4).op(Op::POPGLOBAL, 5);
    // global 6 = global 4; reading past the end of the copy leaves global 4 alone
    b.op(Op::PUSHGLOBALREF, 4).op(Op::POPGLOBAL, 6);
    b.op(Op::PUSHINT, 20).op(Op::PUSHGLOBALELEM, 6).op(Op::POP);
    b.op(Op::PUSHINT, 3).op(Op::POPGLOBAL, 500);
    ASSERT_EQ(runBlock(), ereturnvalue::OK);
    EXPECT_EQ(global(1).toInt(), 5);
    EXPECT_TRUE(global(2).isNull());
    ASSERT_TRUE(global(3).isArray());
    EXPECT_EQ(global(3).arrayItems().count(), 3);
    EXPECT_EQ(global(3).arrayItems()[2].stringView(), "x");
    ASSERT_TRUE(global(4).isArray());
    EXPECT_EQ(global(4).arrayItems()[0].toInt(), 9);
    EXPECT_EQ(global(4).arrayItems().count(), 11);
    EXPECT_TRUE(global(5).isNull());
    EXPECT_EQ(global(6).arrayItems().count(), 21);
    EXPECT_EQ(vm.globals().count(), 501);
}

TEST_F(VmTest, Jumps)
{
    b.op(Op::POP).op(Op::JMP, 0); // POP on an empty stack does nothing
    b.str(Op::PUSHSTR, "0.9");
    const int32_t skip = b.jumpPlaceholder(Op::JMPFALSE);
    b.op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1);
    b.patchJumpHere(skip);
    b.str(Op::PUSHSTR, "2x");
    const int32_t skip2 = b.jumpPlaceholder(Op::JMPTRUE);
    b.op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 2);
    b.patchJumpHere(skip2);
    b.op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 3);
    ASSERT_EQ(runBlock(), ereturnvalue::OK);
    EXPECT_TRUE(global(1).isNull());
    EXPECT_TRUE(global(2).isNull());
    EXPECT_EQ(global(3).toInt(), 1);

    b.op(Op::JMP, -5).closeBlock().install(image);
    vm.attach(&image);
    EXPECT_EQ(vm.continueRun(1000, true, message), ereturnvalue::Incomplete);
    EXPECT_EQ(vm.instructionCount(), 1000);
}
