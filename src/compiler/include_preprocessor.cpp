#include "compiler/include_preprocessor.h"

#include "common/ascii.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>

namespace tn
{

namespace
{

constexpr std::string_view kDirective = "#include";

bool isBlank(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\b';
}

bool isLineBreak(char c) noexcept
{
    return c == '\r' || c == '\n';
}

// The directive word may be followed by repetitions of its own letters
// ("#includee"), all of which belong to the word.
bool isDirectiveChar(char c) noexcept
{
    return kDirective.find(AsciiLower(c)) != std::string_view::npos;
}

bool startsWithDirective(std::string_view text) noexcept
{
    return text.size() >= kDirective.size() && EqualsIgnoreCase(text.substr(0, kDirective.size()), kDirective);
}

struct Directive
{
    size_t lineStart;     // where the directive's line begins
    size_t argumentStart; // the argument, up to the line break
    size_t argumentEnd;   // also where the rest of the unit begins
    int32_t line;         // 1-based line within the unit
};

// Finds the first directive line with a non-empty argument. Lines are counted
// by line feeds so numbering matches the lexer, blank lines included. Only a
// "#" can start a directive, so the search jumps from one to the next.
bool findDirective(std::string_view code, Directive& found) noexcept
{
    const size_t n = code.size();
    const char* data = code.data();
    size_t from = 0;
    while (from < n)
    {
        const void* hash = std::memchr(data + from, '#', n - from);
        if (hash == nullptr) return false;
        const size_t p = static_cast<size_t>(static_cast<const char*>(hash) - data);
        from = p + 1;
        // A directive is the first thing on its line, blanks aside.
        size_t lineStart = p;
        while (lineStart > 0 && isBlank(code[lineStart - 1]))
            --lineStart;
        if ((lineStart > 0 && !isLineBreak(code[lineStart - 1])) || !startsWithDirective(code.substr(p))) continue;
        size_t q = p;
        while (q < n && isDirectiveChar(code[q]))
            ++q;
        while (q < n && isBlank(code[q]))
            ++q;
        size_t end = q;
        while (end < n && !isLineBreak(code[end]))
            ++end;
        if (end == q) continue;
        const auto lineFeeds = static_cast<size_t>(std::count(data, data + lineStart, '\n'));
        const size_t line = std::min<size_t>(lineFeeds + 1, std::numeric_limits<int32_t>::max());
        found = {lineStart, q, end, static_cast<int32_t>(line)};
        return true;
    }
    return false;
}

// Text up to the last separator, or null when the path has none.
bool directoryOf(std::string_view path, std::string_view& directory) noexcept
{
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string_view::npos) return false;
    directory = path.substr(0, slash);
    return true;
}

int32_t lineInFile(int32_t unitStart, int32_t directiveLine) noexcept
{
    const int64_t line = int64_t(unitStart) - 1 + directiveLine;
    if (line > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (line < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(line);
}

// Reads a regular file of at most [limit] bytes. The size is asked first so
// that a huge file is refused before any of it is read; the read itself stops
// past the limit too, for a file that grows meanwhile.
bool readWholeFile(const std::string& path, size_t limit, std::string& text)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return false;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size > limit) return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    text.reserve(static_cast<size_t>(size));
    char chunk[16384];
    bool ok = true;
    for (;;)
    {
        const size_t got = std::fread(chunk, 1, sizeof chunk, file);
        if (text.size() + got > limit)
        {
            ok = false;
            break;
        }
        text.append(chunk, got);
        if (got < sizeof chunk)
        {
            ok = !std::ferror(file);
            break;
        }
    }
    std::fclose(file);
    if (ok && !text.empty() && text.back() == '\0') text.pop_back();
    return ok;
}

} // namespace

void IncludePreprocessor::clear() noexcept
{
    units_.clear();
    files_.clear();
    includedBytes_ = 0;
    errorMessage_.clear();
    errorPath_.clear();
    errorUnit_ = -1;
    errorLine_ = -1;
}

const std::string* IncludePreprocessor::loadFile(const std::string& path)
{
    if (auto it = files_.find(path); it != files_.end()) return it->second.get();
    auto text = std::make_unique<std::string>();
    if (!readWholeFile(path, kMaxIncludedBytes - includedBytes_, *text)) return nullptr;
    return files_.emplace(path, std::move(text)).first->second.get();
}

ereturnvalue IncludePreprocessor::fail(const Pending& unit, int32_t directiveLine, std::string message)
{
    errorMessage_ = message.empty() ? std::string("Internal compiler error") : std::move(message);
    errorUnit_ = static_cast<int32_t>(units_.size());
    errorLine_ = lineInFile(unit.startLine, directiveLine);
    errorPath_ = unit.path;
    return ereturnvalue::Reject;
}

// Expansion examines a unit and places the included file and the rest of the
// unit right after it, to be examined next. A stack of pending units does the
// same depth-first and appends units in their final order, so nothing is ever
// inserted in the middle of the list.
ereturnvalue IncludePreprocessor::preprocess(std::string_view code, std::string_view path, int32_t startLine)
{
    clear();
    std::vector<Pending> pending;
    pending.push_back({std::string(path), startLine, code, 0});
    while (!pending.empty())
    {
        Pending current = std::move(pending.back());
        pending.pop_back();
        Directive directive;
        if (current.code.empty() || !findDirective(current.code, directive))
        {
            units_.push_back({std::move(current.path), current.startLine, current.code});
            continue;
        }

        const std::string_view written =
            current.code.substr(directive.argumentStart, directive.argumentEnd - directive.argumentStart);
        std::string_view argument = written;
        while (!argument.empty() && (isLineBreak(argument.back()) || argument.back() == ' ' || argument.back() == '\t'))
            argument.remove_suffix(1);
        if (argument.size() <= 2 || argument.front() != '"' || argument.back() != '"')
            return fail(current, directive.line, "Invalid include directive");
        const std::string_view quoted = argument.substr(1, argument.size() - 2);

        std::string includePath(quoted);
        for (char& c : includePath)
            if (c == '\\') c = '/';
        if (includePath.front() == '/' || (includePath.size() >= 3 && includePath[1] == ':' && includePath[2] == '/'))
            return fail(current, directive.line, "Include file absolute path used: \"" + std::string(quoted) + "\"");

        std::string fullPath;
        std::string_view directory;
        if (directoryOf(current.path, directory))
        {
            fullPath.reserve(directory.size() + 1 + includePath.size());
            fullPath.append(directory).append("/").append(includePath);
        }
        else
        {
            fullPath = std::move(includePath);
        }

        const std::string fileError = "Include file error: \"" + std::string(quoted) + "\"";
        // A split turns one unit into three.
        if (current.depth >= kMaxDepth || units_.size() + pending.size() + 3 > kMaxUnits)
            return fail(current, directive.line, fileError);
        const std::string* text = loadFile(fullPath);
        if (!text || includedBytes_ + text->size() > kMaxIncludedBytes) return fail(current, directive.line, fileError);
        includedBytes_ += text->size();

        const int32_t restLine = lineInFile(current.startLine, directive.line);
        units_.push_back({current.path, current.startLine, current.code.substr(0, directive.lineStart)});
        pending.push_back(
            {std::move(current.path), restLine, current.code.substr(directive.argumentEnd), current.depth});
        pending.push_back({std::move(fullPath), 1, *text, current.depth + 1});
    }
    return ereturnvalue::OK;
}

} // namespace tn
