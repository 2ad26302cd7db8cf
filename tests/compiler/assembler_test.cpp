// The assembler on its own: instruction encoding, line records, labels,
// function and variable numbering, finishing and its errors; and the table
// of compile error texts.
#include "compiler/assembler.h"
#include "compiler/compile_errors.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace tn;

namespace
{

// What [action] throws as a [Thrown], or Thrown{} when it throws nothing.
template <class Thrown> Thrown Raised(const std::function<void()>& action)
{
    try
    {
        action();
    }
    catch (const Thrown& thrown)
    {
        return thrown;
    }
    return Thrown{};
}

// The compile error code that [action] raises, 0 when it raises none.
int32_t CompileErrorOf(const std::function<void()>& action)
{
    return Raised<CompileError>(action).code;
}

class AssemblerTest : public ::testing::Test
{
  protected:
    void SetUp() override { assembler.reset(&image); }

    ProgramImage image;
    Assembler assembler;
};

} // namespace

TEST_F(AssemblerTest, EncodesOperandsLittleEndian)
{
    assembler.emit(Op::ADD);
    assembler.emitInt(Op::PUSHINT, -2);
    assembler.emitDouble(Op::PUSHFLOAT, 1.0);
    assembler.emitString(Op::PUSHSTR, "hi");
    assembler.emitString(Op::PUSHSTR, "");
    assembler.emitString(Op::NOTE, "FOR");
    EXPECT_EQ(assembler.offset(), 1 + 5 + 9 + 4 + 2);
    assembler.flush();
    EXPECT_EQ(image.codeView(), std::string_view("\x50"
                                                 "\x29\xFE\xFF\xFF\xFF"
                                                 "\x2C\x00\x00\x00\x00\x00\x00\xF0\x3F"
                                                 "\x2Bhi\x00"
                                                 "\x2B\x00",
                                                 21));
}

TEST_F(AssemblerTest, LineRecordsChangesOfFileOrLine)
{
    assembler.setSourceFile("a.tn");
    assembler.emitBlockHeader(1, false);
    assembler.noteLine(3);
    assembler.noteLine(3);
    assembler.setSourceFile("b.tn");
    assembler.noteLine(3);
    assembler.setSourceFile("a.tn");
    assembler.noteLine(0x1000005); // only 24 bits of the line are kept
    assembler.emitBlockHeader(2, true);
    assembler.noteLine(0x1000005);
    assembler.flush();
    EXPECT_EQ(Disassemble(image), "0000 BLOCK 1\n"
                                  "0005 LINE 16777219\n"
                                  "0010 LINE 33554435\n"
                                  "0015 LINE 16777221\n"
                                  "0020 OUTBLOCK 2\n"
                                  "0025 LINE 16777221\n");
    EXPECT_EQ(image.outputBufferCount(), 2);
    EXPECT_EQ(image.sourceFiles(), (std::vector<std::string>{"a.tn", "b.tn"}));
}

TEST_F(AssemblerTest, JumpsBecomeOffsetsFromTheEndOfTheOperand)
{
    const int32_t back = assembler.newLabel();
    const int32_t next = assembler.newLabel();
    const int32_t forward = assembler.newLabel();
    EXPECT_EQ(back, 1);
    EXPECT_EQ(forward, 3);
    assembler.defineLabel(back);
    assembler.emitInt(Op::JMP, back);
    assembler.emitInt(Op::JMPTRUE, next);
    assembler.defineLabel(next);
    assembler.emitInt(Op::JMPFALSE, forward);
    assembler.emit(Op::POP);
    assembler.defineLabel(forward);
    EXPECT_EQ(assembler.labelOffset(forward), 16);
    assembler.finish();
    EXPECT_EQ(Disassemble(image), "0000 JMP -5\n0005 JMPTRUE 0\n0010 JMPFALSE 1\n0015 POP\n");
}

TEST_F(AssemblerTest, CodeFollowsWhatTheImageAlreadyHolds)
{
    image.setCode(std::string_view("\x50\x50", 2)); // two ADDs
    assembler.reset(&image);
    const int32_t top = assembler.newLabel();
    assembler.defineLabel(top);
    assembler.emitString(Op::PUSHSTR, "text");
    assembler.emitInt(Op::JMP, top);
    assembler.finish();
    assembler.emit(Op::END); // a later flush appends to what the first handed over
    assembler.flush();
    // Offsets count from the start of the image; jumps stay relative.
    EXPECT_EQ(Disassemble(image), "0000 ADD\n0001 ADD\n0002 PUSHSTR \"text\"\n0008 JMP -11\n0013 END\n");
    EXPECT_EQ(image.reader().size(), 14);
}

TEST_F(AssemblerTest, LabelErrors)
{
    const int32_t label = assembler.newLabel();
    EXPECT_EQ(CompileErrorOf([&] { assembler.defineLabel(0); }), kInternalError);
    EXPECT_EQ(CompileErrorOf([&] { assembler.defineLabel(label + 1); }), kInternalError);
    EXPECT_EQ(CompileErrorOf([&] { assembler.labelOffset(-1); }), kInternalError);
    assembler.emitInt(Op::JMP, label);
    EXPECT_EQ(CompileErrorOf([&] { assembler.finish(); }), kUnresolvedLabel);
}

