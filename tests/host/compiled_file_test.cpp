#include "host/compiled_file.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <regex>

namespace tn
{
namespace
{

struct Decoded
{
    ereturnvalue rc = ereturnvalue::Unknown;
    std::vector<std::string> literals;
    std::string image;
    std::map<int32_t, std::string> files;
};

Decoded decode(std::string_view bytes)
{
    ByteBuffer file;
    file.append(bytes);
    Decoded d;
    d.rc = DecodeCompiledFile(file, d.literals, d.image, d.files);
    if (d.rc != ereturnvalue::OK)
    {
        EXPECT_TRUE(d.literals.empty() && d.image.empty() && d.files.empty());
    }
    return d;
}

const std::vector<std::string> kLiterals = {"<html>\n<body>", "middle\n\nwith blank line", ""};
const std::string kImage("\x01\x02\0\xFFimage-bytes", 15);
const std::map<int32_t, std::string> kFiles = {{1, "pages/index.htm"}, {2, "inc/lib.inc"}};

std::string encoded()
{
    ByteBuffer out;
    EncodeCompiledFile(out, "dir/page.ctn", kLiterals, kImage, kFiles, true);
    return std::string(out.view());
}

// Builds a file by hand from header lines (joined with [eol]) and a plain body.
std::string handMade(const std::vector<std::string>& lines, std::string body, std::string_view eol = "\n")
{
    std::string file;
    for (const std::string& line : lines)
        file += line + std::string(eol);
    ScrambleBytes(body.data(), static_cast<int64_t>(body.size()));
    return file + std::string(eol) + body;
}

// The header lines of an encoded file, its compile time (an HTTP date) as "time".
std::vector<std::string> headerLines(std::string_view file)
{
    std::vector<std::string> lines;
    for (size_t pos = 0, end; (end = file.find('\n', pos)) != std::string_view::npos && end != pos; pos = end + 1)
        lines.emplace_back(file.substr(pos, end - pos));
    if (lines.size() < 4) return lines;
    EXPECT_TRUE(std::regex_match(lines[3], std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} "
                                                      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                      "[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT")))
        << lines[3];
    lines[3] = "time";
    return lines;
}

TEST(CompiledFileNames, DetectAndFileNamePart)
{
    for (const char* compiled : {"wtnCompiledScript", "wtnCompiledScript\nrest"})
        EXPECT_TRUE(IsCompiledFile(compiled)) << compiled;
    for (const char* source : {"wtnCompiledScrip", "WTNCompiledScript", ""})
        EXPECT_FALSE(IsCompiledFile(source)) << source;
    for (const char* path : {"a/b/c.ctn", "a\\b/c.ctn", "a/b\\c.ctn", "c.ctn"})
        EXPECT_EQ(FileNamePart(path), "c.ctn") << path;
    EXPECT_EQ(FileNamePart("dir/"), "");
}

TEST(CompiledFileEncode, HeaderAndScrambledBody)
{
    const std::string file = encoded();
    EXPECT_EQ(headerLines(file),
              (std::vector<std::string>{"wtnCompiledScript", "2.2.0", "page.ctn", "time", "3", "13", "23", "0", "15",
                                        "2", "1\tpages/index.htm", "2\tinc/lib.inc"}));

    const size_t bodyStart = file.find("inc/lib.inc\n\n") + 13;
    EXPECT_EQ(file.size(), bodyStart + 13 + 23 + 15);
    EXPECT_EQ(file.find("<html>"), std::string::npos);
    EXPECT_EQ(file.find("middle"), std::string::npos);

    const Decoded d = decode(file);
    ASSERT_EQ(d.rc, ereturnvalue::OK);
    EXPECT_EQ(d.literals, kLiterals);
    EXPECT_EQ(d.image, kImage);
    EXPECT_EQ(d.files, kFiles);
}

TEST(CompiledFileEncode, WithoutProgramAndWithLineBreaks)
{
    // Without a program only the segments are kept.
    ByteBuffer out;
    EncodeCompiledFile(out, "x.ctn", {"only"}, "ignored", kFiles, false);
    EXPECT_EQ(headerLines(out.view()),
              (std::vector<std::string>{"wtnCompiledScript", "2.2.0", "x.ctn", "time", "1", "4", "0", "0"}));
    Decoded d = decode(out.view());
    ASSERT_EQ(d.rc, ereturnvalue::OK);
    EXPECT_EQ(d.literals, std::vector<std::string>{"only"});
    EXPECT_TRUE(d.image.empty() && d.files.empty());

    // Line breaks in segments and names keep the file readable.
    out.clear();
    EncodeCompiledFile(out, "odd\nname.ctn", {"a\n\nb", "\n\n", "\r\n\r\n"}, "\n\n", {{1, "in\r\nclude"}}, true);
    d = decode(out.view());
    ASSERT_EQ(d.rc, ereturnvalue::OK);
    EXPECT_EQ(d.literals, (std::vector<std::string>{"a\n\nb", "\n\n", "\r\n\r\n"}));
    EXPECT_EQ(d.image, "\n\n");
    EXPECT_EQ(d.files.at(1), "in__clude");
}

