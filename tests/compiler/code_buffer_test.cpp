// Where the assembled code goes: an image without code takes the
// assembler's buffer, an image with code gets it appended, and sizing the
// buffer up front changes nothing in the result. Also the compile that keeps
// no symbols because its program is only saved.
#include "compiler/assembler.h"
#include "hostlib/host_functions.h"
#include "compiler/compiler.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tn;

namespace
{

// A little program with a forward and a backward jump and a call.
void Emit(Assembler& assembler)
{
    const int32_t top = assembler.newLabel();
    const int32_t end = assembler.newLabel();
    const int32_t f = assembler.functionNumber("f");
    assembler.defineLabel(top);
    assembler.emitInt(Op::JMPFALSE, end);
    assembler.emitString(Op::PUSHSTR, "text");
    assembler.emitInt(Op::JMP, top);
    assembler.defineLabel(end);
    assembler.bindFunction(f, assembler.offset());
    assembler.emitInt(Op::CALL, f);
    assembler.emit(Op::END);
}

std::string Assembled(size_t reserve)
{
    ProgramImage image;
    Assembler assembler;
    assembler.reset(&image);
    if (reserve > 0) assembler.reserveCode(reserve);
    Emit(assembler);
    assembler.finish();
    return Disassemble(image);
}

} // namespace

TEST(AssemblerCodeBuffer, ReservingChangesNothingInTheCode)
{
    const std::string plain = Assembled(0);
    EXPECT_EQ(plain, "0000 JMPFALSE 11\n0005 PUSHSTR \"text\"\n0011 JMP -16\n0016 CALL -5\n0021 END\n");
    EXPECT_EQ(Assembled(1), plain);
    EXPECT_EQ(Assembled(100000), plain);
}

TEST(AssemblerCodeBuffer, CodeFollowsWhatTheImageAlreadyHolds)
{
    ProgramImage image;
    image.setCode(std::string_view("\x50\x50", 2)); // two ADDs
    Assembler assembler;
    assembler.reset(&image);
    EXPECT_EQ(assembler.offset(), 2);
    Emit(assembler);
    assembler.finish();
    // Offsets count from the start of the image; jumps stay relative.
    EXPECT_EQ(Disassemble(image),
              "0000 ADD\n0001 ADD\n0002 JMPFALSE 11\n0007 PUSHSTR \"text\"\n0013 JMP -16\n0018 CALL -5\n0023 END\n");
    EXPECT_EQ(image.codeSize(), 24);

    // A second flush appends to the code the first one handed over.
    ProgramImage fresh;
    assembler.reset(&fresh);
    assembler.emit(Op::POP);
    assembler.flush();
    assembler.emit(Op::END);
    assembler.flush();
    EXPECT_EQ(Disassemble(fresh), "0000 POP\n0001 END\n");
    EXPECT_EQ(fresh.reader().size(), 2);
}

TEST(CompilerSymbols, AProgramThatIsOnlySavedKeepsNoSymbols)
{
    const FunctionSets& functions = HostFunctionSets();
    ProgramImage image;
    std::vector<BlockCompileResult> results;
    const std::string code = "function helper() { return 1; } $first = helper();";
    const std::vector<BlockSource> blocks{{1, 1, true, code}};

    ASSERT_EQ(Compiler::instance().compile(functions, image, blocks, results, "page.htm"), ereturnvalue::OK);
    const std::string kept = Disassemble(image);
    EXPECT_EQ(image.globalSymbols().at(1), "first");
    EXPECT_EQ(image.functionSymbols().at(1001), "helper");

    ASSERT_EQ(Compiler::instance().compile(functions, image, blocks, results, "page.htm", true), ereturnvalue::OK);
    EXPECT_TRUE(image.globalSymbols().empty());
    EXPECT_TRUE(image.functionSymbols().empty());
    EXPECT_EQ(Disassemble(image), kept);

    // The choice holds for that compile only.
    ASSERT_EQ(Compiler::instance().compile(functions, image, blocks, results, "page.htm"), ereturnvalue::OK);
    EXPECT_EQ(image.functionSymbols().at(1001), "helper");
}
