#include "common/byte_buffer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

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
    {
        s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return s;
}

// A temporary file that removes itself.
struct TempFile
{
    std::string path;
    TempFile()
    {
        char name[] = "/tmp/tn_bb_XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        close(fd);
        path = name;
    }
    ~TempFile() { std::remove(path.c_str()); }
    void write(const std::string& bytes) const
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    std::string read() const
    {
        std::string out;
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr)
        {
            return out;
        }
        char chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        {
            out.append(chunk, got);
        }
        std::fclose(f);
        return out;
    }
};

TEST(ByteBufferGrowth, CapacityFollowsShortfallRule)
{
    ByteBuffer b;
    b.append("0123456789");
    EXPECT_EQ(b.capacity(), 10);
    EXPECT_EQ(b.length(), 10);
    b.append("x");
    EXPECT_EQ(b.capacity(), 1035);
    EXPECT_EQ(b.view(), "0123456789x");

    // A shortfall of 1024 or more adds nothing extra.
    ByteBuffer big;
    big.append("a");
    big.append(std::string(2000, 'b'));
    EXPECT_EQ(big.capacity(), 2001);
}

TEST(ByteBufferGrowth, ManySmallAppendsKeepContents)
{
    ByteBuffer b;
    std::string expected;
    for (int i = 0; i < 200000; ++i)
    {
        const char c = static_cast<char>('a' + i % 26);
        b.append(&c, 1);
        expected.push_back(c);
    }
    EXPECT_EQ(b.view(), expected);
    EXPECT_GE(b.capacity(), b.length());
}

TEST(ByteBufferGrowth, AllocateResizeAndGrow)
{
    ByteBuffer b;
    EXPECT_EQ(b.allocate(0), RC::OK);
    EXPECT_EQ(b.capacity(), 0);
    EXPECT_EQ(b.data(), nullptr);
    EXPECT_EQ(b.allocate(64), RC::OK);
    EXPECT_EQ(b.capacity(), 64);
    EXPECT_EQ(b.length(), 0);
    b.append("hello");
    EXPECT_EQ(b.capacity(), 64);
    EXPECT_EQ(b.grow(36), RC::OK);
    EXPECT_EQ(b.capacity(), 100);
    EXPECT_EQ(b.view(), "hello");
    EXPECT_EQ(b.resize(3), RC::OK);
    EXPECT_EQ(b.capacity(), 3);
    EXPECT_EQ(b.view(), "hel");
    EXPECT_LE(b.windowEnd(), 3);
}

TEST(ByteBufferGrowth, AppendOfOwnBytesSurvivesReallocation)
{
    ByteBuffer b;
    b.append("abcdefghij");
    b.append(b.data(), b.length()); // forces growth while reading from the old block
    EXPECT_EQ(b.view(), "abcdefghijabcdefghij");
    b.appendBuffer(b);
    EXPECT_EQ(b.view(), std::string("abcdefghijabcdefghij") + "abcdefghijabcdefghij");
}

TEST(ByteBufferCopy, CopyAndMove)
{
    ByteBuffer a = withText("payload");
    a.setWindow(2, 5);
    ByteBuffer copy(a);
    EXPECT_EQ(copy.view(), "payload");
    EXPECT_EQ(copy.capacity(), a.capacity());
    EXPECT_EQ(copy.windowView(), "ylo");
    EXPECT_NE(copy.data(), a.data());

    ByteBuffer moved(std::move(a));
    EXPECT_EQ(moved.windowView(), "ylo");
    EXPECT_EQ(a.data(), nullptr);
    EXPECT_EQ(a.length(), 0);
    EXPECT_EQ(a.capacity(), 0);

    ByteBuffer target = withText("old");
    target.moveFrom(moved);
    EXPECT_EQ(target.view(), "payload");
    EXPECT_TRUE(moved.empty());

    ByteBuffer assigned;
    assigned = target;
    EXPECT_EQ(assigned.view(), "payload");
    assigned = assigned;
    EXPECT_EQ(assigned.view(), "payload");
}