TEST(CompiledFileDecode, HandMadeHeaders)
{
    const std::vector<std::string> good = {"wtnCompiledScript", "2.2.0", "p.ctn", "BLANK", "2", "3", "4", "2", "1",
                                           "1\tp.htm"};
    const auto with = [&](size_t index, std::string line)
    {
        std::vector<std::string> lines = good;
        lines[index] = std::move(line);
        return lines;
    };
    // A header with an empty body, from the segment count on.
    const auto counts = [](std::vector<std::string> from)
    {
        from.insert(from.begin(), {"wtnCompiledScript", "v", "f", "t"});
        return handMade(from, "");
    };
    std::vector<std::string> extra = good;
    extra.push_back("2\tmore.htm");
    const std::string body = "abc1234xy";
    const struct
    {
        std::string file;
        ereturnvalue rc;
    } rows[] = {
        {handMade(good, body, "\r\n"), ereturnvalue::OK},
        {handMade(good, body, "\r"), ereturnvalue::OK},
        {handMade(with(6, "4x"), body), ereturnvalue::OK}, // numbers are read like atoi
        {handMade(with(4, " +2 segments"), body), ereturnvalue::OK},
        {handMade(with(2, ""), body), ereturnvalue::InvalidInput}, // an empty line ends the header
        {handMade(good, body + "!"), ereturnvalue::InvalidInput},
        {handMade(good, "abc1234x"), ereturnvalue::InvalidInput},
        {handMade(good, body) + "!", ereturnvalue::InvalidInput},
        {handMade(with(0, "wtnCompiledScriptX"), body), ereturnvalue::InvalidInput},
        {handMade(with(9, "1 p.htm"), body), ereturnvalue::InvalidInput},
        {handMade(extra, body), ereturnvalue::InvalidInput},
        {handMade({good.begin(), good.end() - 1}, body), ereturnvalue::InvalidInput},
        // Five lines fail even when the counts would allow it.
        {handMade({"wtnCompiledScript", "2.2.0", "p.ctn", "BLANK", "0"}, ""), ereturnvalue::InvalidInput},
        {"", ereturnvalue::InvalidInput},
        {"wtnCompiledScript", ereturnvalue::InvalidInput},
        {counts({"1", "0", "0", "0"}), ereturnvalue::OK},
        {counts({"2000000000", "0", "0", "0"}), ereturnvalue::InvalidInput},
        {counts({"99999999999999999999", "0", "0", "0"}), ereturnvalue::InvalidInput},
        {counts({"-1", "0", "0", "0"}), ereturnvalue::InvalidInput},
        {counts({"1", "-5", "5", "0"}), ereturnvalue::InvalidInput},
        {counts({"1", "0", "-1", "0"}), ereturnvalue::InvalidInput},
        {counts({"1", "0", "0", "-1"}), ereturnvalue::InvalidInput},
        {counts({"1", "0", "0", "2147483647"}), ereturnvalue::InvalidInput},
        {counts({"1", "2147483647", "2147483647", "0"}), ereturnvalue::InvalidInput},
        // Lengths that wrap a 32-bit sum back to the file size.
        {counts({"3", "2147483647", "2147483647", "2", "0", "0"}), ereturnvalue::InvalidInput},
    };
    for (const auto& row : rows)
        EXPECT_EQ(decode(row.file).rc, row.rc) << row.file;

    // Version, name and time are not checked.
    const Decoded d = decode(handMade(
        {"wtnCompiledScript", "9.9.9", "elsewhere.ctn", "whenever", "2", "3", "4", "2", "1", "1\tp.htm"}, body));
    ASSERT_EQ(d.rc, ereturnvalue::OK);
    EXPECT_EQ(d.literals, (std::vector<std::string>{"abc", "1234"}));
    EXPECT_EQ(d.image, "xy");
    EXPECT_EQ(d.files, (std::map<int32_t, std::string>{{1, "p.htm"}}));
}

TEST(CompiledFileDecode, EveryTruncationFailsCleanly)
{
    const std::string file = encoded();
    for (size_t length = 0; length < file.size(); ++length)
        EXPECT_EQ(decode(std::string_view(file).substr(0, length)).rc, ereturnvalue::InvalidInput) << length;
}

// The fourth header line is the compile time, which may differ between two encodings.
std::string withoutTime(std::string file)
{
    size_t at = 0;
    for (int i = 0; i < 3; ++i)
        at = file.find('\n', at) + 1;
    return file.erase(at, file.find('\n', at) - at);
}

TEST(WriteCompiledFile, WritesTheBytesOfTheEncodedFile)
{
    test::ScratchFolder folder;
    const std::string path = folder.write("p.ctn", std::string(100000, 'z')); // an older, longer file
    // Pieces around the write chunk size, so the body straddles chunk edges.
    const std::string big(70001, 'b');
    const std::vector<std::vector<std::string>> literalSets = {{}, {"<html>", "", big, "x", std::string(32768, 'c')}};
    for (const auto& literals : literalSets)
        for (const std::string& code : {std::string(), std::string("\x01\0\xFF", 3) + big})
            for (const bool hasProgram : {true, false})
            {
                ASSERT_EQ(WriteCompiledFile(path, "sub/page.ctn", literals, code, kFiles, hasProgram),
                          ereturnvalue::OK);
                ByteBuffer expected;
                EncodeCompiledFile(expected, "sub/page.ctn", literals, code, kFiles, hasProgram);
                EXPECT_EQ(withoutTime(test::ScratchFolder::read(path)), withoutTime(std::string(expected.view())))
                    << literals.size() << " literals, " << code.size() << " code bytes, program " << hasProgram;
            }
    EXPECT_EQ(WriteCompiledFile(folder.file("no/such/dir/x.ctn"), "x.ctn", {"a"}, "code", {}, true),
              ereturnvalue::FileError);
    EXPECT_EQ(WriteCompiledFile("", "x.ctn", {"a"}, "code", {}, true), ereturnvalue::FileError);
}

} // namespace
} // namespace tn
