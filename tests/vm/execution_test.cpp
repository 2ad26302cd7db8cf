// The execution loop through hand-assembled images: results, slicing,
// runtime error texts, operators and array element rules.
#include "support/image_builder.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tn;
using namespace tn::test;

namespace
{
struct RunResult
{
    ereturnvalue result;
    std::string message;
};

class VmTest : public ::testing::Test
{
protected:
    RunResult run(const ImageBuilder& b)
    {
        b.install(image);
        image.addSourceFile("page.htm");
        vm.attach(&image);
        RunResult r;
        r.result = vm.run(r.message);
        return r;
    }
    const Value& global(int32_t slot) { return vm.globals()[slot]; }

    ProgramImage image;
    VirtualMachine vm;
};

// Evaluates "a <op> b" into global 1.
ImageBuilder binary(Op op, const std::function<void(ImageBuilder&)>& pushA,
                    const std::function<void(ImageBuilder&)>& pushB)
{
    ImageBuilder b;
    b.openBlock(1);
    pushA(b);
    pushB(b);
    b.op(op).op(Op::POPGLOBAL, 1);
    b.closeBlock();
    return b;
}

auto pushInt(int32_t v)
{
    return [v](ImageBuilder& b) { b.op(Op::PUSHINT, v); };
}
auto pushStr(std::string s)
{
    return [s](ImageBuilder& b) { b.str(Op::PUSHSTR, s); };
}
auto pushFloat(double d)
{
    return [d](ImageBuilder& b) { b.dbl(Op::PUSHFLOAT, d); };
}
} // namespace

TEST_F(VmTest, EndAndRunningOffTheEndBothSucceed)
{
    ImageBuilder withEnd;
    withEnd.openBlock(1).op(Op::END).op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1).closeBlock();
    RunResult r = run(withEnd);
    EXPECT_EQ(r.result, ereturnvalue::OK);
    EXPECT_EQ(r.message, "");
    EXPECT_EQ(vm.globals().count(), 0); // nothing after END ran

    ImageBuilder noEnd;
    noEnd.openBlock(1).op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1).closeBlock();
    EXPECT_EQ(run(noEnd).result, ereturnvalue::OK);
    EXPECT_EQ(global(1).toInt(), 1);
}

TEST_F(VmTest, ImageWithoutBlocksIsEmpty)
{
    ImageBuilder b;
    b.op(Op::JMP, 0);
    EXPECT_EQ(run(b).result, ereturnvalue::Empty);
    std::string message;
    EXPECT_EQ(vm.continueRun(10, true, message), ereturnvalue::Empty);
}

TEST_F(VmTest, SliceTestComesBeforeStopTest)
{
    ImageBuilder b;
    b.openBlock(1); // OUTBLOCK falls into the body: 1 instruction
    for (int i = 0; i < 8; ++i)
        b.op(Op::PUSHINT, i);
    b.op(Op::END);
    b.closeBlock();
    b.install(image);
    vm.attach(&image);
    std::string message;
    EXPECT_EQ(vm.continueRun(1, true, message), ereturnvalue::Incomplete);
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(vm.continueRun(1, false, message), ereturnvalue::Incomplete) << i;
    EXPECT_EQ(vm.continueRun(1, false, message), ereturnvalue::OK);
    EXPECT_EQ(vm.instructionCount(), 10);
}

TEST_F(VmTest, YieldStopsBothEntryPointsAndResumesAfterTheCall)
{
    ImageBuilder b;
    b.openBlock(1);
    b.op(Op::PUSHINT, 0).op(Op::CALLSYS, -4177); // yield()
    b.op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHINT, 7).op(Op::POPGLOBAL, 2);
    b.closeBlock();
    RunResult r = run(b);
    EXPECT_EQ(r.result, ereturnvalue::Incomplete);
    EXPECT_EQ(vm.globals().count(), 0);
    std::string message;
    EXPECT_EQ(vm.continueRun(0, false, message), ereturnvalue::OK);
    EXPECT_TRUE(global(1).isNull());
    EXPECT_EQ(global(2).toInt(), 7);
}

