#include "vm/program_image.h"

#include <cstdio>

namespace tn
{

bool CodeReader::skipOperand(OperandKind kind) noexcept
{
    switch (kind)
    {
    case OperandKind::None:
        return true;
    case OperandKind::Int32:
    {
        int32_t ignored;
        return readInt32(ignored);
    }
    case OperandKind::Double:
    {
        double ignored;
        return readDouble(ignored);
    }
    case OperandKind::String:
    {
        std::string_view ignored;
        return readString(ignored);
    }
    default:
        return true; // invalid opcodes have no operand
    }
}

bool CodeReader::skipInstruction() noexcept
{
    uint8_t op;
    OperandKind kind;
    return fetch(op, kind) && skipOperand(kind);
}

void ProgramImage::setCode(std::string_view bytes)
{
    code_.clear();
    code_.append(bytes);
    reader_.setPc(0);
    syncReader();
}

void ProgramImage::adoptCode(ByteBuffer&& code) noexcept
{
    code_ = std::move(code);
    code_.setWindow(0, code_.length());
    reader_.setPc(0);
    syncReader();
}

int32_t ProgramImage::registerBlock()
{
    outputs_.push_back(std::make_unique<OutputBuffer>());
    return static_cast<int32_t>(outputs_.size()) - 1;
}

OutputBuffer* ProgramImage::outputBuffer(int32_t index) noexcept
{
    if (index < 0 || index >= static_cast<int32_t>(outputs_.size())) return nullptr;
    return outputs_[static_cast<size_t>(index)].get();
}

OutputBuffer* ProgramImage::findOutputBuffer(int32_t blockId) noexcept
{
    if (blockId < 0) return outputBuffer(0);
    auto it = blockMap_.find(blockId);
    return it == blockMap_.end() ? nullptr : outputBuffer(it->second);
}

int32_t ProgramImage::addSourceFile(std::string_view path)
{
    for (size_t i = 0; i < sourceFiles_.size(); ++i)
        if (sourceFiles_[i] == path) return static_cast<int32_t>(i) + 1;
    sourceFiles_.emplace_back(path);
    return static_cast<int32_t>(sourceFiles_.size());
}

const std::string* ProgramImage::findSourceFile(int32_t index) const noexcept
{
    if (index < 1 || index > static_cast<int32_t>(sourceFiles_.size())) return nullptr;
    return &sourceFiles_[static_cast<size_t>(index) - 1];
}

ereturnvalue ProgramImage::sourceFilePath(int32_t index, std::string& path) const
{
    const std::string* found = findSourceFile(index);
    if (!found) return ereturnvalue::NotFound;
    path = *found;
    return ereturnvalue::OK;
}

bool ProgramImage::hasFunctionName(std::string_view name) const noexcept
{
    return functionNames_.find(name) >= 0;
}

int32_t ProgramImage::scan()
{
    blockMap_.clear();
    syncReader();
    CodeReader cursor = reader_;
    if (!cursor.reset()) return 0;
    int32_t blocks = 0;
    bool afterHeader = false;
    while (!cursor.atEnd())
    {
        uint8_t op;
        OperandKind kind;
        cursor.fetch(op, kind);
        if (kind != OperandKind::Int32)
        {
            if (op == 0) throw ereturnvalue::Error;
            // A truncated operand means the code was cut off: not a program.
            if (!cursor.skipOperand(kind)) throw ereturnvalue::Error;
            afterHeader = false;
            continue;
        }
        int32_t operand;
        if (!cursor.readInt32(operand)) throw ereturnvalue::Error;
        if (op == uint8_t(Op::BLOCK) || op == uint8_t(Op::OUTBLOCK))
        {
            blockMap_[operand] = blocks++;
            afterHeader = true;
        }
        else if (op == uint8_t(Op::JMP))
        {
            if (afterHeader)
            {
                // Skip the block body; a body said to run past the end ends
                // the scan there. A backward skip is no block layout, and
                // could make the scan see its own header again forever.
                if (operand < 0) throw ereturnvalue::Error;
                cursor.jumpRelative(operand);
            }
            afterHeader = false;
        }
        else
        {
            throw ereturnvalue::Error;
        }
    }
    return blocks;
}

void ProgramImage::clear() noexcept
{
    code_.clear();
    reader_.setPc(0);
    syncReader();
    outputs_.clear();
    blockMap_.clear();
    globalSymbols_.clear();
    functionNames_.clear();
}

std::string Disassemble(const ProgramImage& image)
{
    std::string out;
    CodeReader cursor;
    cursor.attach(image.code(), image.codeSize());
    cursor.reset();
    char line[64];
    while (!cursor.atEnd())
    {
        const int32_t at = cursor.pc();
        uint8_t op;
        OperandKind kind;
        cursor.fetch(op, kind);
        const char* name = kOpTable[op].name;
        if (!name)
        {
            std::snprintf(line, sizeof line, "%04d ?? %d\n", at, op);
            out += line;
            continue;
        }
        std::snprintf(line, sizeof line, "%04d %s", at, name);
        out += line;
        bool ok = true;
        switch (kind)
        {
        case OperandKind::Int32:
        {
            int32_t v;
            ok = cursor.readInt32(v);
            if (ok) (out += ' ') += std::to_string(v);
            break;
        }
        case OperandKind::Double:
        {
            double v;
            ok = cursor.readDouble(v);
            if (ok)
            {
                std::snprintf(line, sizeof line, " %g", v);
                out += line;
            }
            break;
        }
        case OperandKind::String:
        {
            std::string_view v;
            ok = cursor.readString(v);
            if (ok) out += " \"" + std::string(v) + "\"";
            break;
        }
        default:
            break;
        }
        out += ok ? "\n" : " ??\n";
        if (!ok) break;
    }
    return out;
}

} // namespace tn