TEST(ByteBufferWindow, AppendsWriteAtWindowEnd)
{
    ByteBuffer b = withText("abcdef");
    b.setWindow(1, 3);
    EXPECT_EQ(b.windowView(), "bc");
    b.append("XY");
    EXPECT_EQ(b.view(), "abcXYf");
    EXPECT_EQ(b.windowView(), "bcXY");
    b.append("1234");
    EXPECT_EQ(b.view(), "abcXY1234");
    EXPECT_EQ(b.length(), 9);
}

TEST(ByteBufferWindow, SetWindowClampsAndPointers)
{
    ByteBuffer empty;
    EXPECT_EQ(empty.windowStartPtr(), nullptr);
    EXPECT_EQ(empty.windowEndPtr(), nullptr);
    EXPECT_EQ(empty.at(0), nullptr);

    ByteBuffer b = withText("abc");
    b.setWindow(-5, 99);
    EXPECT_EQ(b.windowStart(), 0);
    EXPECT_EQ(b.windowEnd(), 3);
    b.setWindow(2, 1);
    EXPECT_LE(b.windowStart(), b.windowEnd());
    EXPECT_TRUE(b.windowView().empty());
    b.setWindow(1, 3);
    EXPECT_EQ(*b.windowStartPtr(), 'b');
    EXPECT_EQ(b.windowEndPtr() - b.windowStartPtr(), 2);
    EXPECT_EQ(*b.at(2), 'c');
    EXPECT_EQ(b.at(3), nullptr);
    EXPECT_EQ(b.at(-1), nullptr);
}

TEST(ByteBufferWindow, AppendAndAssignWindow)
{
    ByteBuffer src = withText("hello world");
    src.setWindow(6, 11);
    ByteBuffer dst = withText(">");
    EXPECT_EQ(dst.appendWindow(src), RC::OK);
    EXPECT_EQ(dst.view(), ">world");
    EXPECT_EQ(dst.assignWindow(src), RC::OK);
    EXPECT_EQ(dst.view(), "world");
    EXPECT_EQ(dst.capacity(), 5);

    ByteBuffer emptyWindow = withText("xyz");
    emptyWindow.setWindow(1, 1);
    EXPECT_EQ(dst.appendWindow(emptyWindow), RC::Empty);
    EXPECT_EQ(dst.view(), "world");
    EXPECT_EQ(dst.assignWindow(emptyWindow), RC::Empty);
    EXPECT_TRUE(dst.empty());
    EXPECT_EQ(dst.data(), nullptr);

    ByteBuffer self = withText("0123456789");
    self.setWindow(3, 6);
    EXPECT_EQ(self.assignWindow(self), RC::OK);
    EXPECT_EQ(self.view(), "345");
}

TEST(ByteBufferWindow, AppendBufferGrowsByOtherLength)
{
    ByteBuffer a = withText("12345");
    const ByteBuffer other = withText("abc");
    a.appendBuffer(other);
    EXPECT_EQ(a.view(), "12345abc");
    EXPECT_EQ(a.capacity(), 8);
    a.appendBuffer(ByteBuffer());
    EXPECT_EQ(a.capacity(), 8);
}

TEST(ByteBufferWindow, TextAppendsAndZeros)
{
    ByteBuffer b;
    b.appendText(nullptr);
    EXPECT_TRUE(b.empty());
    b.appendText("ab");
    b.appendText("cd");
    EXPECT_EQ(b.view(), "abcd");
    b.assignText("z");
    EXPECT_EQ(b.view(), "z");

    ByteBuffer z;
    z.append("ab");
    z.appendZeros(3);
    EXPECT_EQ(z.length(), z.capacity());
    ASSERT_GE(z.length(), 5);
    EXPECT_EQ(z.view().substr(0, 2), "ab");
    for (int32_t i = 2; i < z.length(); ++i)
    {
        EXPECT_EQ(*z.at(i), 0);
    }
}