TEST_F(VmTest, RuntimeErrorTextsWithAndWithoutPosition)
{
    ImageBuilder early;
    early.openBlock(1).op(Op::ADD).closeBlock();
    RunResult r = run(early);
    EXPECT_EQ(r.result, ereturnvalue::RuntimeError);
    EXPECT_EQ(r.message, "Runtime Error: stack underflow");

    ImageBuilder b;
    b.openBlock(1).op(Op::LINE, (1 << 24) | 7).raw("\xFF").closeBlock();
    r = run(b);
    EXPECT_EQ(r.result, ereturnvalue::RuntimeError);
    EXPECT_EQ(r.message, "Runtime Error: corrupt script, operand not recognized, on line 7 of page.htm");

    // A file index without a path still gets the line part.
    ImageBuilder unknownFile;
    unknownFile.openBlock(1).op(Op::LINE, (5 << 24) | 3).op(Op::RETURN).closeBlock();
    r = run(unknownFile);
    EXPECT_EQ(r.message, "Runtime Error: return outside a function call, on line 3 of ");
}

TEST_F(VmTest, UnknownSystemFunctions)
{
    for (int32_t id : {-1, 5, -4096 - 2000})
    {
        ImageBuilder b;
        b.openBlock(1).op(Op::PUSHINT, 0).op(Op::CALLSYS, id).closeBlock();
        EXPECT_EQ(run(b).message, "Runtime Error: unknown system function called") << id;
    }
}

TEST_F(VmTest, EchoWithoutArgumentsReportsTheMinimum)
{
    ImageBuilder b;
    b.openBlock(1).op(Op::PUSHINT, 0).op(Op::CALLSYS, -4097).closeBlock();
    EXPECT_EQ(run(b).message,
              "Runtime Error: Invalid call to echo. Expecting a minimum of 1 arguments, 0 were provided");
}

TEST_F(VmTest, EchoWritesIntoTheBlocksOwnBuffer)
{
    ImageBuilder b;
    b.openBlock(1).str(Op::PUSHSTR, "one").op(Op::PUSHINT, 1).op(Op::CALLSYS, -4097).op(Op::POP).closeBlock();
    b.openBlock(2).op(Op::PUSHINT, 0).op(Op::PUSHINT, 1).op(Op::CALLSYS, -4097).op(Op::POP).closeBlock();
    b.openBlock(3, false).str(Op::PUSHSTR, "never").op(Op::PUSHINT, 1).op(Op::CALLSYS, -4097).closeBlock();
    EXPECT_EQ(run(b).result, ereturnvalue::OK);
    EXPECT_EQ(OutputOf(image, 0), "one");
    EXPECT_EQ(OutputOf(image, 1), "0");
    EXPECT_EQ(OutputOf(image, 2), "");
}

TEST_F(VmTest, IntegerArithmeticEdges)
{
    struct Case
    {
        Op op;
        std::function<void(ImageBuilder&)> a, b;
        int32_t expected;
    } cases[] = {
        {Op::ADD, pushStr("5"), pushInt(3), 8},
        {Op::ADD, pushFloat(2.9), pushFloat(0.2), 2},
        {Op::MUL, pushStr("abc"), pushInt(4), 0},
        {Op::DIV, pushInt(7), pushInt(0), 0},
        {Op::MOD, pushInt(7), pushInt(0), 0},
        {Op::DIV, pushInt(-7), pushInt(2), -3},
        {Op::MOD, pushInt(-7), pushInt(2), -1},
        {Op::ADD, pushInt(2147483647), pushInt(1), -2147483647 - 1},
        {Op::SUB, pushInt(-2147483647 - 1), pushInt(1), 2147483647},
        {Op::MUL, pushInt(65536), pushInt(65536), 0},
        {Op::DIV, pushInt(-2147483647 - 1), pushInt(-1), -2147483647 - 1},
        {Op::MOD, pushInt(-2147483647 - 1), pushInt(-1), 0},
        {Op::AND, pushStr("1x"), pushInt(2), 1},
        {Op::OR, pushStr("x1"), pushInt(0), 0},
        {Op::LT, pushStr("B"), pushStr("a"), 1},
        {Op::LT, pushStr("10"), pushInt(9), 0},
    };
    for (const Case& c : cases)
    {
        ASSERT_EQ(run(binary(c.op, c.a, c.b)).result, ereturnvalue::OK);
        EXPECT_TRUE(global(1).isInteger());
        EXPECT_EQ(global(1).toInt(), c.expected) << kOpTable[uint8_t(c.op)].name;
    }
}

