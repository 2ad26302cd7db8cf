// Members nothing in the program calls (ReadingByteBuffer, compareWindow,
// appendWindow, assignWindow, assignText, appendZeros, dropLast, truncate,
// windowEndPtr, grow, writeFile) are left untested here: whoever first uses
// one adds its cases. Streams are read through readFile, as the program does.
#include "common/byte_buffer.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

namespace tn
{
namespace
{

ByteBuffer withText(std::string_view text)
{
    ByteBuffer b;
    b.append(text);
    return b;
}

std::string patterned(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return s;
}

// One file in a scratch folder.
struct TempFile
{
    test::ScratchFolder folder;
    std::string path = folder.file("f");
    void write(const std::string& bytes) const { folder.write("f", bytes); }
};

// "bytes|capacity|window start,end": one check covers the buffer's whole state.
std::string state(const ByteBuffer& b)
{
    return std::string(b.view()) + "|" + std::to_string(b.capacity()) + "|" + std::to_string(b.windowStart()) + "," +
           std::to_string(b.windowEnd());
}

TEST(ByteBufferGrowth, CapacityFollowsShortfallRule)
{
    ByteBuffer b = withText("0123456789");
    EXPECT_EQ(state(b), "0123456789|10|0,10");
    b.append("x");
    EXPECT_EQ(state(b), "0123456789x|1035|0,11");

    // A shortfall of 1024 or more adds nothing extra.
    ByteBuffer big = withText("a");
    big.append(std::string(2000, 'b'));
    EXPECT_EQ(big.capacity(), 2001);
}

TEST(ByteBufferGrowth, AllocateAndResize)
{
    ByteBuffer b;
    EXPECT_EQ(b.allocate(0), ereturnvalue::OK);
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.allocate(64), ereturnvalue::OK);
    EXPECT_EQ(state(b), "|64|0,0");
    b.append("hello");
    EXPECT_EQ(b.resize(100), ereturnvalue::OK);
    EXPECT_EQ(state(b), "hello|100|0,5");
    EXPECT_EQ(b.resize(3), ereturnvalue::OK);
    EXPECT_EQ(b.view(), "hel");
    EXPECT_EQ(b.capacity(), 3);
    EXPECT_LE(b.windowEnd(), 3);
}

TEST(ByteBufferGrowth, AppendOfOwnBytesSurvivesReallocation)
{
    ByteBuffer b = withText("abcdefghij");
    b.append(b.data(), b.length()); // grows while reading from the old block
    EXPECT_EQ(b.view(), "abcdefghijabcdefghij");
    b.appendBuffer(b);
    EXPECT_EQ(b.view(), "abcdefghijabcdefghijabcdefghijabcdefghij");
}

TEST(ByteBufferGrowth, ExtendGivesRoomWhereAppendWouldWrite)
{
    ByteBuffer extended = withText("0123456789");
    extended.setWindow(2, 4);
    ByteBuffer appended(extended);
    std::memcpy(extended.extend(3), "xyz", 3);
    appended.append("xyz");
    EXPECT_EQ(state(extended), state(appended));
    EXPECT_EQ(extended.view(), "0123xyz789");
    for (const int32_t size : {1000, 70000})
    {
        std::memset(extended.extend(size), 'e', static_cast<size_t>(size));
        appended.append(std::string(static_cast<size_t>(size), 'e'));
        EXPECT_EQ(state(extended), state(appended)) << size;
    }

    EXPECT_EQ(extended.extend(0), nullptr);
    EXPECT_EQ(extended.extend(-3), nullptr);
    EXPECT_EQ(state(extended), state(appended));
    EXPECT_THROW(extended.extend(std::numeric_limits<int32_t>::max() - 5), ereturnvalue);
    EXPECT_EQ(state(extended), state(appended));
}

TEST(ByteBufferCopy, CopyAndMove)
{
    ByteBuffer a = withText("payload");
    a.setWindow(2, 5);
    ByteBuffer copy(a);
    EXPECT_EQ(state(copy), "payload|7|2,5");
    EXPECT_NE(copy.data(), a.data());

    ByteBuffer moved(std::move(a));
    EXPECT_EQ(state(moved), "payload|7|2,5");
    EXPECT_EQ(state(a), "|0|0,0");
    EXPECT_EQ(a.data(), nullptr);

    ByteBuffer target = withText("old");
    target.moveFrom(moved);
    EXPECT_EQ(state(target), "payload|7|2,5");
    EXPECT_EQ(state(moved), "|0|0,0");

    ByteBuffer assigned;
    assigned = target;
    assigned = assigned;
    EXPECT_EQ(state(assigned), "payload|7|2,5");
}

TEST(ByteBufferWindow, AppendsWriteAtTheWindowEndAndSetWindowClamps)
{
    ByteBuffer b = withText("abcdef");
    b.setWindow(1, 3);
    EXPECT_EQ(b.windowView(), "bc");
    b.append("XY");
    EXPECT_EQ(state(b), "abcXYf|6|1,5");
    b.append("1234");
    EXPECT_EQ(state(b), "abcXY1234|1033|1,9");

    ByteBuffer empty;
    EXPECT_EQ(empty.windowStartPtr(), nullptr);
    EXPECT_EQ(empty.at(0), nullptr);

    ByteBuffer c = withText("abc");
    c.setWindow(-5, 99);
    EXPECT_EQ(state(c), "abc|3|0,3");
    c.setWindow(2, 1);
    EXPECT_LE(c.windowStart(), c.windowEnd());
    EXPECT_TRUE(c.windowView().empty());
    c.setWindow(1, 3);
    EXPECT_EQ(*c.windowStartPtr(), 'b');
    EXPECT_EQ(*c.at(2), 'c');
    EXPECT_EQ(c.at(3), nullptr);
    EXPECT_EQ(c.at(-1), nullptr);
}

TEST(ByteBufferWindow, BufferAndTextAppends)
{
    // A whole buffer grows this one by exactly its length.
    ByteBuffer a = withText("12345");
    a.appendBuffer(withText("abc"));
    EXPECT_EQ(state(a), "12345abc|8|0,8");
    a.appendBuffer(ByteBuffer());
    EXPECT_EQ(state(a), "12345abc|8|0,8");
    a.appendText(nullptr);
    a.appendText("de");
    EXPECT_EQ(a.view(), "12345abcde");
}

TEST(ByteBufferTrim, DropTrailingZero)
{
    ByteBuffer z;
    EXPECT_EQ(z.dropTrailingZero(), ereturnvalue::Empty);
    z.append(std::string_view("ab\0", 3));
    z.setWindow(1, 1);
    EXPECT_EQ(z.dropTrailingZero(), ereturnvalue::OK);
    EXPECT_EQ(state(z), "ab|3|0,2");
    EXPECT_EQ(z.dropTrailingZero(), ereturnvalue::Empty);
    EXPECT_EQ(state(z), "ab|3|0,2");
}

// "result name:bytes" after an operation on [b].
std::string after(ereturnvalue rc, const ByteBuffer& b)
{
    return ResultCodeName(rc) + (":" + std::string(b.view()));
}

TEST(ByteBufferStream, Write)
{
    EXPECT_EQ(ByteBuffer().writeStream(nullptr), ereturnvalue::FileError);
    TempFile tmp;
    std::FILE* f = std::fopen(tmp.path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ByteBuffer().writeStream(f), ereturnvalue::Empty);
    EXPECT_EQ(withText("abc").writeStream(f), ereturnvalue::OK);
    std::fclose(f);
    EXPECT_EQ(test::ScratchFolder::read(tmp.path), "abc");
}

TEST(ByteBufferFile, ReadWithAndWithoutExpectedSize)
{
    TempFile tmp;
    for (size_t size : {1, 8191, 8192, 8193, 24576, 70000, 1100000})
    {
        const std::string bytes = patterned(size);
        tmp.write(bytes);
        ByteBuffer sized, unsized = withText("stale");
        ASSERT_EQ(sized.readFile(tmp.path, static_cast<int32_t>(size)), ereturnvalue::OK) << size;
        EXPECT_TRUE(sized.view() == bytes) << size;
        EXPECT_EQ(sized.capacity(), static_cast<int32_t>(size));
        ASSERT_EQ(unsized.readFile(tmp.path, 0), ereturnvalue::OK) << size;
        EXPECT_TRUE(unsized.view() == bytes) << size;
        EXPECT_EQ(unsized.capacity(), static_cast<int32_t>(size));
    }
    // An expected size short of the real one reads only that much.
    tmp.write("0123456789");
    ByteBuffer b;
    EXPECT_EQ(after(b.readFile(tmp.path, 4), b), "OK:0123");
    EXPECT_EQ(after(b.readFile("", 0), b), "data Error:");
    EXPECT_EQ(after(b.readStream(nullptr), b), "file Error:");
    b.append("x");
    EXPECT_EQ(after(b.readFile("/nonexistent/dir/file.htm", 0), b), "file Error:");
    EXPECT_EQ(b.readFile("/nonexistent/dir/file.htm", 10), ereturnvalue::FileError);
    b.append("x");
    EXPECT_EQ(after(b.readFile(tmp.folder.path(), 0), b), "file Error:"); // a directory opens but cannot be read
}

TEST(ByteBufferScramble, TwiceIsIdentityAndOnlyTheWindowChanges)
{
    const std::string plain = patterned(1000) + "<html>literal text</html>";
    ByteBuffer b = withText(plain);
    EXPECT_EQ(b.scrambleWindow(), ereturnvalue::OK);
    EXPECT_EQ(b.view().find("literal text"), std::string_view::npos);
    EXPECT_EQ(b.scrambleWindow(), ereturnvalue::OK);
    EXPECT_EQ(b.view(), plain);

    // The counter starts at the window's own start.
    ByteBuffer w = withText("HEADER|body");
    w.setWindow(7, 11);
    EXPECT_EQ(w.scrambleWindow(), ereturnvalue::OK);
    EXPECT_EQ(w.view().substr(0, 7), "HEADER|");
    std::string body = "body";
    ScrambleBytes(body.data(), 4);
    EXPECT_EQ(w.view().substr(7), body);
    EXPECT_NE(body, "body");

    EXPECT_EQ(ByteBuffer().scrambleWindow(), ereturnvalue::Empty);
}

TEST(ByteBufferScramble, KeyIsFixedAndPiecesMatchOnePass)
{
    // Compiled files hold scrambled bytes: byte k is xored with
    // 0xA7 ^ (0x3D * (k + 1)), so files from other builds stay readable.
    const std::string plain = patterned(5000);
    std::string whole = plain;
    ScrambleBytes(whole.data(), static_cast<int64_t>(whole.size()));
    for (size_t k = 0; k < plain.size(); ++k)
    {
        const auto key = static_cast<uint8_t>(0xA7 ^ static_cast<uint8_t>(0x3D * (k + 1)));
        ASSERT_EQ(static_cast<uint8_t>(whole[k]), static_cast<uint8_t>(plain[k]) ^ key) << k;
    }
    const size_t cuts[] = {0, 1, 255, 256, 257, 3333, 5000};
    std::string pieces = plain;
    for (size_t i = 0; i + 1 < std::size(cuts); ++i)
        ScrambleBytes(pieces.data() + cuts[i], static_cast<int64_t>(cuts[i + 1] - cuts[i]),
                      static_cast<int64_t>(cuts[i]));
    EXPECT_EQ(pieces, whole);
}

} // namespace
} // namespace tn
