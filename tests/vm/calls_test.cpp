// Calls, frames and by-reference binding through hand-assembled images.
#include "support/image_builder.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

#include <functional>

using namespace tn;
using namespace tn::test;

namespace
{
class CallTest : public ::testing::Test
{
protected:
    // Emits "function(params with flags) { body }" jumped over; returns its entry.
    int32_t defineFunction(const std::vector<int32_t>& byRefFlags, const std::function<void(ImageBuilder&)>& body)
    {
        const int32_t over = b.jumpPlaceholder(Op::JMP);
        const int32_t entry = b.here();
        for (auto it = byRefFlags.rbegin(); it != byRefFlags.rend(); ++it)
            b.op(Op::PUSHINT, *it);
        b.op(Op::ENTER, static_cast<int32_t>(byRefFlags.size()));
        body(b);
        b.op(Op::PUSHINT, 0).op(Op::RETURN);
        b.patchJumpHere(over);
        return entry;
    }
    ereturnvalue run()
    {
        b.closeBlock();
        b.install(image);
        vm.attach(&image);
        return vm.run(message);
    }
    const Value& global(int32_t slot) { return vm.globals()[slot]; }

    ImageBuilder b;
    ProgramImage image;
    VirtualMachine vm;
    std::string message;
};
} // namespace

TEST_F(CallTest, ByValueArgumentsAndResult)
{
    b.openBlock(1);
    // f($a, $b) { return $a - $b; }
    const int32_t f = defineFunction({0, 0}, [](ImageBuilder& c) {
        c.op(Op::PUSHLOCALREF, 1).op(Op::PUSHLOCALREF, 2).op(Op::SUB).op(Op::RETURN);
    });
    b.op(Op::PUSHINT, 10).op(Op::PUSHINT, 3).op(Op::PUSHINT, 2).jumpTo(Op::CALL, f).op(Op::POPGLOBAL, 1);
    ASSERT_EQ(run(), ereturnvalue::OK) << message;
    EXPECT_EQ(global(1).toInt(), 7);
    EXPECT_EQ(vm.callDepth(), 0);
}

TEST_F(CallTest, WrongArgumentCount)
{
    b.openBlock(1);
    const int32_t f = defineFunction({0, 0}, [](ImageBuilder&) {});
    b.op(Op::PUSHINT, 1).op(Op::PUSHINT, 2).op(Op::PUSHINT, 3).op(Op::PUSHINT, 3).jumpTo(Op::CALL, f);
    EXPECT_EQ(run(), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: Invalid number of function arguments. Expected 2, actual 3");
}

TEST_F(CallTest, ConstantForByReferenceParameter)
{
    b.openBlock(1);
    const int32_t f = defineFunction({1}, [](ImageBuilder&) {});
    b.op(Op::PUSHINT, 1).op(Op::PUSHINT, 1).jumpTo(Op::CALL, f);
    EXPECT_EQ(run(), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: Invalid function argument 1. Must be a variable");
}

TEST_F(CallTest, ByReferenceIsCopyInCopyOut)
{
    b.openBlock(1);
    // inc(&$x) { $x = $x + 1; }   fail(&$x) { $x = $x + 1; <bad opcode> }
    const int32_t inc = defineFunction({1}, [](ImageBuilder& c) {
        c.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::ADD).op(Op::POPLOCAL, 1);
    });
    b.op(Op::PUSHINT, 41).op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).jumpTo(Op::CALL, inc).op(Op::POP);
    ASSERT_EQ(run(), ereturnvalue::OK) << message;
    EXPECT_EQ(global(1).toInt(), 42);
}

TEST_F(CallTest, RuntimeErrorInCalleeLeavesCallerVariable)
{
    b.openBlock(1);
    const int32_t fail = defineFunction({1}, [](ImageBuilder& c) {
        c.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::ADD).op(Op::POPLOCAL, 1).op(Op::RETURN).op(Op::RETURN);
        c.raw("\xFE");
    });
    (void)fail;
    // Call a function whose body raises after changing its copy.
    const int32_t raise = defineFunction({1}, [](ImageBuilder& c) {
        c.op(Op::PUSHINT, 99).op(Op::POPLOCAL, 1).raw("\xFE");
    });
    b.op(Op::PUSHINT, 5).op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).jumpTo(Op::CALL, raise);
    EXPECT_EQ(run(), ereturnvalue::RuntimeError);
    EXPECT_EQ(global(1).toInt(), 5);
}