TEST(ByteBufferCompare, WindowPrefixAndSignedBytes)
{
    const ByteBuffer abc = withText("abc");
    const ByteBuffer abcd = withText("abcd");
    const ByteBuffer none;
    EXPECT_EQ(abc.compareWindow(abcd, 3), 0);
    EXPECT_EQ(abc.compareWindow(abcd, 0), 0);
    EXPECT_EQ(abcd.compareWindow(abc, 0), 1);
    EXPECT_EQ(abcd.compareWindow(abc, 3), 0);
    EXPECT_EQ(none.compareWindow(none, 0), 0);
    EXPECT_EQ(abc.compareWindow(none, 0), 1);
    EXPECT_EQ(none.compareWindow(abc, 0), -1);
    EXPECT_EQ(withText("abd").compareWindow(abc, 0), 1);
    EXPECT_EQ(abc.compareWindow(withText("abd"), 0), -1);
    // Bytes above 127 are negative, so they sort before ASCII.
    EXPECT_EQ(withText("\xE9").compareWindow(withText("a"), 0), -1);
    EXPECT_EQ(withText("a").compareWindow(withText("\xE9"), 0), 1);

    ByteBuffer windowed = withText("xxabcxx");
    windowed.setWindow(2, 5);
    EXPECT_EQ(windowed.compareWindow(abcd, 0), 0);
}

TEST(ByteBufferTrim, DropLastAndTruncate)
{
    ByteBuffer b = withText("abcdef");
    b.dropLast(2);
    EXPECT_EQ(b.view(), "abcd");
    EXPECT_EQ(b.windowEnd(), 4);
    b.dropLast(0);
    b.dropLast(-3);
    EXPECT_EQ(b.view(), "abcd");
    b.dropLast(10);
    EXPECT_EQ(b.length(), 0);
    EXPECT_NE(b.capacity(), 0);

    ByteBuffer t = withText("abcdef");
    t.truncate(10);
    EXPECT_EQ(t.view(), "abcdef");
    t.truncate(3);
    EXPECT_EQ(t.view(), "abc");
    t.truncate(0);
    EXPECT_EQ(t.data(), nullptr);
    EXPECT_EQ(t.capacity(), 0);
    EXPECT_EQ(t.windowEnd(), 0);
}

TEST(ByteBufferTrim, DropTrailingZero)
{
    ByteBuffer b;
    EXPECT_EQ(b.dropTrailingZero(), RC::Empty);
    b.append(std::string_view("ab\0", 3));
    b.setWindow(1, 1);
    EXPECT_EQ(b.dropTrailingZero(), RC::OK);
    EXPECT_EQ(b.view(), "ab");
    EXPECT_EQ(b.windowStart(), 0);
    EXPECT_EQ(b.windowEnd(), 2);
    EXPECT_EQ(b.dropTrailingZero(), RC::Empty);
    EXPECT_EQ(b.view(), "ab");
}

TEST(ReadingByteBufferTest, ReadChunkDropsCarriageReturns)
{
    ReadingByteBuffer r;
    char out[16] = {};
    EXPECT_EQ(r.readChunk(out, 8, true), 0);
    r.append("a\r\nb");
    EXPECT_EQ(r.readChunk(out, 8, true), 3);
    EXPECT_EQ(std::string(out, 3), "a\nb");
    EXPECT_EQ(r.readPosition(), 4);
    EXPECT_EQ(r.readChunk(out, 8, true), 0);

    ReadingByteBuffer s;
    s.append("xy\r\rz12");
    EXPECT_EQ(s.readChunk(out, 3, true), 3);
    EXPECT_EQ(std::string(out, 3), "xyz");
    EXPECT_EQ(s.readPosition(), 5);
    EXPECT_EQ(s.readChunk(out, 1, false), 1);
    EXPECT_EQ(out[0], '1');
    EXPECT_EQ(s.readChunk(out, 10, false), 1);
    EXPECT_EQ(s.readPosition(), 7);
    s.clear();
    EXPECT_EQ(s.readPosition(), 0);
}

