#include "host/compiled_file.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>

namespace tn
{
namespace
{

struct Decoded
{
    RC rc = RC::Unknown;
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
    if (d.rc != RC::OK)
    {
        EXPECT_TRUE(d.literals.empty());
        EXPECT_TRUE(d.image.empty());
        EXPECT_TRUE(d.files.empty());
    }
    return d;
}

const std::vector<std::string> kLiterals = {"<html>\n<body>", "middle\n\nwith blank line", ""};
const std::string kImage("\x01\x02\0\xFFimage-bytes", 15);
const std::map<int32_t, std::string> kFiles = {{1, "pages/index.htm"}, {2, "inc/lib.inc"}};

std::string encoded(std::string_view name = "dir/page.ctn")
{
    ByteBuffer out;
    EncodeCompiledFile(out, name, kLiterals, kImage, kFiles, true);
    return std::string(out.view());
}

// Builds a file by hand from header lines (joined with [eol]) and a plain body.
std::string handMade(const std::vector<std::string>& lines, std::string body, std::string_view eol = "\n")
{
    std::string file;
    for (const std::string& line : lines)
    {
        file += line;
        file += eol;
    }
    file += eol;
    ScrambleBytes(body.data(), static_cast<int64_t>(body.size()));
    return file + body;
}

std::vector<std::string> headerLines(std::string_view file)
{
    std::vector<std::string> lines;
    size_t pos = 0;
    for (;;)
    {
        const size_t end = file.find('\n', pos);
        if (end == std::string_view::npos || end == pos)
        {
            break;
        }
        lines.emplace_back(file.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

TEST(CompiledFileNames, DetectAndFileNamePart)
{
    EXPECT_TRUE(IsCompiledFile("wtnCompiledScript"));
    EXPECT_TRUE(IsCompiledFile("wtnCompiledScript\nrest"));
    EXPECT_FALSE(IsCompiledFile("wtnCompiledScrip"));
    EXPECT_FALSE(IsCompiledFile("WTNCompiledScript"));
    EXPECT_FALSE(IsCompiledFile(""));

    EXPECT_EQ(FileNamePart("a/b/c.ctn"), "c.ctn");
    EXPECT_EQ(FileNamePart("a\\b\\c.ctn"), "c.ctn");
    EXPECT_EQ(FileNamePart("a\\b/c.ctn"), "c.ctn");
    EXPECT_EQ(FileNamePart("c.ctn"), "c.ctn");
    EXPECT_EQ(FileNamePart("dir/"), "");
}

TEST(CompiledFileEncode, HeaderLines)
{
    const std::string file = encoded();
    const std::vector<std::string> lines = headerLines(file);
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines[0], "wtnCompiledScript");
    EXPECT_EQ(lines[1], "2.2.0");
    EXPECT_EQ(lines[2], "page.ctn");
    EXPECT_TRUE(std::regex_match(lines[3], std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} "
                                                      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                                      "[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} GMT")))
        << lines[3];
    EXPECT_EQ(lines[4], "3");
    EXPECT_EQ(lines[5], "13");
    EXPECT_EQ(lines[6], "23");
    EXPECT_EQ(lines[7], "0");
    EXPECT_EQ(lines[8], "15");
    EXPECT_EQ(lines[9], "2");
    EXPECT_EQ(lines[10], "1\tpages/index.htm");
    EXPECT_EQ(lines[11], "2\tinc/lib.inc");

    // The body is scrambled: no literal text shows after the header.
    const size_t bodyStart = file.find("inc/lib.inc\n\n") + 13;
    EXPECT_EQ(file.size(), bodyStart + 13 + 23 + 15);
    EXPECT_EQ(file.find("<html>"), std::string::npos);
    EXPECT_EQ(file.find("middle"), std::string::npos);
}

TEST(CompiledFileEncode, WithoutProgram)
{
    ByteBuffer out;
    EncodeCompiledFile(out, "x.ctn", {"only"}, "ignored", kFiles, false);
    const std::vector<std::string> lines = headerLines(out.view());
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines[5], "4");
    EXPECT_EQ(lines[6], "0");
    EXPECT_EQ(lines[7], "0");
    const Decoded d = decode(out.view());
    ASSERT_EQ(d.rc, RC::OK);
    EXPECT_EQ(d.literals, std::vector<std::string>{"only"});
    EXPECT_TRUE(d.image.empty());
    EXPECT_TRUE(d.files.empty());
}

TEST(CompiledFileDecode, RoundTrip)
{
    const Decoded d = decode(encoded());
    ASSERT_EQ(d.rc, RC::OK);
    EXPECT_EQ(d.literals, kLiterals);
    EXPECT_EQ(d.image, kImage);
    EXPECT_EQ(d.files, kFiles);
}

TEST(CompiledFileDecode, LineBreaksInNamesKeepTheFileReadable)
{
    ByteBuffer out;
    EncodeCompiledFile(out, "odd\nname.ctn", {"a", "b"}, "img", {{1, "in\r\nclude"}}, true);
    const Decoded d = decode(out.view());
    ASSERT_EQ(d.rc, RC::OK);
    EXPECT_EQ(d.files.at(1), "in__clude");
}

TEST(CompiledFileDecode, HandMadeFiles)
{
    const std::vector<std::string> good = {"wtnCompiledScript", "2.2.0", "p.ctn", "BLANK", "2", "3", "4", "2", "1",
                                           "1\tp.htm"};
    EXPECT_EQ(decode(handMade(good, "abc1234xy")).rc, RC::OK);

    // Version, name and time lines are not checked.
    std::vector<std::string> otherVersion = good;
    otherVersion[1] = "9.9.9";
    otherVersion[2] = "";
    EXPECT_EQ(decode(handMade(otherVersion, "abc1234xy")).rc, RC::InvalidInput); // empty line ends the header
    otherVersion[2] = "elsewhere.ctn";
    otherVersion[3] = "whenever";
    const Decoded other = decode(handMade(otherVersion, "abc1234xy"));
    ASSERT_EQ(other.rc, RC::OK);
    EXPECT_EQ(other.literals, (std::vector<std::string>{"abc", "1234"}));
    EXPECT_EQ(other.image, "xy");
    EXPECT_EQ(other.files.at(1), "p.htm");

    // CR LF and lone CR line ends are read too; the CRs count toward the length.
    const Decoded crlf = decode(handMade(good, "abc1234xy", "\r\n"));
    ASSERT_EQ(crlf.rc, RC::OK);
    EXPECT_EQ(crlf.literals[1], "1234");
    EXPECT_EQ(decode(handMade(good, "abc1234xy", "\r")).rc, RC::OK);

    // Numbers are read like atoi.
    std::vector<std::string> loose = good;
    loose[4] = " +2 segments";
    loose[6] = "4x";
    EXPECT_EQ(decode(handMade(loose, "abc1234xy")).rc, RC::OK);
}

TEST(CompiledFileDecode, StructuralFaults)
{
    const std::vector<std::string> good = {"wtnCompiledScript", "2.2.0", "p.ctn", "BLANK", "2", "3", "4", "2", "1",
                                           "1\tp.htm"};
    const auto invalid = [](const std::vector<std::string>& lines, std::string body = "abc1234xy")
    { return decode(handMade(lines, std::move(body))).rc == RC::InvalidInput; };

    EXPECT_TRUE(invalid(good, "abc1234xy!")); // one byte too many
    EXPECT_TRUE(invalid(good, "abc1234x"));   // one byte short
    EXPECT_TRUE(decode(handMade(good, "abc1234xy") + "!").rc == RC::InvalidInput);

    std::vector<std::string> magic = good;
    magic[0] = "wtnCompiledScriptX";
    EXPECT_TRUE(invalid(magic));

    std::vector<std::string> noTab = good;
    noTab[9] = "1 p.htm";
    EXPECT_TRUE(invalid(noTab));

    std::vector<std::string> extra = good;
    extra.push_back("2\tmore.htm");
    EXPECT_TRUE(invalid(extra));

    std::vector<std::string> missing = good;
    missing.pop_back();
    EXPECT_TRUE(invalid(missing));

    // A header of 5 lines fails even when the counts would allow it.
    EXPECT_TRUE(invalid({"wtnCompiledScript", "2.2.0", "p.ctn", "BLANK", "0"}, ""));
    EXPECT_TRUE(decode("").rc == RC::InvalidInput);
    EXPECT_TRUE(decode("wtnCompiledScript").rc == RC::InvalidInput);
}

TEST(CompiledFileDecode, HostileCounts)
{
    const auto withCounts = [](std::string n, std::string length, std::string l, std::string m) {
        return decode(handMade({"wtnCompiledScript", "v", "f", "t", n, length, l, m}, "")).rc;
    };

    EXPECT_EQ(withCounts("1", "0", "0", "0"), RC::OK);
    EXPECT_EQ(withCounts("2000000000", "0", "0", "0"), RC::InvalidInput);
    EXPECT_EQ(withCounts("99999999999999999999", "0", "0", "0"), RC::InvalidInput);
    EXPECT_EQ(withCounts("-1", "0", "0", "0"), RC::InvalidInput);
    EXPECT_EQ(withCounts("1", "-5", "5", "0"), RC::InvalidInput);
    EXPECT_EQ(withCounts("1", "0", "-1", "0"), RC::InvalidInput);
    EXPECT_EQ(withCounts("1", "0", "0", "-1"), RC::InvalidInput);
    EXPECT_EQ(withCounts("1", "0", "0", "2147483647"), RC::InvalidInput);
    EXPECT_EQ(withCounts("1", "2147483647", "2147483647", "0"), RC::InvalidInput);

    // Lengths that wrap a 32-bit sum back to the file size must not pass.
    std::vector<std::string> lines = {"wtnCompiledScript", "v",          "f", "t", "3",
                                      "2147483647",        "2147483647", "2", "0", "0"};
    EXPECT_EQ(decode(handMade(lines, "")).rc, RC::InvalidInput);
}

TEST(CompiledFileDecode, StoredUnscrambledBodyDecodesToOtherBytes)
{
    std::string file = handMade({"wtnCompiledScript", "2.2.0", "p.ctn", "BLANK", "1", "5", "3", "0"}, "");
    file += "hello"
            "img";
    const Decoded d = decode(file);
    ASSERT_EQ(d.rc, RC::OK);
    EXPECT_NE(d.literals[0], "hello");
    EXPECT_NE(d.image, "img");
}

TEST(CompiledFileDecode, DoubleLineFeedInsideASegment)
{
    ByteBuffer out;
    EncodeCompiledFile(out, "s.ctn", {"a\n\nb", "\n\n", "\r\n\r\n"}, "\n\n", {{1, "s.htm"}}, true);
    const Decoded d = decode(out.view());
    ASSERT_EQ(d.rc, RC::OK);
    EXPECT_EQ(d.literals, (std::vector<std::string>{"a\n\nb", "\n\n", "\r\n\r\n"}));
    EXPECT_EQ(d.image, "\n\n");
}

TEST(CompiledFileDecode, EveryTruncationFailsCleanly)
{
    const std::string file = encoded();
    for (size_t length = 0; length < file.size(); ++length)
    {
        EXPECT_EQ(decode(std::string_view(file).substr(0, length)).rc, RC::InvalidInput) << length;
    }
}

TEST(CompiledFileDecode, RandomMutationsNeverCrash)
{
    const std::string file = encoded();
    std::mt19937 random(20240601);
    int decoded = 0;
    for (int round = 0; round < 4000; ++round)
    {
        std::string mutated = file;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e)
        {
            const size_t at = random() % (mutated.size() + 1);
            switch (random() % 4)
            {
            case 0:
                if (at < mutated.size())
                {
                    mutated[at] = static_cast<char>(random());
                }
                break;
            case 1:
                mutated.insert(at, 1, "0123456789\t\r\n-x"[random() % 16]);
                break;
            case 2:
                if (at < mutated.size())
                {
                    mutated.erase(at, 1 + random() % 3);
                }
                break;
            default:
                if (at < mutated.size() && mutated[at] >= '0' && mutated[at] <= '9')
                {
                    mutated.insert(at, "999999999");
                }
                break;
            }
        }
        const Decoded d = decode(mutated);
        if (d.rc == RC::OK)
        {
            ++decoded;
            size_t total = d.image.size();
            for (const std::string& literal : d.literals)
            {
                total += literal.size();
            }
            EXPECT_LE(total, mutated.size());
        }
        else
        {
            EXPECT_EQ(d.rc, RC::InvalidInput);
        }
    }
    // Edits to the unchecked lines or inside the body still decode.
    EXPECT_GT(decoded, 0);
}

} // namespace
} // namespace tn