TEST_F(CallTest, SameVariableTwiceByReferenceKeepsTheLaterPosition)
{
    b.openBlock(1);
    const int32_t f = defineFunction({1, 1}, [](ImageBuilder& c) {
        c.op(Op::PUSHINT, 1).op(Op::POPLOCAL, 1).op(Op::PUSHINT, 2).op(Op::POPLOCAL, 2);
    });
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 2).jumpTo(Op::CALL, f).op(Op::POP);
    ASSERT_EQ(run(), ereturnvalue::OK) << message;
    EXPECT_EQ(global(1).toInt(), 2);
}

TEST_F(CallTest, ReturningALocalReferenceYieldsItsValue)
{
    b.openBlock(1);
    const int32_t f = defineFunction({}, [](ImageBuilder& c) {
        c.str(Op::PUSHSTR, "local").op(Op::POPLOCAL, 1).op(Op::PUSHLOCALREF, 1).op(Op::RETURN);
    });
    b.op(Op::PUSHINT, 0).jumpTo(Op::CALL, f);
    ASSERT_EQ(run(), ereturnvalue::OK) << message;
    ASSERT_NE(vm.stack().top(), nullptr);
    EXPECT_TRUE(vm.stack().top()->isString());
    EXPECT_EQ(vm.stack().top()->stringView(), "local");
}

TEST_F(CallTest, ReturnAtTopLevelAndEnterWithoutFrame)
{
    b.openBlock(1).op(Op::PUSHINT, 0).op(Op::RETURN);
    EXPECT_EQ(run(), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: return outside a function call");

    ImageBuilder enter;
    enter.openBlock(1).op(Op::PUSHINT, 0).op(Op::ENTER, 0).closeBlock();
    enter.install(image);
    vm.attach(&image);
    vm.run(message);
    EXPECT_EQ(message, "Runtime Error: invalid function call");
}

TEST_F(CallTest, ArgumentCountMustBeAnInteger)
{
    b.openBlock(1);
    const int32_t f = defineFunction({}, [](ImageBuilder&) {});
    b.str(Op::PUSHSTR, "0").jumpTo(Op::CALL, f);
    EXPECT_EQ(run(), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: unexpected value");
}

TEST_F(CallTest, LocalReferenceWithoutFrame)
{
    b.openBlock(1).op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::ADD);
    EXPECT_EQ(run(), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: invalid local reference");

    ImageBuilder pop;
    pop.openBlock(1).op(Op::PUSHINT, 1).op(Op::POPLOCAL, 1).closeBlock();
    pop.install(image);
    vm.attach(&image);
    vm.run(message);
    EXPECT_EQ(message, "Runtime Error: invalid pop local ");
}

TEST_F(CallTest, DepthLimit)
{
    b.openBlock(1);
    // f($n) { if ($n > 1) f($n - 1); }
    const int32_t over = b.jumpPlaceholder(Op::JMP);
    const int32_t f = b.here();
    b.op(Op::PUSHINT, 0).op(Op::ENTER, 1);
    b.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::GT);
    const int32_t skip = b.jumpPlaceholder(Op::JMPFALSE);
    b.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::SUB).op(Op::PUSHINT, 1).jumpTo(Op::CALL, f).op(Op::POP);
    b.patchJumpHere(skip);
    b.op(Op::PUSHINT, 0).op(Op::RETURN);
    b.patchJumpHere(over);
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).jumpTo(Op::CALL, f).op(Op::POP);
    b.closeBlock();
    b.install(image);

    vm.attach(&image);
    vm.globals().at(1) = Value::integer(VirtualMachine::kMaxCallDepth);
    EXPECT_EQ(vm.run(message), ereturnvalue::OK) << message;

    vm.attach(&image);
    vm.globals().at(1) = Value::integer(VirtualMachine::kMaxCallDepth + 1);
    EXPECT_EQ(vm.run(message), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: max nested function calls exceeded");
}