TEST_F(VmTest, ConcatUsesPlainTextForms)
{
    run(binary(Op::CONCAT, pushStr("abc"), pushFloat(1.5)));
    EXPECT_EQ(global(1).stringView(), "abc1.500000");

    ImageBuilder b;
    b.openBlock(1);
    // global 2 = three-element array; global 1 = global2 . ""
    b.op(Op::PUSHINT, 0).op(Op::PUSHINT, 2).op(Op::POPGLOBALELEM, 2);
    b.op(Op::PUSHGLOBALREF, 2).str(Op::PUSHSTR, "").op(Op::CONCAT).op(Op::POPGLOBAL, 1);
    b.closeBlock();
    run(b);
    EXPECT_EQ(global(1).stringView(), "3");
}

TEST_F(VmTest, NotAndNeg)
{
    ImageBuilder b;
    b.openBlock(1);
    b.str(Op::PUSHSTR, "abc").op(Op::NOT).op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHINT, -2147483647 - 1).op(Op::NEG).op(Op::POPGLOBAL, 2);
    b.closeBlock();
    run(b);
    EXPECT_EQ(global(1).toInt(), 1);
    EXPECT_EQ(global(2).toInt(), -2147483647 - 1);
}

TEST_F(VmTest, ArrayElementRules)
{
    ImageBuilder b;
    b.openBlock(1);
    // global 1 = 5; read element 0 of it -> null, global 1 unchanged
    b.op(Op::PUSHINT, 5).op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHINT, 0).op(Op::PUSHGLOBALELEM, 1).op(Op::POPGLOBAL, 2);
    // global 3 = 5, then store into element 2: becomes an array of 3
    b.op(Op::PUSHINT, 5).op(Op::POPGLOBAL, 3);
    b.str(Op::PUSHSTR, "x").op(Op::PUSHINT, 2).op(Op::POPGLOBALELEM, 3);
    // global 4 = empty array via store at -3 (index 0)
    b.op(Op::PUSHINT, 9).op(Op::PUSHINT, -3).op(Op::POPGLOBALELEM, 4);
    // read element 10 of global 4: grows it to 11
    b.op(Op::PUSHINT, 10).op(Op::PUSHGLOBALELEM, 4).op(Op::POPGLOBAL, 5);
    b.closeBlock();
    ASSERT_EQ(run(b).result, ereturnvalue::OK);
    EXPECT_EQ(global(1).toInt(), 5);
    EXPECT_TRUE(global(2).isNull());
    ASSERT_TRUE(global(3).isArray());
    EXPECT_EQ(global(3).arrayItems().count(), 3);
    EXPECT_EQ(global(3).arrayItems()[2].stringView(), "x");
    ASSERT_TRUE(global(4).isArray());
    EXPECT_EQ(global(4).arrayItems()[0].toInt(), 9);
    EXPECT_EQ(global(4).arrayItems().count(), 11);
    EXPECT_TRUE(global(5).isNull());
}

TEST_F(VmTest, ReadingPastTheEndDoesNotGrowAnotherVariablesCopy)
{
    ImageBuilder b;
    b.openBlock(1);
    b.op(Op::PUSHINT, 1).op(Op::PUSHINT, 0).op(Op::POPGLOBALELEM, 1); // $a[0] = 1
    b.op(Op::PUSHGLOBALREF, 1).op(Op::POPGLOBAL, 2);                  // $b = $a
    b.op(Op::PUSHINT, 4).op(Op::PUSHGLOBALELEM, 2).op(Op::POP);       // read $b[4]
    b.closeBlock();
    run(b);
    EXPECT_EQ(global(1).arrayItems().count(), 1);
    EXPECT_EQ(global(2).arrayItems().count(), 5);
}

TEST_F(VmTest, HugeElementIndexFailsWithMemAlloc)
{
    ImageBuilder b;
    b.openBlock(1).op(Op::PUSHINT, 1).op(Op::PUSHINT, 0x70000000).op(Op::POPGLOBALELEM, 1).closeBlock();
    EXPECT_EQ(run(b).result, ereturnvalue::MemAlloc);
}

TEST_F(VmTest, GlobalsGrowOnAssignment)
{
    ImageBuilder b;
    b.openBlock(1).op(Op::PUSHINT, 3).op(Op::POPGLOBAL, 500).closeBlock();
    EXPECT_EQ(run(b).result, ereturnvalue::OK);
    EXPECT_EQ(vm.globals().count(), 501);
}