TEST(ReadingByteBufferTest, MoveKeepsThePositionAndClearsTheSource)
{
    ReadingByteBuffer r;
    r.append("abcdef");
    char out[4];
    ASSERT_EQ(r.readChunk(out, 2, false), 2);
    ReadingByteBuffer moved(std::move(r));
    EXPECT_EQ(moved.readPosition(), 2);
    EXPECT_EQ(r.readPosition(), 0);
    EXPECT_TRUE(r.empty());
    ReadingByteBuffer target;
    target = std::move(moved);
    EXPECT_EQ(target.readPosition(), 2);
    EXPECT_EQ(moved.readPosition(), 0);
    ASSERT_EQ(target.readChunk(out, 4, false), 4);
    EXPECT_EQ(std::string(out, 4), "cdef");
    const ReadingByteBuffer copy(target);
    EXPECT_EQ(copy.readPosition(), 6);
}

// Feeds [bytes] through a pipe into readStream.
RC readThroughPipe(const std::string& bytes, ByteBuffer& out)
{
    int fds[2];
    if (pipe(fds) != 0)
    {
        return RC::OSError;
    }
    std::thread writer(
        [&]
        {
            size_t done = 0;
            while (done < bytes.size())
            {
                const ssize_t n = write(fds[1], bytes.data() + done, bytes.size() - done);
                if (n <= 0)
                {
                    break;
                }
                done += static_cast<size_t>(n);
            }
            close(fds[1]);
        });
    std::FILE* in = fdopen(fds[0], "rb");
    const RC rc = out.readStream(in);
    std::fclose(in);
    writer.join();
    return rc;
}

TEST(ByteBufferStream, ReadsStreamsOfEverySize)
{
    for (size_t size : {size_t{0}, size_t{1}, size_t{8191}, size_t{8192}, size_t{8193}, size_t{24576}, size_t{100000},
                        size_t{1100000}})
    {
        const std::string bytes = patterned(size);
        ByteBuffer b = withText("stale");
        ASSERT_EQ(readThroughPipe(bytes, b), RC::OK) << size;
        EXPECT_EQ(b.length(), static_cast<int32_t>(size));
        EXPECT_EQ(b.capacity(), static_cast<int32_t>(size));
        EXPECT_TRUE(b.view() == bytes) << size;
    }
}

TEST(ByteBufferStream, TmpfileOfExactlyOneChunk)
{
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    const std::string bytes = patterned(8192);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    ByteBuffer b;
    EXPECT_EQ(b.readStream(f), RC::OK);
    EXPECT_EQ(b.length(), 8192);
    EXPECT_TRUE(b.view() == bytes);
    std::fclose(f);
}

TEST(ByteBufferStream, NullAndFailingStreams)
{
    ByteBuffer b = withText("keep?");
    EXPECT_EQ(b.readStream(nullptr), RC::FileError);
    EXPECT_TRUE(b.empty());

    // A write-only stream sets the error indicator on read.
    TempFile tmp;
    std::FILE* wo = std::fopen(tmp.path.c_str(), "wb");
    ASSERT_NE(wo, nullptr);
    b.append("x");
    EXPECT_EQ(b.readStream(wo), RC::FileError);
    EXPECT_TRUE(b.empty());
    std::fclose(wo);

    EXPECT_EQ(ByteBuffer().writeStream(nullptr), RC::FileError);
}

