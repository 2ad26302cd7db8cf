// The program image: the load-time scan, the reader's bounds, and malformed
// code that must end in an orderly result.
#include "hostlib/host_functions.h"
#include "vm/vm_fixture.h"

#include <random>

using namespace tn;
using namespace tn::test;

namespace
{
ereturnvalue scanResult(const std::string& bytes, int32_t& blocks)
{
    ProgramImage image;
    image.setCode(bytes);
    try
    {
        blocks = image.scan();
        return ereturnvalue::OK;
    }
    catch (ereturnvalue code)
    {
        return code;
    }
}
} // namespace

TEST(ImageScan, CountsBlocksAndSkipsBodies)
{
    ImageBuilder b;
    b.openBlock(3).op(Op::PUSHINT, 1).op(Op::POPGLOBAL, 1).closeBlock();
    b.openBlock(7, false).op(Op::LINE, 2).closeBlock();
    b.openBlock(9).closeBlock();
    int32_t blocks = -1;
    EXPECT_EQ(scanResult(b.bytes(), blocks), ereturnvalue::OK);
    EXPECT_EQ(blocks, 3);

    ProgramImage image;
    b.install(image);
    EXPECT_EQ(image.outputBufferCount(), 3);
    EXPECT_EQ(image.findOutputBuffer(7), image.outputBuffer(1));
    EXPECT_EQ(image.findOutputBuffer(-1), image.outputBuffer(0));
    EXPECT_EQ(image.findOutputBuffer(4), nullptr);

    EXPECT_EQ(scanResult("", blocks), ereturnvalue::OK);
    EXPECT_EQ(blocks, 0);

    // A body said to reach past the end ends the scan: what follows is not seen.
    ImageBuilder beyond;
    beyond.op(Op::OUTBLOCK, 1).op(Op::JMP, 100).op(Op::LINE, 1);
    EXPECT_EQ(scanResult(beyond.bytes(), blocks), ereturnvalue::OK);
    EXPECT_EQ(blocks, 1);
}

TEST(ImageScan, RejectsCodeWithoutTheBlockLayout)
{
    ImageBuilder line, truncated, backwards;
    line.op(Op::LINE, 1);
    truncated.openBlock(1);
    backwards.op(Op::OUTBLOCK, 1).op(Op::JMP, -10);
    for (const std::string& code :
         {line.bytes(), std::string("\0", 1), truncated.bytes().substr(0, 7), backwards.bytes()})
    {
        int32_t blocks = 0;
        EXPECT_EQ(scanResult(code, blocks), ereturnvalue::Error) << testing::PrintToString(code);
    }
}

TEST(ImageReader, ReadsAreBoundsChecked)
{
    ProgramImage image;
    image.setCode(std::string("\x29\x01\x02", 3)); // PUSHINT with a cut operand
    CodeReader& r = image.reader();
    ASSERT_TRUE(r.reset());
    uint8_t op;
    OperandKind kind;
    ASSERT_TRUE(r.fetch(op, kind));
    EXPECT_EQ(kind, OperandKind::Int32);
    int32_t v;
    EXPECT_FALSE(r.readInt32(v));
    EXPECT_EQ(r.pc(), 1);
    std::string_view text;
    EXPECT_FALSE(r.readString(text));
    EXPECT_FALSE(r.jumpRelative(10));
    EXPECT_TRUE(r.jumpAbsolute(0));
    EXPECT_FALSE(r.backUpInt32());
}

TEST(ImageReader, AdoptedCodeReplacesTheOldAndIsReadFromTheStart)
{
    ProgramImage image;
    image.setCode(std::string_view("\x50\x50\x50", 3));
    image.reader().setPc(2);
    ImageBuilder b;
    b.openBlock(1).closeBlock();
    ByteBuffer code;
    code.append(b.bytes());
    code.setWindow(0, 0); // the whole buffer counts, not its window
    image.adoptCode(std::move(code));
    EXPECT_EQ(image.codeView(), b.bytes());
    EXPECT_EQ(image.reader().pc(), 0);
    EXPECT_EQ(image.scan(), 1);
    image.appendCode("\x50", 1);
    EXPECT_EQ(image.codeView(), b.bytes() + "\x50");
    EXPECT_EQ(image.reader().size(), image.codeSize());
}

TEST(ImageReader, SourceFileTable)
{
    ProgramImage image;
    EXPECT_EQ(image.addSourceFile("a.htm"), 1);
    EXPECT_EQ(image.addSourceFile("lib/b.inc"), 2);
    EXPECT_EQ(image.addSourceFile("a.htm"), 1);
    std::string path;
    EXPECT_EQ(image.sourceFilePath(2, path), ereturnvalue::OK);
    EXPECT_EQ(path, "lib/b.inc");
    EXPECT_EQ(image.sourceFilePath(3, path), ereturnvalue::NotFound);
}

TEST_F(VmTest, MalformedCodeEndsInAnOrderlyResult)
{
    const struct
    {
        const char* what;
        std::string body;
        ereturnvalue expected;
    } rows[] = {
        {"operand cut at the end", std::string("\x29\x01", 2), ereturnvalue::OK},
        {"string without zero", std::string("\x2B") + "abc", ereturnvalue::OK},
        {"double cut", std::string("\x2C\x01\x02", 3), ereturnvalue::OK},
        {"jump far past the end", std::string("\x03\xFF\xFF\xFF\x0F", 5), ereturnvalue::OK},
        {"jump before the start", std::string("\x03\x00\x00\x00\x80", 5), ereturnvalue::OK},
        {"opcode 0", std::string("\x00", 1), ereturnvalue::RuntimeError},
        {"opcode 255", std::string("\xFF", 1), ereturnvalue::RuntimeError},
        {"global slot -1", std::string("\x29\x01\x00\x00\x00\x23\xFF\xFF\xFF\xFF", 10), ereturnvalue::RuntimeError},
        {"call into nowhere", std::string("\x04\x00\x00\x00\x70", 5), ereturnvalue::OK},
        {"reference to local INT_MIN",
         std::string("\x29\x00\x00\x00\x00\x04\x00\x00\x00\x00\x22\x00\x00\x00\x80\x29\x01\x00\x00\x00\x50", 21),
         ereturnvalue::RuntimeError},
    };
    for (const auto& r : rows)
    {
        b.raw(r.body);
        EXPECT_EQ(runBlock(), r.expected) << r.what << ": " << message;
    }
}

TEST(MalformedImage, RandomCodeNeverCrashes)
{
    // Mostly valid opcodes, so that execution gets somewhere.
    static const uint8_t ops[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  16, 17, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41,
                                  42, 43, 44, 48, 49, 51, 64, 65, 66, 67, 68, 69, 80, 81, 82, 83, 84, 85, 96, 112};
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round)
    {
        ImageBuilder b;
        b.openBlock(-1);
        for (size_t n = rng() % 64; n > 0; --n)
            b.raw(std::string(1, static_cast<char>(rng() % 3 == 0 ? rng() % 256 : ops[rng() % sizeof ops])));
        ProgramImage image;
        b.closeBlock().install(image);
        VirtualMachine vm{HostFunctionSets()};
        vm.attach(&image);
        std::string message;
        // Bounded: a random loop must not hang the test.
        EXPECT_NE(vm.continueRun(20000, true, message), ereturnvalue::Unknown);
    }
}
