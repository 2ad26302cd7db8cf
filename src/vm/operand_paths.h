// The operators' and the stores' work on values in place, inline for the
// execution loop and the statements it runs whole. For an operator [top] is
// the right operand, top[-1] the left one, which takes the result.
#pragma once

#include "vm/fast_code.h"
#include "vm/virtual_machine.h"

#define TN_OPERAND_INLINE __attribute__((always_inline)) inline

namespace tn
{

TN_OPERAND_INLINE int32_t VirtualMachine::intOf(const Value& v)
{
    if (v.isInteger()) return v.rawInt();
    const Value& target = peekFast(v);
    return target.isInteger() ? target.rawInt() : target.toInt();
}

TN_OPERAND_INLINE void VirtualMachine::operateOn(Value* top, uint8_t op)
{
    const int32_t b = intOf(*top);
    const int32_t a = intOf(top[-1]);
    top[-1].setInteger(IntOperation(static_cast<Op>(op), a, b));
}

TN_OPERAND_INLINE void VirtualMachine::compareOn(Value* top, CompareOp op)
{
    const Value& b = peekFast(*top);
    const Value& a = peekFast(top[-1]);
    bool r;
    if (a.isInteger() && b.isInteger())
    {
        const int32_t x = a.rawInt(), y = b.rawInt();
        switch (op)
        {
        case CompareOp::LT:
            r = x < y;
            break;
        case CompareOp::GT:
            r = x > y;
            break;
        case CompareOp::LE:
            r = x <= y;
            break;
        case CompareOp::GE:
            r = x >= y;
            break;
        case CompareOp::NE:
            r = x != y;
            break;
        default:
            r = x == y;
            break;
        }
    }
    else
    {
        r = CompareValues(a, b, op);
    }
    top[-1].setInteger(r ? 1 : 0);
}

// The store of POPGLOBAL and POPLOCAL, of a value already read through any
// reference: into a variable [vars] has, or through the general path, which
// grows them (or refuses a negative slot).
TN_OPERAND_INLINE void VirtualMachine::storeInto(ValueVector& vars, int32_t slot, bool local, Value&& v)
{
    if (slot >= 0 && slot < vars.count())
        vars[slot] = std::move(v);
    else
        (local ? localSlot(slot) : globalSlot(slot)) = std::move(v);
}

} // namespace tn

#undef TN_OPERAND_INLINE
