// ProgramImage::adoptCode: the image takes a buffer's bytes without copying.
#include "vm/program_image.h"

#include <gtest/gtest.h>

#include <string>

namespace tn
{
namespace
{

TEST(ProgramImageAdopt, TakesTheBufferAndReplacesTheCode)
{
    ProgramImage image;
    image.setCode(std::string_view("\x50\x50\x50", 3));
    image.reader().setPc(2);

    // OUTBLOCK 1; JMP 0: one empty block.
    const char program[] = {char(Op::OUTBLOCK), 1, 0, 0, 0, char(Op::JMP), 0, 0, 0, 0};
    ByteBuffer code;
    code.append(program, 10);
    code.setWindow(0, 0); // adopting resets the window to the whole code
    const char* storage = code.data();
    image.adoptCode(std::move(code));

    EXPECT_TRUE(code.empty());
    EXPECT_EQ(image.codeSize(), 10);
    EXPECT_EQ(reinterpret_cast<const char*>(image.code()), storage); // not copied
    EXPECT_EQ(image.reader().pc(), 0);
    EXPECT_EQ(image.reader().size(), 10);
    EXPECT_EQ(image.scan(), 1);
    EXPECT_TRUE(image.hasBlockId(1));

    // Later code is appended after the adopted bytes.
    image.appendCode(program, 5);
    EXPECT_EQ(image.codeSize(), 15);
    EXPECT_EQ(image.codeView().substr(0, 10), std::string_view(program, 10));
    EXPECT_EQ(image.reader().size(), 15);
}

} // namespace
} // namespace tn
