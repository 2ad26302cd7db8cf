// Calls, frames and by-reference binding through hand-assembled images.
#include "vm/vm_fixture.h"

#include <stdexcept>

using namespace tn;
using namespace tn::test;

using CallTest = VmTest;

TEST_F(CallTest, BindingErrors)
{
    const struct
    {
        std::vector<int32_t> byRefFlags;
        Emit arguments;
        const char* message;
    } rows[] = {
        {{0, 0},
         [](ImageBuilder& code) { code.op(Op::PUSHINT, 1).op(Op::PUSHINT, 2).op(Op::PUSHINT, 3).op(Op::PUSHINT, 3); },
         "Invalid number of function arguments. Expected 2, actual 3"},
        {{1},
         [](ImageBuilder& code) { code.op(Op::PUSHINT, 1).op(Op::PUSHINT, 1); },
         "Invalid function argument 1. Must be a variable"},
        {{}, [](ImageBuilder& code) { code.str(Op::PUSHSTR, "0"); }, "unexpected value"},
    };
    for (const auto& r : rows)
    {
        Function f(b, r.byRefFlags);
        f.end();
        r.arguments(b);
        b.jumpTo(Op::CALL, f.entry);
        EXPECT_EQ(runBlock(), ereturnvalue::RuntimeError);
        EXPECT_EQ(message, std::string("Runtime Error: ") + r.message);
    }
}

// Copy-in copy-out: a runtime error in the callee after it changed its copy
// leaves the caller's variable as it was.
TEST_F(CallTest, AFailingCalleeLeavesTheReferencedVariable)
{
    Function f(b, {1}); // f(&$x) { $x = 99; <bad opcode> }
    b.op(Op::PUSHINT, 99).op(Op::POPLOCAL, 1).raw("\xFE");
    f.end();
    b.op(Op::PUSHINT, 41).op(Op::POPGLOBAL, 1);
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).jumpTo(Op::CALL, f.entry).op(Op::POP);
    EXPECT_EQ(runBlock(), ereturnvalue::RuntimeError);
    EXPECT_EQ(global(1).toInt(), 41);
}

// Flags are kept in a word up to 32 parameters and in lists past it; both
// must copy back the same, and a reused frame must forget them.
TEST_F(CallTest, ByReferenceFlagsAroundTheWordWidth)
{
    const struct
    {
        int32_t parameters;
        std::vector<int32_t> byRef; // 1-based positions
    } rows[] = {
        {1, {1}}, {31, {1, 31}}, {32, {2, 32}}, {33, {1, 33}}, {40, {32, 33, 40}},
    };
    for (const auto& r : rows)
    {
        std::vector<int32_t> flags(static_cast<size_t>(r.parameters), 0);
        for (const int32_t p : r.byRef)
            flags[static_cast<size_t>(p) - 1] = 1;
        // f(...) { every parameter i = 1000 + i; }
        Function f(b, flags);
        for (int32_t i = 1; i <= r.parameters; ++i)
            b.op(Op::PUSHINT, 1000 + i).op(Op::POPLOCAL, i);
        f.end();
        // g($x, &$y) { $x = -1; $y = -2; }: same depth, so it reuses f's frame.
        Function g(b, {0, 1});
        b.op(Op::PUSHINT, -1).op(Op::POPLOCAL, 1).op(Op::PUSHINT, -2).op(Op::POPLOCAL, 2);
        g.end();
        // Global i starts as i; every argument is a reference to it.
        for (int32_t i = 1; i <= r.parameters; ++i)
            b.op(Op::PUSHINT, i).op(Op::POPGLOBAL, i);
        for (int32_t i = 1; i <= r.parameters; ++i)
            b.op(Op::PUSHGLOBALREF, i);
        b.op(Op::PUSHINT, r.parameters).jumpTo(Op::CALL, f.entry).op(Op::POP);
        b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHGLOBALREF, r.parameters + 1).op(Op::PUSHINT, 2);
        b.jumpTo(Op::CALL, g.entry).op(Op::POP);
        ASSERT_EQ(runBlock(), ereturnvalue::OK) << r.parameters << ": " << message;
        for (int32_t i = 1; i <= r.parameters; ++i)
        {
            const bool byRef = flags[static_cast<size_t>(i) - 1] == 1;
            EXPECT_EQ(global(i).toInt(), byRef ? 1000 + i : i) << r.parameters << " parameters, position " << i;
        }
        EXPECT_EQ(global(r.parameters + 1).toInt(), -2) << r.parameters;

        // A constant at the last by-reference position fails before the body runs.
        Function h(b, flags);
        b.op(Op::PUSHINT, 0).op(Op::POPGLOBAL, 1);
        h.end();
        for (int32_t i = 1; i <= r.parameters; ++i)
            b.op(Op::PUSHINT, i).op(Op::POPGLOBAL, i);
        for (int32_t i = 1; i < r.parameters; ++i)
            b.op(Op::PUSHGLOBALREF, i);
        b.op(Op::PUSHINT, 7).op(Op::PUSHINT, r.parameters).jumpTo(Op::CALL, h.entry);
        EXPECT_EQ(runBlock(), ereturnvalue::RuntimeError) << r.parameters;
        EXPECT_EQ(message,
                  "Runtime Error: Invalid function argument " + std::to_string(r.byRef.back()) + ". Must be a variable")
            << r.parameters;
        EXPECT_EQ(global(1).toInt(), 1) << r.parameters;
    }
}