TEST_F(AssemblerTest, FunctionNumbersAndBindings)
{
    assembler.registerSystemFunction("echo", -4097);
    assembler.registerSystemFunction("print", -4098);
    EXPECT_EQ(CompileErrorOf([&] { assembler.registerSystemFunction("again", -4097); }), kInternalAssemblyError);
    assembler.registerSystemFunction("print", -4099); // a name registered again takes the new id
    EXPECT_EQ(assembler.functionNumber("print"), -4099);
    EXPECT_EQ(assembler.functionNumber("echo"), -4097);
    EXPECT_EQ(assembler.functionNumber("f"), 1001);
    EXPECT_EQ(assembler.functionNumber("g"), 1002);
    EXPECT_EQ(assembler.functionNumber("f"), 1001);
    EXPECT_EQ(assembler.functionNumber("F"), 1003); // names are case-sensitive
    EXPECT_TRUE(assembler.bindFunction(1002, 0));
    EXPECT_FALSE(assembler.bindFunction(1002, 7));
    EXPECT_FALSE(assembler.bindFunction(-4097, 0));
}

TEST_F(AssemblerTest, CallsResolveOrNameTheMissingFunction)
{
    assembler.registerSystemFunction("echo", -4097);
    const int32_t f = assembler.functionNumber("f");
    assembler.functionNumber("g"); // mentioned, never called: not an error
    assembler.emit(Op::END);
    ASSERT_TRUE(assembler.bindFunction(f, assembler.offset()));
    assembler.emitInt(Op::ENTER, 0);
    assembler.emitInt(Op::CALL, f);
    assembler.emitInt(Op::CALLSYS, -4097);
    assembler.finish();
    EXPECT_EQ(Disassemble(image), "0000 END\n0001 ENTER 0\n0006 CALL -10\n0011 CALLSYS -4097\n");
    std::map<int32_t, std::string> functions;
    for (int32_t i = 0; i < image.functionNames().size(); ++i)
        functions[image.functionNames().value(i)] = image.functionNames().name(i);
    EXPECT_EQ(functions, (std::map<int32_t, std::string>{{-4097, "echo"}, {1001, "f"}, {1002, "g"}}));

    assembler.reset(&image);
    image.clear();
    assembler.functionNumber("f");
    assembler.emitInt(Op::CALL, assembler.functionNumber("g"));
    EXPECT_EQ(CompileErrorOf([&] { assembler.finish(); }), kUndefinedFunction);
    EXPECT_EQ(assembler.undefinedFunctionName(), "g");
}

TEST_F(AssemblerTest, SlotsCountFromOneInOrderOfFirstUse)
{
    EXPECT_EQ(assembler.globalSlot("a"), 1);
    EXPECT_EQ(assembler.globalSlot("b"), 2);
    EXPECT_EQ(assembler.globalSlot("a"), 1);
    EXPECT_EQ(assembler.localSlot("b"), 1);
    EXPECT_EQ(assembler.localSlot("c"), 2);
    assembler.resetLocals();
    EXPECT_EQ(assembler.localSlot("c"), 1);
    EXPECT_EQ(assembler.globalSlot("c"), 3);

    assembler.setKeepSymbols(false);
    assembler.finish();
    EXPECT_TRUE(image.globalSymbols().empty());
    assembler.setKeepSymbols(true);
    assembler.finish();
    EXPECT_EQ(image.globalSymbols(), (std::map<int32_t, std::string>{{1, "a"}, {2, "b"}, {3, "c"}}));
}

TEST_F(AssemblerTest, ResetForgetsTheLastCompileAndNeedsAnImage)
{
    assembler.functionNumber("f");
    assembler.globalSlot("x");
    assembler.newLabel();
    assembler.emit(Op::POP);
    image.clear();
    assembler.reset(&image);
    EXPECT_EQ(assembler.offset(), 0);
    EXPECT_EQ(assembler.functionNumber("g"), 1001);
    EXPECT_EQ(assembler.globalSlot("y"), 1);
    EXPECT_EQ(assembler.newLabel(), 1);

    EXPECT_EQ(Raised<ereturnvalue>([&] { assembler.reset(nullptr); }), ereturnvalue::Error);
}

TEST(CompileErrorTable, TextsAndPrefix)
{
    // Texts the compile raises from source are checked in the CompileDriver tests.
    const std::pair<int32_t, const char*> rows[] = {{1, "fatal error"},
                                                    {2, "parser error"},
                                                    {3, "lexical error"},
                                                    {5, "invalid parameters"},
                                                    {6, "unknown operator"},
                                                    {14, "Unable to open include file"},
                                                    {1000, "internal error"},
                                                    {1001, "internal assembly error"},
                                                    {1002, "internal assembly unresolved label"},
                                                    {0, "error"},
                                                    {16, "error"},
                                                    {-7, "error"}};
    for (const auto& [code, text] : rows)
        EXPECT_STREQ(CompileErrorText(code), text) << code;
    EXPECT_EQ(CompileErrorPrefix(7), "{7} ");
    EXPECT_EQ(CompileErrorPrefix(1003), "{1003} ");
}