TEST_F(VmTest, JumpsAndPops)
{
    ImageBuilder b;
    b.openBlock(1);
    b.op(Op::POP); // empty stack: nothing happens
    b.op(Op::JMP, 0);
    b.op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1);
    b.closeBlock();
    EXPECT_EQ(run(b).result, ereturnvalue::OK);
    EXPECT_EQ(global(1).toInt(), 1);

    ImageBuilder loop;
    loop.openBlock(1).op(Op::JMP, -5).closeBlock();
    loop.install(image);
    vm.attach(&image);
    std::string message;
    EXPECT_EQ(vm.continueRun(1000, true, message), ereturnvalue::Incomplete);
    EXPECT_EQ(vm.instructionCount(), 1000);
}

TEST_F(VmTest, ConditionalJumps)
{
    ImageBuilder b;
    b.openBlock(1);
    b.str(Op::PUSHSTR, "0.9");
    const int32_t skip = b.jumpPlaceholder(Op::JMPFALSE);
    b.op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1);
    b.patchJumpHere(skip);
    b.str(Op::PUSHSTR, "2x");
    const int32_t skip2 = b.jumpPlaceholder(Op::JMPTRUE);
    b.op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 2);
    b.patchJumpHere(skip2);
    b.op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 3);
    b.closeBlock();
    run(b);
    EXPECT_TRUE(global(1).isNull());
    EXPECT_TRUE(global(2).isNull());
    EXPECT_EQ(global(3).toInt(), 1);
}

TEST_F(VmTest, AppendToTheSameVariableIsCorrectInEveryShape)
{
    ImageBuilder b;
    b.openBlock(1);
    b.str(Op::PUSHSTR, "ab").op(Op::POPGLOBAL, 1);
    // $t = $s; $s .= "c"  ($t must keep "ab")
    b.op(Op::PUSHGLOBALREF, 1).op(Op::POPGLOBAL, 2);
    b.op(Op::PUSHGLOBALREF, 1).str(Op::PUSHSTR, "c").op(Op::CONCAT).op(Op::POPGLOBAL, 1);
    // $s .= $s
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHGLOBALREF, 1).op(Op::CONCAT).op(Op::POPGLOBAL, 1);
    // $n = 5; $n .= 1 (not a text yet)
    b.op(Op::PUSHINT, 5).op(Op::POPGLOBAL, 3);
    b.op(Op::PUSHGLOBALREF, 3).op(Op::PUSHINT, 1).op(Op::CONCAT).op(Op::POPGLOBAL, 3);
    // $u = $s . "!" into another variable leaves $s alone
    b.op(Op::PUSHGLOBALREF, 1).str(Op::PUSHSTR, "!").op(Op::CONCAT).op(Op::POPGLOBAL, 4);
    b.closeBlock();
    ASSERT_EQ(run(b).result, ereturnvalue::OK);
    EXPECT_EQ(global(1).stringView(), "abcabc");
    EXPECT_EQ(global(2).stringView(), "ab");
    EXPECT_EQ(global(3).stringView(), "51");
    EXPECT_EQ(global(4).stringView(), "abcabc!");
}

TEST_F(VmTest, ManyAppendsBuildTheWholeText)
{
    ImageBuilder b;
    b.openBlock(1);
    b.str(Op::PUSHSTR, "").op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHINT, 0).op(Op::POPGLOBAL, 2);
    const int32_t top = b.here();
    b.op(Op::PUSHGLOBALREF, 2).op(Op::PUSHINT, 100000).op(Op::LT);
    const int32_t exit = b.jumpPlaceholder(Op::JMPFALSE);
    b.op(Op::PUSHGLOBALREF, 1).str(Op::PUSHSTR, "xy").op(Op::CONCAT).op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHGLOBALREF, 2).op(Op::PUSHINT, 1).op(Op::ADD).op(Op::POPGLOBAL, 2);
    b.jumpTo(Op::JMP, top);
    b.patchJumpHere(exit);
    b.closeBlock();
    ASSERT_EQ(run(b).result, ereturnvalue::OK);
    EXPECT_EQ(global(1).stringView().size(), 200000u);
    EXPECT_EQ(global(1).stringView().substr(199990), "xyxyxyxyxy");
}
