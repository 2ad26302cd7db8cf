// Builds program images by hand for tests: instructions, blocks, labels.
#pragma once

#include "vm/opcodes.h"
#include "vm/program_image.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tn::test
{

class ImageBuilder
{
  public:
    ImageBuilder& op(Op o)
    {
        code_.push_back(static_cast<char>(o));
        return *this;
    }
    ImageBuilder& op(Op o, int32_t operand)
    {
        op(o);
        appendInt(operand);
        return *this;
    }
    ImageBuilder& str(Op o, std::string_view text)
    {
        op(o);
        code_.append(text);
        code_.push_back('\0');
        return *this;
    }
    ImageBuilder& dbl(Op o, double value)
    {
        op(o);
        uint64_t bits;
        std::memcpy(&bits, &value, 8);
        for (int i = 0; i < 8; ++i)
            code_.push_back(static_cast<char>(bits >> (8 * i)));
        return *this;
    }
    ImageBuilder& raw(std::string_view bytes)
    {
        code_.append(bytes);
        return *this;
    }
    int32_t here() const { return static_cast<int32_t>(code_.size()); }

    // Block header plus the JMP over its body; closeBlock() patches the JMP.
    ImageBuilder& openBlock(int32_t id, bool output = true)
    {
        op(output ? Op::OUTBLOCK : Op::BLOCK, id);
        op(Op::JMP, 0);
        blockJump_ = here();
        return *this;
    }
    ImageBuilder& closeBlock()
    {
        patch(blockJump_ - 4, here() - blockJump_);
        return *this;
    }
    // A jump to an absolute offset (relative to the end of its operand).
    ImageBuilder& jumpTo(Op o, int32_t target)
    {
        op(o, target - (here() + 5));
        return *this;
    }
    int32_t jumpPlaceholder(Op o)
    {
        op(o, 0);
        return here() - 4;
    }
    void patchJumpHere(int32_t operandAt) { patch(operandAt, here() - (operandAt + 4)); }
    void patch(int32_t at, int32_t value) { writeInt32LE(reinterpret_cast<uint8_t*>(code_.data()) + at, value); }

    // Puts the code into [image] and gives it one output buffer per block.
    void install(ProgramImage& image) const
    {
        image.clear();
        image.setCode(code_);
        const int32_t blocks = image.scan();
        for (int32_t i = 0; i < blocks; ++i)
            image.registerBlock();
    }
    const std::string& bytes() const { return code_; }

  private:
    void appendInt(int32_t v)
    {
        for (int i = 0; i < 4; ++i)
            code_.push_back(static_cast<char>(static_cast<uint32_t>(v) >> (8 * i)));
    }
    std::string code_;
    int32_t blockJump_ = 0;
};

} // namespace tn::test