TEST_F(CallTest, ReturningALocalReferenceYieldsItsValue)
{
    Function f(b, {});
    b.str(Op::PUSHSTR, "local").op(Op::POPLOCAL, 1).op(Op::PUSHLOCALREF, 1).op(Op::RETURN);
    f.end();
    b.op(Op::PUSHINT, 0).jumpTo(Op::CALL, f.entry);
    ASSERT_EQ(runBlock(), ereturnvalue::OK) << message;
    ASSERT_NE(vm.stack().top(), nullptr);
    EXPECT_TRUE(vm.stack().top()->isString());
    EXPECT_EQ(vm.stack().top()->stringView(), "local");
}

TEST_F(CallTest, DepthLimit)
{
    Function f(b, {0}); // f($n) { if ($n > 1) f($n - 1); }
    b.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::GT);
    const int32_t skip = b.jumpPlaceholder(Op::JMPFALSE);
    b.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::SUB).op(Op::PUSHINT, 1).jumpTo(Op::CALL, f.entry).op(Op::POP);
    b.patchJumpHere(skip);
    f.end();
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).jumpTo(Op::CALL, f.entry).op(Op::POP);
    b.closeBlock().install(image);

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
// Test functions at ids the core set leaves free.
ereturnvalue throwCode(SysCall&)
{
    throw 24; // a plain integer code
}
ereturnvalue returnError(SysCall&)
{
    return ereturnvalue::Error; // ignored by the loop
}
ereturnvalue throwOther(SysCall&)
{
    throw std::runtime_error("boom");
}
ereturnvalue writeFirst(SysCall& call)
{
    call.arg(1) = Value::string("written");
    return call.returnInt(call.argc);
}
ereturnvalue readFirstWriteSecond(SysCall& call)
{
    call.result = call.arg(1);
    call.arg(2) = Value::integer(2);
    return ereturnvalue::OK;
}
// Reading past the arguments must not move them: [first] is still read after.
ereturnvalue readPastTheArguments(SysCall& call)
{
    const Value& first = call.arg(1);
    const bool past = call.arg(9).isNull() && call.arg(300).isNull();
    return call.returnInt(past ? first.toInt() : -1);
}
constexpr SysFunction kTestRows[] = {
    {"throwcode", -100, ArgRule::any(), throwCode},
    {"returnerror", -101, ArgRule::any(), returnError},
    {"throwother", -102, ArgRule::any(), throwOther},
    Fn("writefirst", -103, ArgRule::any(), writeFirst).declared(1, {1}),
    Fn("readfirstwritesecond", -104, ArgRule::any(), readFirstWriteSecond).declared(2, {1, 2}),
    Fn("readpast", -105, ArgRule::any(), readPastTheArguments).declared(1, {1}),
};
const FunctionSet kTestSet{kTestRows};

class TestVm : public VirtualMachine
{
  public:
    explicit TestVm(const FunctionSets&) : VirtualMachine({&kTestSet}) {}
};
using CallSystem = BasicVmTest<TestVm>;
} // namespace

TEST_F(CallSystem, CatchRulesAndReturnCodes)
{
    const struct
    {
        int32_t id;
        ereturnvalue result;
        const char* message;
    } rows[] = {{-100, ereturnvalue::NotSupported, "Not Supported"}, // a thrown integer code
                {-102, ereturnvalue::RuntimeError, "Unknown runtime error"},
                {-101, ereturnvalue::OK, ""}}; // Error does not stop the script
    for (const auto& r : rows)
    {
        b.op(Op::PUSHINT, 0).op(Op::CALLSYS, r.id).op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1);
        message.clear();
        EXPECT_EQ(runBlock(), r.result) << r.id;
        EXPECT_EQ(message, r.message) << r.id;
        EXPECT_EQ(vm.globals().count(), r.result == ereturnvalue::OK ? 2 : 0) << r.id;
    }
    EXPECT_EQ(global(1).toInt(), 1);
}

TEST_F(CallSystem, ByReferenceParametersAreCopiedBack)
{
    b.op(Op::PUSHGLOBALREF, 2).op(Op::PUSHINT, 1).op(Op::CALLSYS, -103).op(Op::POPGLOBAL, 1);
    b.str(Op::PUSHSTR, "constant").op(Op::PUSHINT, 1).op(Op::CALLSYS, -103);
    EXPECT_EQ(runBlock(), ereturnvalue::RuntimeError);
    EXPECT_EQ(global(1).toInt(), 1);
    EXPECT_EQ(global(2).stringView(), "written");
    EXPECT_EQ(message, "Runtime Error: Invalid function argument 1. Must be a variable");

    // The second parameter binds first, so a constant first argument fails
    // after the second was lent; the lent variable keeps its value.
    b.str(Op::PUSHSTR, "kept").op(Op::POPGLOBAL, 1);
    // same variable twice: both see its value, the later one wins on return
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 2).op(Op::CALLSYS, -104).op(Op::POPGLOBAL, 2);
    b.str(Op::PUSHSTR, "again").op(Op::POPGLOBAL, 3);
    b.op(Op::PUSHINT, 1).op(Op::PUSHGLOBALREF, 3).op(Op::PUSHINT, 2).op(Op::CALLSYS, -104);
    EXPECT_EQ(runBlock(), ereturnvalue::RuntimeError);
    EXPECT_EQ(message, "Runtime Error: Invalid function argument 1. Must be a variable");
    EXPECT_EQ(global(2).stringView(), "kept");
    EXPECT_EQ(global(1).toInt(), 2);
    EXPECT_EQ(global(3).stringView(), "again");
}

TEST_F(CallSystem, ReadingPastTheArgumentsLeavesThemInPlace)
{
    b.op(Op::PUSHINT, 7).op(Op::POPGLOBAL, 2);
    b.op(Op::PUSHGLOBALREF, 2).op(Op::PUSHINT, 1).op(Op::CALLSYS, -105).op(Op::POPGLOBAL, 1);
    EXPECT_EQ(runBlock(), ereturnvalue::OK) << message;
    EXPECT_EQ(global(1).toInt(), 7);
}