TEST(ByteBufferFile, ReadWithAndWithoutExpectedSize)
{
    TempFile tmp;
    for (size_t size : {size_t{1}, size_t{100}, size_t{8191}, size_t{8192}, size_t{8193}, size_t{70000}})
    {
        const std::string bytes = patterned(size);
        tmp.write(bytes);
        ByteBuffer sized;
        ASSERT_EQ(sized.readFile(tmp.path, static_cast<int32_t>(size)), RC::OK) << size;
        EXPECT_TRUE(sized.view() == bytes) << size;
        EXPECT_EQ(sized.capacity(), static_cast<int32_t>(size));
        ByteBuffer unsized;
        ASSERT_EQ(unsized.readFile(tmp.path, 0), RC::OK) << size;
        EXPECT_TRUE(unsized.view() == bytes) << size;
    }
    // An expected size short of the real one reads only that much.
    tmp.write("0123456789");
    ByteBuffer partial;
    EXPECT_EQ(partial.readFile(tmp.path, 4), RC::OK);
    EXPECT_EQ(partial.view(), "0123");
}

TEST(ByteBufferFile, ReadFailures)
{
    ByteBuffer b = withText("x");
    EXPECT_EQ(b.readFile("", 0), RC::DataError);
    EXPECT_TRUE(b.empty());
    EXPECT_EQ(b.readFile("/nonexistent/dir/file.htm", 0), RC::FileError);
    EXPECT_EQ(b.readFile("/nonexistent/dir/file.htm", 10), RC::FileError);
    // A directory opens but cannot be read.
    EXPECT_EQ(b.readFile("/tmp", 0), RC::FileError);
    EXPECT_TRUE(b.empty());
}

TEST(ByteBufferFile, WriteAndAppend)
{
    TempFile tmp;
    EXPECT_EQ(withText("first").writeFile(tmp.path, false), RC::OK);
    EXPECT_EQ(tmp.read(), "first");
    EXPECT_EQ(withText("+second").writeFile(tmp.path, true), RC::OK);
    EXPECT_EQ(tmp.read(), "first+second");
    EXPECT_EQ(withText("new").writeFile(tmp.path, false), RC::OK);
    EXPECT_EQ(tmp.read(), "new");
    EXPECT_EQ(ByteBuffer().writeFile(tmp.path, false), RC::OK);
    EXPECT_EQ(tmp.read(), "");

    EXPECT_EQ(withText("x").writeFile("/nonexistent/dir/out", false), RC::FileError);
    try
    {
        withText("x").writeFile("", false);
        ADD_FAILURE() << "empty path must throw";
    }
    catch (ereturnvalue rc)
    {
        EXPECT_EQ(rc, RC::DataError);
    }
}

TEST(ByteBufferFile, WriteStream)
{
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(ByteBuffer().writeStream(f), RC::Empty);
    EXPECT_EQ(withText("abc").writeStream(f), RC::OK);
    std::rewind(f);
    ByteBuffer back;
    EXPECT_EQ(back.readStream(f), RC::OK);
    EXPECT_EQ(back.view(), "abc");
    std::fclose(f);
}

TEST(ByteBufferScramble, TwiceIsIdentityAndChangesBytes)
{
    const std::string plain = patterned(1000) + "<html>literal text</html>";
    ByteBuffer b = withText(plain);
    EXPECT_EQ(b.scrambleWindow(), RC::OK);
    EXPECT_NE(b.view(), plain);
    EXPECT_EQ(b.view().find("literal text"), std::string_view::npos);
    EXPECT_EQ(b.scrambleWindow(), RC::OK);
    EXPECT_EQ(b.view(), plain);

    // Only the window is touched, counting from its own start.
    ByteBuffer w = withText("HEADER|body");
    w.setWindow(7, 11);
    EXPECT_EQ(w.scrambleWindow(), RC::OK);
    EXPECT_EQ(w.view().substr(0, 7), "HEADER|");
    std::string body = "body";
    ScrambleBytes(body.data(), 4);
    EXPECT_EQ(w.view().substr(7), body);

    ByteBuffer empty;
    EXPECT_EQ(empty.scrambleWindow(), RC::Empty);
    // A run of equal bytes comes out varied, so the counter really advances.
    std::string zeros(256, '\0');
    ScrambleBytes(zeros.data(), 256);
    EXPECT_NE(zeros.find_first_not_of(zeros[0]), std::string::npos);
}

} // namespace
} // namespace tn
