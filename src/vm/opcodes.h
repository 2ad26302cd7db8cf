// Opcode numbers and operand classes, derived from opcodes.def.
#pragma once

#include <array>
#include <cstdint>

namespace tn
{

enum class Op : uint8_t
{
#define TN_OP(name, number, operand) name = number,
#include "vm/opcodes.def"
#undef TN_OP
};

enum class OperandKind : uint8_t
{
    None,
    Int32,
    String,
    Double,
    Invalid, // not an opcode
};

struct OpInfo
{
    const char* name;
    OperandKind operand;
};

// Indexed by the opcode byte; unused bytes have OperandKind::Invalid.
constexpr std::array<OpInfo, 256> kOpTable = []
{
    std::array<OpInfo, 256> table{};
    for (auto& entry : table)
        entry = {nullptr, OperandKind::Invalid};
#define TN_OP(name, number, operand) table[number] = {#name, OperandKind::operand};
#include "vm/opcodes.def"
#undef TN_OP
    return table;
}();

inline bool isJumpOpcode(uint8_t op) noexcept
{
    return op == uint8_t(Op::JMP) || op == uint8_t(Op::JMPFALSE) || op == uint8_t(Op::JMPTRUE);
}

} // namespace tn
