// ProgramImage: the compiled program (instruction bytes) plus the tables a run
// needs: one output buffer per block header, the block map, the source file
// table and, when the compiler keeps them, the symbol tables.
#pragma once

#include "common/byte_buffer.h"
#include "common/name_table.h"
#include "common/result_codes.h"
#include "vm/opcodes.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tn
{

// The text a block's statements print.
class OutputBuffer : public ByteBuffer
{
};

inline int32_t readInt32LE(const uint8_t* p) noexcept
{
    uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
    return static_cast<int32_t>(v);
}

// Where a jump with [offset] from [next], the address after it, lands; a
// target outside the code is its end.
inline int32_t JumpTarget(int32_t next, int32_t offset, int32_t size) noexcept
{
    const int64_t target = int64_t(next) + offset;
    return (target < 0 || target > size) ? size : static_cast<int32_t>(target);
}

inline void writeInt32LE(uint8_t* p, int32_t value) noexcept
{
    const auto v = static_cast<uint32_t>(value);
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline double readDoubleLE(const uint8_t* p) noexcept
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | p[i];
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The image's cursor. Every read is bounds-checked: a read that would leave
// the code returns false and does not move.
class CodeReader
{
  public:
    void attach(const uint8_t* code, int32_t size) noexcept
    {
        code_ = code;
        size_ = size;
        if (pc_ > size_) pc_ = size_;
    }
    int32_t pc() const noexcept { return pc_; }
    void setPc(int32_t pc) noexcept { pc_ = pc; }
    int32_t size() const noexcept { return size_; }
    bool atEnd() const noexcept { return pc_ < 0 || pc_ >= size_; }

    bool reset() noexcept
    {
        pc_ = 0;
        return size_ > 0;
    }
    // Reads the opcode at pc and reports its operand class; pc advances by 1.
    bool fetch(uint8_t& opcode, OperandKind& kind) noexcept
    {
        if (atEnd()) return false;
        opcode = code_[pc_++];
        kind = kOpTable[opcode].operand;
        return true;
    }
    bool readInt32(int32_t& value) noexcept
    {
        if (pc_ < 0 || int64_t(pc_) + 4 > size_) return false;
        value = readInt32LE(code_ + pc_);
        pc_ += 4;
        return true;
    }
    bool readDouble(double& value) noexcept
    {
        if (pc_ < 0 || int64_t(pc_) + 8 > size_) return false;
        value = readDoubleLE(code_ + pc_);
        pc_ += 8;
        return true;
    }
    // The text stays inside the code; false when no zero byte ends it.
    bool readString(std::string_view& text) noexcept
    {
        if (atEnd()) return false;
        const void* zero = std::memchr(code_ + pc_, 0, static_cast<size_t>(size_ - pc_));
        if (!zero) return false;
        const auto* end = static_cast<const uint8_t*>(zero);
        text = std::string_view(reinterpret_cast<const char*>(code_ + pc_), static_cast<size_t>(end - (code_ + pc_)));
        pc_ = static_cast<int32_t>(end - code_) + 1;
        return true;
    }
    // Steps over an operand of the given class.
    bool skipOperand(OperandKind kind) noexcept;
    bool skipInstruction() noexcept;
    bool jumpRelative(int32_t offset) noexcept
    {
        pc_ = static_cast<int32_t>(int64_t(pc_) + offset);
        return pc_ >= 0 && pc_ < size_;
    }
    bool jumpAbsolute(int32_t target) noexcept
    {
        pc_ = target;
        return pc_ >= 0 && pc_ < size_;
    }
    bool backUpInt32() noexcept
    {
        if (pc_ < 4) return false;
        pc_ -= 4;
        return true;
    }

  private:
    const uint8_t* code_ = nullptr;
    int32_t size_ = 0;
    int32_t pc_ = 0;
};

class ProgramImage
{
  public:
    ProgramImage() = default;
    ProgramImage(const ProgramImage&) = delete;
    ProgramImage& operator=(const ProgramImage&) = delete;

    // Code
    const uint8_t* code() const noexcept { return reinterpret_cast<const uint8_t*>(code_.data()); }
    uint8_t* mutableCode() noexcept
    {
        ++codeVersion_;
        return reinterpret_cast<uint8_t*>(code_.windowStartPtr());
    }
    // Changes whenever the code may have changed; lets the machine keep what it derives from the code.
    uint32_t codeVersion() const noexcept { return codeVersion_; }
    int32_t codeSize() const noexcept { return code_.length(); }
    std::string_view codeView() const noexcept { return code_.view(); }
    void appendCode(const void* bytes, int32_t count)
    {
        code_.append(bytes, count);
        syncReader();
    }
    void setCode(std::string_view bytes); // replaces the code (compiled files)
    // Replaces the code with [code]'s bytes, taking its storage instead of copying.
    void adoptCode(ByteBuffer&& code) noexcept;
    CodeReader& reader() noexcept { return reader_; }

    // Output buffers, one per block header in header order.
    int32_t registerBlock(); // appends a buffer, returns its index
    int32_t outputBufferCount() const noexcept { return static_cast<int32_t>(outputs_.size()); }
    OutputBuffer* outputBuffer(int32_t index) noexcept;
    // Buffer of a block id; id < 0: the first buffer; null when none.
    OutputBuffer* findOutputBuffer(int32_t blockId) noexcept;
    bool hasBlockId(int32_t blockId) const noexcept { return blockMap_.count(blockId) != 0; }

    // Source file table: indices from 1.
    int32_t addSourceFile(std::string_view path);
    ereturnvalue sourceFilePath(int32_t index, std::string& path) const;
    const std::string* findSourceFile(int32_t index) const noexcept;
    const std::vector<std::string>& sourceFiles() const noexcept { return sourceFiles_; }
    void clearSourceFiles() noexcept { sourceFiles_.clear(); }

    // Symbol tables (kept by the compiler when asked; never in compiled files).
    std::map<int32_t, std::string>& globalSymbols() noexcept { return globalSymbols_; }
    // Function names (system and user) with their numbers, for isfuncdef; a
    // program loaded from a compiled file has none.
    NameTable& functionNames() noexcept { return functionNames_; }
    const NameTable& functionNames() const noexcept { return functionNames_; }
    bool hasFunctionName(std::string_view name) const noexcept;

    // Rebuilds the block map from the code; returns the number of block
    // headers. Throws ereturnvalue::Error when the code does not have the
    // block layout.
    int32_t scan();

    // Empties code, output buffers, block map and symbol tables (not the source files).
    void clear() noexcept;

  private:
    void syncReader() noexcept
    {
        reader_.attach(code(), code_.length());
        ++codeVersion_;
    }

    ByteBuffer code_;
    uint32_t codeVersion_ = 0;
    CodeReader reader_;
    std::vector<std::unique_ptr<OutputBuffer>> outputs_;
    std::unordered_map<int32_t, int32_t> blockMap_;
    std::map<int32_t, std::string> globalSymbols_;
    NameTable functionNames_;
    std::vector<std::string> sourceFiles_;
};

// One line per instruction ("0012 PUSHINT 5"); unreadable bytes end the listing with "??".
std::string Disassemble(const ProgramImage& image);

} // namespace tn
