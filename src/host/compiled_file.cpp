#include "host/compiled_file.h"

#include "common/file_replacement.h"

#include "vm/date_value.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace tn
{

namespace
{

// Header numbers are read like atoi: leading white space, an optional sign,
// digits up to the first other byte, saturating at the 32-bit limits.
int32_t readNumber(std::string_view text) noexcept
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
    {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1)
        {
            value = int64_t{std::numeric_limits<int32_t>::max()} + 1;
        }
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<int32_t>::max())
    {
        return std::numeric_limits<int32_t>::max();
    }
    return static_cast<int32_t>(value);
}

// A name line holding a line break would end the header early and make the
// file unreadable; such bytes become "_".
void appendHeaderText(ByteBuffer& out, std::string_view text)
{
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i)
    {
        if (text[i] == '\n' || text[i] == '\r')
        {
            out.append(text.substr(start, i - start));
            out.append("_");
            start = i + 1;
        }
    }
    out.append(text.substr(start));
}

void appendNumberLine(ByteBuffer& out, int64_t number)
{
    out.append(std::to_string(number));
    out.append("\n");
}

int32_t checkedLength(size_t size)
{
    if (size > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    {
        throw ereturnvalue::MemAlloc;
    }
    return static_cast<int32_t>(size);
}

// Yields header lines: each ends at CR, LF or CR LF; the first empty line or
// the end of the data ends the header.
class HeaderReader
{
  public:
    explicit HeaderReader(std::string_view data) noexcept : data_(data) {}

    bool next(std::string_view& line) noexcept
    {
        if (ended_ || pos_ >= data_.size())
        {
            ended_ = true;
            return false;
        }
        size_t end = pos_;
        while (end < data_.size() && data_[end] != '\n' && data_[end] != '\r')
        {
            ++end;
        }
        line = data_.substr(pos_, end - pos_);
        pos_ = end;
        if (pos_ < data_.size())
        {
            pos_ += (data_[pos_] == '\r' && pos_ + 1 < data_.size() && data_[pos_ + 1] == '\n') ? 2 : 1;
        }
        if (line.empty())
        {
            ended_ = true;
            return false;
        }
        ++count_;
        return true;
    }

    // Position after the header's end (its empty line, or the data's end).
    size_t position() const noexcept { return pos_; }
    int64_t count() const noexcept { return count_; }

  private:
    std::string_view data_;
    size_t pos_ = 0;
    int64_t count_ = 0;
    bool ended_ = false;
};

// The header fields that locate the body.
struct Header
{
    std::vector<int32_t> segmentLengths;
    int64_t segmentTotal = 0;
    int32_t imageLength = 0;
    size_t bodyStart = 0;
};

bool readHeader(std::string_view data, Header& header, std::map<int32_t, std::string>& sourceFiles)
{
    HeaderReader reader(data);
    std::string_view line;
    if (!reader.next(line) || line != kCompiledMagic)
    {
        return false;
    }
    // Version, file name and compile time are not checked; line 4 is N. Short
    // headers fail below, as every header also needs the L and M lines.
    for (int i = 1; i < 5; ++i)
    {
        if (!reader.next(line))
        {
            return false;
        }
    }
    const int32_t segmentCount = readNumber(line);
    // Every header line takes at least two bytes, which bounds any honest count.
    if (segmentCount < 0 || static_cast<uint64_t>(segmentCount) > data.size() / 2)
    {
        return false;
    }
    header.segmentLengths.reserve(static_cast<size_t>(segmentCount));
    for (int32_t i = 0; i < segmentCount; ++i)
    {
        if (!reader.next(line))
        {
            return false;
        }
        const int32_t length = readNumber(line);
        if (length < 0)
        {
            return false;
        }
        header.segmentLengths.push_back(length);
        header.segmentTotal += length;
    }
    if (!reader.next(line))
    {
        return false;
    }
    header.imageLength = readNumber(line);
    if (!reader.next(line))
    {
        return false;
    }
    const int32_t fileCount = readNumber(line);
    if (header.imageLength < 0 || fileCount < 0)
    {
        return false;
    }
    for (int32_t i = 0; i < fileCount; ++i)
    {
        if (!reader.next(line))
        {
            return false;
        }
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos)
        {
            return false;
        }
        sourceFiles.insert_or_assign(readNumber(line.substr(0, tab)), std::string(line.substr(tab + 1)));
    }
    // Exactly 7 + N + M lines: nothing may follow the table before the empty line.
    if (reader.next(line))
    {
        return false;
    }
    header.bodyStart = reader.position();
    const uint64_t expected =
        header.bodyStart + static_cast<uint64_t>(header.segmentTotal) + static_cast<uint64_t>(header.imageLength);
    return expected == data.size();
}

} // namespace

bool IsCompiledFile(std::string_view file) noexcept
{
    return file.substr(0, kCompiledMagic.size()) == kCompiledMagic;
}