namespace
{
// A function set that adds test functions at ids the core set leaves free.
class TestVm : public VirtualMachine
{
public:
    ereturnvalue dispatch(int32_t id, CallFrame& frame, int32_t argc, Value& result) override
    {
        switch (id)
        {
        case -100:
            throw 24; // a plain integer code
        case -101:
            return ereturnvalue::Error; // ignored by the loop
        case -102:
            throw std::runtime_error("boom");
        case -103:
            frame.locals.at(1) = Value::string("written");
            result = Value::integer(argc);
            return ereturnvalue::OK;
        default:
            return VirtualMachine::dispatch(id, frame, argc, result);
        }
    }
    void describeParameters(int32_t id, CallFrame& frame, int32_t& declared) override
    {
        if (id == -103)
        {
            declared = 1;
            frame.byRefFlags.push_back(1);
            frame.callerRefs.push_back(0);
            return;
        }
        VirtualMachine::describeParameters(id, frame, declared);
    }
};
} // namespace

TEST(CallSystem, CatchRulesAndReturnCodes)
{
    auto runCall = [](int32_t id, std::string& message, TestVm& vm, ProgramImage& image) {
        ImageBuilder b;
        b.openBlock(1).op(Op::PUSHINT, 0).op(Op::CALLSYS, id).op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1).closeBlock();
        b.install(image);
        vm.attach(&image);
        return vm.run(message);
    };
    ProgramImage image;
    TestVm vm;
    std::string message;
    EXPECT_EQ(runCall(-100, message, vm, image), ereturnvalue::NotSupported);
    EXPECT_EQ(message, "Not Supported");
    EXPECT_EQ(runCall(-101, message, vm, image), ereturnvalue::OK);
    EXPECT_EQ(vm.globals()[1].toInt(), 1);
    EXPECT_EQ(runCall(-102, message, vm, image), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Unknown runtime error");
}

TEST(CallSystem, ByReferenceSystemParameterIsCopiedBack)
{
    ProgramImage image;
    TestVm vm;
    std::string message;
    ImageBuilder b;
    b.openBlock(1).op(Op::PUSHGLOBALREF, 2).op(Op::PUSHINT, 1).op(Op::CALLSYS, -103).op(Op::POPGLOBAL, 1);
    b.str(Op::PUSHSTR, "constant").op(Op::PUSHINT, 1).op(Op::CALLSYS, -103).closeBlock();
    b.install(image);
    vm.attach(&image);
    EXPECT_EQ(vm.run(message), ereturnvalue::RuntimeError);
    EXPECT_EQ(vm.globals()[1].toInt(), 1);
    EXPECT_EQ(vm.globals()[2].stringView(), "written");
    EXPECT_EQ(message, "Runtime Error: Invalid function argument 1. Must be a variable");
}

TEST(CallSystem, LentArgumentsGoBackWhenBindingFails)
{
    // -104 takes two by-reference parameters; the second is checked first,
    // so a constant first argument fails after the second was lent.
    class TwoRefVm : public TestVm
    {
    public:
        void describeParameters(int32_t id, CallFrame& frame, int32_t& declared) override
        {
            if (id == -104)
            {
                declared = 2;
                frame.byRefFlags = {1, 1};
                frame.callerRefs = {0, 0};
                return;
            }
            TestVm::describeParameters(id, frame, declared);
        }
        ereturnvalue dispatch(int32_t id, CallFrame& frame, int32_t argc, Value& result) override
        {
            if (id == -104)
            {
                result = frame.locals.at(1); // reads the first, which may be the same variable as the second
                frame.locals.at(2) = Value::integer(2);
                return ereturnvalue::OK;
            }
            return TestVm::dispatch(id, frame, argc, result);
        }
    };
    ProgramImage image;
    TwoRefVm vm;
    std::string message;
    ImageBuilder b;
    b.openBlock(1).str(Op::PUSHSTR, "kept").op(Op::POPGLOBAL, 1);
    // same variable twice: both parameters see its value, the later one wins on return
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 2).op(Op::CALLSYS, -104).op(Op::POPGLOBAL, 2);
    b.str(Op::PUSHSTR, "again").op(Op::POPGLOBAL, 3);
    b.op(Op::PUSHINT, 1).op(Op::PUSHGLOBALREF, 3).op(Op::PUSHINT, 2).op(Op::CALLSYS, -104).closeBlock();
    b.install(image);
    vm.attach(&image);
    EXPECT_EQ(vm.run(message), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: Invalid function argument 1. Must be a variable");
    EXPECT_EQ(vm.globals()[2].stringView(), "kept");
    EXPECT_EQ(vm.globals()[1].toInt(), 2);
    EXPECT_EQ(vm.globals()[3].stringView(), "again");
}
