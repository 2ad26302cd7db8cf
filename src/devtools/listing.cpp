#include "devtools/listing.h"

#include "common/ascii.h"
#include "devtools/function_catalog.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <unordered_map>
#include <vector>

namespace tn::dev
{

namespace
{

constexpr int32_t kFirstUserFunction = 1001;

struct Instruction
{
    int32_t at = 0;
    uint8_t op = 0;
    OperandKind kind = OperandKind::None;
    int32_t number = 0;
    double real = 0;
    std::string_view text;
    bool complete = true; // false: the operand runs past the end
};

std::vector<Instruction> decode(const ProgramImage& image)
{
    std::vector<Instruction> list;
    CodeReader cursor;
    cursor.attach(image.code(), image.codeSize());
    cursor.reset();
    while (!cursor.atEnd())
    {
        Instruction in;
        in.at = cursor.pc();
        cursor.fetch(in.op, in.kind);
        switch (in.kind)
        {
        case OperandKind::Int32:
            in.complete = cursor.readInt32(in.number);
            break;
        case OperandKind::Double:
            in.complete = cursor.readDouble(in.real);
            break;
        case OperandKind::String:
            in.complete = cursor.readString(in.text);
            break;
        default:
            break;
        }
        list.push_back(in);
        if (!in.complete) break;
    }
    return list;
}

int32_t targetOf(const Instruction& in)
{
    return static_cast<int32_t>(int64_t(in.at) + 5 + in.number);
}

struct FunctionSpan
{
    size_t jump = 0; // index of the JMP over the definition
    int32_t entry = 0;
    int32_t end = 0;
    int32_t parameters = 0;
    std::string name;
};

// A definition is a JMP over it followed by one PUSHINT per parameter and ENTER.
std::vector<FunctionSpan> findFunctions(const std::vector<Instruction>& code)
{
    std::vector<FunctionSpan> spans;
    for (size_t i = 0; i + 1 < code.size(); ++i)
    {
        if (code[i].op != uint8_t(Op::JMP)) continue;
        size_t k = i + 1;
        while (k < code.size() && code[k].op == uint8_t(Op::PUSHINT))
            ++k;
        if (k >= code.size() || code[k].op != uint8_t(Op::ENTER)) continue;
        spans.push_back({i, code[i + 1].at, targetOf(code[i]), code[k].number, {}});
    }
    return spans;
}

std::string quoted(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text)
    {
        switch (c)
        {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (static_cast<unsigned char>(c) < 32 || c == 127)
            {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                out += hex;
            }
            else
                out += c;
        }
    }
    return out + "\"";
}

struct SourcePosition
{
    int32_t file = 0;
    int32_t line = 0;
};

SourcePosition positionOf(int32_t operand)
{
    return {operand >> 24, operand & 0xFFFFFF};
}

// The name after the last "function" keyword at or before [line]: functions do
// not nest, so that keyword opens the definition the line belongs to.
std::string definedNameAt(const SourceLineReader& sourceLine, const std::string& path, int32_t line)
{
    for (int32_t at = line; at > 0 && at > line - 200; --at)
    {
        const std::string text = AsciiLowerCopy(sourceLine(path, at));
        const std::string original = sourceLine(path, at);
        size_t found = text.rfind("function");
        while (found != std::string::npos)
        {
            const bool startsWord =
                found == 0 || !(std::isalnum(static_cast<unsigned char>(text[found - 1])) || text[found - 1] == '_');
            size_t name = found + 8;
            const size_t blanks = name;
            while (name < text.size() && (text[name] == ' ' || text[name] == '\t'))
                ++name;
            size_t end = name;
            while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '_'))
                ++end;
            if (startsWord && name > blanks && end > name) return original.substr(name, end - name);
            found = found == 0 ? std::string::npos : text.rfind("function", found - 1);
        }
    }
    return {};
}

bool isUserFunction(const ProgramImage& image, const std::string& name)
{
    const NameTable& names = image.functionNames();
    const int32_t at = names.find(name);
    return at >= 0 && names.value(at) >= kFirstUserFunction;
}

// Names come from the source only when the image kept its symbols, and only
// a name the symbol table knows as a user function is taken.
void nameFunctions(std::vector<FunctionSpan>& spans, const std::vector<Instruction>& code, const ProgramImage& image,
                   const SourceLineReader& sourceLine)
{
    if (image.functionNames().size() == 0) return;
    for (FunctionSpan& span : spans)
    {
        SourcePosition where;
        for (size_t i = span.jump + 1; i < code.size() && code[i].at < span.end; ++i)
        {
            if (code[i].op != uint8_t(Op::LINE)) continue;
            where = positionOf(code[i].number);
            break;
        }
        for (size_t i = span.jump; where.line == 0 && i-- > 0;)
            if (code[i].op == uint8_t(Op::LINE)) where = positionOf(code[i].number);
        const std::string* path = image.findSourceFile(where.file);
        if (!path) continue;
        std::string name = definedNameAt(sourceLine, *path, where.line);
        if (isUserFunction(image, name)) span.name = std::move(name);
    }
}

