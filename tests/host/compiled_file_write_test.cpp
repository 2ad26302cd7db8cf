// Writing a compiled file straight to disk: the bytes must be those that
// EncodeCompiledFile builds in memory, however the body falls into chunks.
#include "host/compiled_file.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace tn
{
namespace
{

// A file name in the temporary folder, removed again at the end of the test.
class TempFile
{
  public:
    TempFile()
    {
        char pattern[] = "/tmp/tnwrite-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0) close(fd);
        path_ = pattern;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    std::string read() const
    {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

  private:
    std::string path_;
};

// The fourth header line is the compile time, which may differ between two encodings.
std::string withoutTime(std::string file)
{
    size_t at = 0;
    for (int i = 0; i < 3; ++i)
        at = file.find('\n', at) + 1;
    return file.erase(at, file.find('\n', at) - at);
}

std::string encoded(std::string_view name, const std::vector<std::string>& literals, std::string_view code,
                    const std::map<int32_t, std::string>& files, bool hasProgram)
{
    ByteBuffer out;
    EncodeCompiledFile(out, name, literals, code, files, hasProgram);
    return std::string(out.view());
}

std::string patterned(size_t size, char seed)
{
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(seed + i * 7 + i / 251);
    return text;
}

TEST(WriteCompiledFile, WritesTheBytesOfTheEncodedFile)
{
    const std::map<int32_t, std::string> files = {{1, "dir/page.htm"}, {2, "in\nclude"}};
    // Pieces smaller than, equal to and larger than a write chunk, empty ones
    // too, so the body straddles chunk edges at many scrambling positions.
    const std::vector<std::vector<std::string>> literalSets = {
        {},
        {""},
        {"<html>", "", patterned(40000, 'a'), "x", patterned(70001, 'b')},
        {patterned(32768, 'c'), patterned(32767, 'd'), patterned(1, 'e')},
    };
    const std::string codes[] = {"", std::string("\x01\0\xFF", 3), patterned(100003, 'f')};
    for (const auto& literals : literalSets)
    {
        for (const std::string& code : codes)
        {
            for (const bool hasProgram : {true, false})
            {
                TempFile file;
                ASSERT_EQ(WriteCompiledFile(file.path(), "sub/page.ctn", literals, code, files, hasProgram), RC::OK);
                const std::string written = file.read();
                EXPECT_EQ(withoutTime(written), withoutTime(encoded("sub/page.ctn", literals, code, files, hasProgram)))
                    << literals.size() << " literals, " << code.size() << " code bytes, program " << hasProgram;
            }
        }
    }
}

TEST(WriteCompiledFile, ReplacesAnOlderFileAndReportsAnUnwritablePath)
{
    TempFile file;
    {
        std::ofstream(file.path(), std::ios::binary) << std::string(100000, 'z');
    }
    ASSERT_EQ(WriteCompiledFile(file.path(), "p.ctn", {"a"}, "code", {}, true), RC::OK);
    EXPECT_EQ(withoutTime(file.read()), withoutTime(encoded("p.ctn", {"a"}, "code", {}, true)));

    EXPECT_EQ(WriteCompiledFile("/nonexistent-dir/x.ctn", "x.ctn", {"a"}, "code", {}, true), RC::FileError);
    EXPECT_EQ(WriteCompiledFile("", "x.ctn", {"a"}, "code", {}, true), RC::FileError);
}

TEST(ScrambleBytes, PiecesWithTheirPositionsMatchOnePass)
{
    const std::string plain = patterned(5000, 'q');
    std::string whole = plain;
    ScrambleBytes(whole.data(), static_cast<int64_t>(whole.size()));

    // The definition: byte k is xored with 0xA7 ^ (0x3D * (k + 1)), mod 256.
    for (size_t k = 0; k < plain.size(); ++k)
    {
        const auto key = static_cast<uint8_t>(0xA7 ^ static_cast<uint8_t>(0x3D * (k + 1)));
        ASSERT_EQ(static_cast<uint8_t>(whole[k]), static_cast<uint8_t>(plain[k]) ^ key) << k;
    }

    const size_t cuts[] = {0, 1, 255, 256, 257, 511, 1000, 3333, 4999, 5000};
    std::string pieces = plain;
    for (size_t i = 0; i + 1 < std::size(cuts); ++i)
        ScrambleBytes(pieces.data() + cuts[i], static_cast<int64_t>(cuts[i + 1] - cuts[i]),
                      static_cast<int64_t>(cuts[i]));
    EXPECT_EQ(pieces, whole);
}

} // namespace
} // namespace tn