std::string_view FileNamePart(std::string_view path) noexcept
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

namespace
{

// Everything before the body: the header lines and the empty line that ends them.
void appendHeader(ByteBuffer& out, std::string_view fileName, const std::vector<std::string>& literals,
                  std::string_view imageCode, const std::map<int32_t, std::string>& sourceFiles, bool hasProgram)
{
    out.append(kCompiledMagic);
    out.append("\n");
    out.append(kCompiledFormatVersion);
    out.append("\n");
    appendHeaderText(out, FileNamePart(fileName));
    out.append("\n");
    out.append(DateValue::now().httpForm());
    out.append("\n");
    appendNumberLine(out, static_cast<int64_t>(literals.size()));
    for (const std::string& literal : literals)
    {
        appendNumberLine(out, checkedLength(literal.size()));
    }
    if (hasProgram)
    {
        appendNumberLine(out, checkedLength(imageCode.size()));
        appendNumberLine(out, static_cast<int64_t>(sourceFiles.size()));
        for (const auto& [number, name] : sourceFiles)
        {
            out.append(std::to_string(number));
            out.append("\t");
            appendHeaderText(out, name);
            out.append("\n");
        }
    }
    else
    {
        out.append("0\n0\n");
    }
    out.append("\n");
}

// Body bytes pass through this much memory on their way to the file.
constexpr size_t kWriteChunk = 32 * 1024;

} // namespace

void EncodeCompiledFile(ByteBuffer& out, std::string_view fileName, const std::vector<std::string>& literals,
                        std::string_view imageCode, const std::map<int32_t, std::string>& sourceFiles, bool hasProgram)
{
    out.clear();
    appendHeader(out, fileName, literals, imageCode, sourceFiles, hasProgram);
    const int32_t bodyStart = out.length();
    for (const std::string& literal : literals)
    {
        out.append(literal.data(), checkedLength(literal.size()));
    }
    if (hasProgram)
    {
        out.append(imageCode.data(), checkedLength(imageCode.size()));
    }
    out.setWindow(bodyStart, out.length());
    out.scrambleWindow();
    out.setWindow(0, out.length());
}

ereturnvalue WriteCompiledFile(const std::string& path, std::string_view fileName,
                               const std::vector<std::string>& literals, std::string_view imageCode,
                               const std::map<int32_t, std::string>& sourceFiles, bool hasProgram)
{
    ByteBuffer header;
    appendHeader(header, fileName, literals, imageCode, sourceFiles, hasProgram);
    // The same limit as a file built in memory.
    int64_t bodySize = hasProgram ? static_cast<int64_t>(imageCode.size()) : 0;
    for (const std::string& literal : literals)
    {
        bodySize += static_cast<int64_t>(literal.size());
    }
    checkedLength(static_cast<size_t>(header.length() + bodySize));

    std::unique_ptr<char[]> chunk(new char[kWriteChunk]);
    FileReplacement file(path);
    if (!file.ready())
    {
        return ereturnvalue::FileError;
    }
    size_t used = 0;
    int64_t position = 0; // in the body, for the scrambling counter
    const auto flush = [&]
    {
        file.write(std::string_view(chunk.get(), used));
        used = 0;
    };
    const auto put = [&](std::string_view bytes, bool scramble)
    {
        while (!bytes.empty())
        {
            const size_t count = std::min(bytes.size(), kWriteChunk - used);
            std::memcpy(chunk.get() + used, bytes.data(), count);
            if (scramble)
            {
                ScrambleBytes(chunk.get() + used, static_cast<int64_t>(count), position);
                position += static_cast<int64_t>(count);
            }
            used += count;
            bytes.remove_prefix(count);
            if (used == kWriteChunk)
            {
                flush();
            }
        }
    };
    put(header.view(), false);
    for (const std::string& literal : literals)
    {
        put(literal, true);
    }
    if (hasProgram)
    {
        put(imageCode, true);
    }
    flush();
    return file.commit();
}

ereturnvalue DecodeCompiledFile(const ByteBuffer& file, std::vector<std::string>& literals, std::string& imageCode,
                                std::map<int32_t, std::string>& sourceFiles)
{
    literals.clear();
    imageCode.clear();
    sourceFiles.clear();
    const std::string_view data = file.view();
    Header header;
    if (!readHeader(data, header, sourceFiles))
    {
        sourceFiles.clear();
        return ereturnvalue::InvalidInput;
    }
    std::string body(data.substr(header.bodyStart));
    ScrambleBytes(body.data(), static_cast<int64_t>(body.size()));
    literals.reserve(header.segmentLengths.size());
    size_t at = 0;
    for (const int32_t length : header.segmentLengths)
    {
        literals.emplace_back(body, at, static_cast<size_t>(length));
        at += static_cast<size_t>(length);
    }
    body.erase(0, at);
    imageCode = std::move(body);
    return ereturnvalue::OK;
}

} // namespace tn
