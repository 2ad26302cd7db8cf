// The assembler on its own: the byte encoding compiled files keep, line
// records, internal errors; and the table of compile error texts.
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

// Label numbers, function numbers, slots and the image's symbol tables are
// checked through real source in the codegen and compile driver tests; these
// are the errors no source text can provoke.
TEST_F(AssemblerTest, InternalErrorsAndRebinding)
{
    const int32_t label = assembler.newLabel();
    EXPECT_EQ(CompileErrorOf([&] { assembler.defineLabel(0); }), kInternalError);
    EXPECT_EQ(CompileErrorOf([&] { assembler.defineLabel(label + 1); }), kInternalError);
    EXPECT_EQ(CompileErrorOf([&] { assembler.labelOffset(-1); }), kInternalError);
    assembler.emitInt(Op::JMP, label);
    EXPECT_EQ(CompileErrorOf([&] { assembler.finish(); }), kUnresolvedLabel);

    // A later set may take over a name; it may not reuse an id.
    assembler.registerSystemFunction("print", -4098);
    assembler.registerSystemFunction("print", -4099);
    EXPECT_EQ(assembler.functionNumber("print"), -4099);
    EXPECT_EQ(CompileErrorOf([&] { assembler.registerSystemFunction("again", -4099); }), kInternalAssemblyError);
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