std::string functionLabel(const FunctionSpan& span)
{
    char entry[16];
    std::snprintf(entry, sizeof entry, "%04d", span.entry);
    return span.name.empty() ? std::string("function at ") + entry : "function " + span.name;
}

} // namespace

SourceLineReader FileSourceLines()
{
    auto cache = std::make_shared<std::map<std::string, std::vector<std::string>>>();
    return [cache](const std::string& path, int32_t line) -> std::string
    {
        auto found = cache->find(path);
        if (found == cache->end())
        {
            std::vector<std::string> lines;
            std::ifstream file(path, std::ios::binary);
            for (std::string text; std::getline(file, text);)
                lines.push_back(std::move(text));
            found = cache->emplace(path, std::move(lines)).first;
        }
        if (line < 1 || static_cast<size_t>(line) > found->second.size()) return {};
        return found->second[static_cast<size_t>(line) - 1];
    };
}

std::string ListProgram(const ProgramImage& image, const SourceLineReader& sourceLine)
{
    const std::vector<Instruction> code = decode(image);
    std::vector<FunctionSpan> spans = findFunctions(code);
    nameFunctions(spans, code, image, sourceLine);
    std::unordered_map<int32_t, const FunctionSpan*> byEntry;
    std::multimap<int32_t, const FunctionSpan*> byEnd;
    for (const FunctionSpan& span : spans)
    {
        byEntry[span.entry] = &span;
        byEnd.emplace(span.end, &span);
    }

    std::string out;
    char line[160];
    std::snprintf(line, sizeof line, "; %d bytes of code, %d blocks, %zu functions\n", image.codeSize(),
                  image.outputBufferCount(), spans.size());
    out += line;
    const auto& files = image.sourceFiles();
    for (size_t i = 0; i < files.size(); ++i)
        out += "; file " + std::to_string(i + 1) + ": " + files[i] + "\n";

    for (const Instruction& in : code)
    {
        for (auto [from, to] = byEnd.equal_range(in.at); from != to; ++from)
            out += "; end of " + functionLabel(*from->second) + "\n";
        if (const auto found = byEntry.find(in.at); found != byEntry.end())
        {
            const int32_t count = found->second->parameters;
            out += "\n; " + functionLabel(*found->second) + ", " + std::to_string(count) +
                   (count == 1 ? " parameter\n" : " parameters\n");
        }

        const char* name = kOpTable[in.op].name;
        if (!name)
        {
            std::snprintf(line, sizeof line, "%04d  ?? %d\n", in.at, in.op);
            out += line;
            continue;
        }
        std::snprintf(line, sizeof line, "%04d  %-14s", in.at, name);
        std::string text = line;
        std::string comment;
        if (!in.complete)
            text += "?? (the operand runs past the end)";
        else if (in.op == uint8_t(Op::LINE))
        {
            const SourcePosition where = positionOf(in.number);
            text += std::to_string(where.file) + ":" + std::to_string(where.line);
            if (const std::string* path = image.findSourceFile(where.file))
                comment = std::string(TrimBlanks(sourceLine(*path, where.line)));
        }
        else if (in.kind == OperandKind::Int32)
        {
            text += std::to_string(in.number);
            const auto op = static_cast<Op>(in.op);
            if (isJumpOpcode(in.op) || op == Op::CALL)
            {
                std::snprintf(line, sizeof line, "to %04d", targetOf(in));
                comment = line;
                if (op == Op::CALL)
                {
                    const auto callee = byEntry.find(targetOf(in));
                    if (callee != byEntry.end() && !callee->second->name.empty()) comment += " " + callee->second->name;
                }
            }
            else if (op == Op::CALLSYS)
                comment = SystemFunctionName(in.number);
        }
        else if (in.kind == OperandKind::Double)
        {
            std::snprintf(line, sizeof line, "%.17g", in.real);
            text += line;
        }
        else if (in.kind == OperandKind::String)
            text += quoted(in.text);
        if (!comment.empty())
        {
            if (text.size() < 34) text.resize(34, ' ');
            text += " ; " + comment;
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out += text + "\n";
    }
    for (auto [from, to] = byEnd.equal_range(image.codeSize()); from != to; ++from)
        out += "; end of " + functionLabel(*from->second) + "\n";
    return out;
}

} // namespace tn::dev
