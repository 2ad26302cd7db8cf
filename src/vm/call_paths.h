// The per-call paths of the machine, inline for the execution loop and the
// CALLSYS path: frame push and pop, by-value binding, the plain ENTER and
// RETURN, system calls with their arguments in place.
#pragma once

#include "vm/virtual_machine.h"

#define TN_CALL_INLINE __attribute__((always_inline)) inline

namespace tn
{

TN_CALL_INLINE CallFrame& VirtualMachine::pushFrame(int32_t returnAddress)
{
    if (static_cast<size_t>(depth_) == frames_.size()) frames_.emplace_back();
    CallFrame& frame = frames_[static_cast<size_t>(depth_)];
    ++depth_;
    // popFrame leaves frames empty; only a run that ended in an error leaves one in use.
    if (!frame.empty()) [[unlikely]]
        frame.reset();
    frame.returnAddress = returnAddress;
    frame_ = &frame;
    if (depth_ > kMaxCallDepth) [[unlikely]]
        raiseRuntimeError("max nested function calls exceeded");
    return frame;
}

TN_CALL_INLINE int32_t VirtualMachine::popFrame() noexcept
{
    CallFrame* frame = frame_;
    const int32_t address = frame->returnAddress;
    frame->reset();
    --depth_;
    frame_ = depth_ > 0 ? frame - 1 : nullptr;
    return address;
}

// Arguments 1..count, all by value, into the frame's fresh locals: values
// are moved, references read in the caller's view. From the last, as
// bindArguments goes, so that the first failing read is the same. The
// argument slots are left holding nothing to release.
TN_CALL_INLINE void VirtualMachine::bindValues(CallFrame& frame, Value* arguments, int32_t count)
{
    if (count <= 0) return;
    CallFrame* caller = callerFrame();
    ValueVector& locals = frame.locals;
    locals.at(count);
    for (int32_t i = count; i >= 1; --i)
    {
        Value& argument = arguments[i - 1];
        if (!argument.isReference())
        {
            locals[i] = std::move(argument);
            continue;
        }
        const int32_t p = argument.rawInt();
        const Value* v = nullptr;
        if (p >= 0)
            v = globals_.find(p);
        else if (caller && p != INT32_MIN)
            v = caller->locals.find(-p);
        locals[i] = v && !v->isReference() ? *v : peek(argument, caller);
    }
}

// ENTER when every flag is 0 and the count matches: [.. args, k, flags].
// False leaves everything as it was, for the general path.
TN_CALL_INLINE bool VirtualMachine::enterByValue(int32_t count)
{
    CallFrame* frame = frame_;
    const int32_t size = stack_.count();
    // 64-bit: a hostile count must not wrap the arithmetic.
    if (!frame || count < 0 || int64_t(size) - 2 * int64_t(count) - 1 < 0) return false;
    Value* const flags = stack_.data() + size - count;
    for (int32_t i = 0; i < count; ++i)
        if (!flags[i].isInteger() || flags[i].rawInt() != 0) return false;
    if (!flags[-1].isInteger() || flags[-1].rawInt() != count) return false;
    const int32_t below = size - 2 * count - 1;
    bindValues(*frame, flags - 1 - count, count);
    stack_.truncatePlain(below);
    return true;
}

// [PUSHINT 0] x k, ENTER k: the flags of k by-value parameters. A CALL that
// finds them can bind at once, as those k + 1 instructions would.
TN_CALL_INLINE int32_t VirtualMachine::plainEntry(const uint8_t* code, int32_t size, int32_t entry) const noexcept
{
    constexpr int32_t kMaxParameters = 16;
    const int32_t depth = stack_.count();
    if (depth == 0) return -1;
    const Value& top = stack_[depth - 1];
    if (!top.isInteger()) return -1;
    const int32_t count = top.rawInt();
    if (count < 0 || count > kMaxParameters || depth - 1 < count || size - entry < 5 * (count + 1)) return -1;
    const uint8_t* at = code + entry;
    for (int32_t i = 0; i < count; ++i, at += 5)
        if (at[0] != uint8_t(Op::PUSHINT) || readInt32LE(at + 1) != 0) return -1;
    return at[0] == uint8_t(Op::ENTER) && readInt32LE(at + 1) == count ? count : -1;
}

TN_CALL_INLINE int32_t VirtualMachine::returnFromCall()
{
    CallFrame* frame = frame_;
    if (!frame) raiseRuntimeError("return outside a function call");
    if (frame->anyByReference()) copyBack(*frame);
    Value* result = stack_.top();
    if (!result) raiseStackUnderflow();
    if (result->isReference() && result->rawInt() < 0)
    {
        // The frame dies next: its local can give its value up.
        const int32_t p = result->rawInt();
        Value* local = p != INT32_MIN && -p < frame->locals.count() ? &frame->locals[-p] : nullptr;
        if (local && !local->isReference())
        {
            *result = std::move(*local);
        }
        else
        {
            Value copy = peek(*result, frame);
            *stack_.top() = std::move(copy);
        }
    }
    return popFrame();
}

// The handler reads the arguments where they are: nothing is copied but the
// values of references. The caller has counted the call against the depth
// limit, as a frame would.
TN_CALL_INLINE ereturnvalue VirtualMachine::invokeOn(const SysFunction& row, Value* args, int32_t count, int32_t store,
                                                     Value& result, bool countChecked, Value* target)
{
    // From the last, as binding goes, so that the first failing read is the same.
    for (int32_t i = count - 1; i >= 1; --i)
        if (args[i].isReference()) args[i] = peekFast(args[i]);
    Value* lender = nullptr;
    if (count > 0 && args[0].isReference())
    {
        if (row.reusesFirst && store >= 0) lender = lendFirst(args[0], store);
        if (!lender) args[0] = peekFast(args[0]);
    }
    // The stored variable's old value, once the arguments have been read (one
    // may be that very variable), unless its value is lent already.
    if (target && !lender && !target->isReference())
        result = std::move(*target);
    else
        target = nullptr;
    if (!argFrame_.empty()) argFrame_.reset();
    try
    {
        SysCall call{*this, row, argFrame_, count, result, args};
        if (!countChecked && row.rule.refuses(count)) RefuseArgumentCount(call);
        return row.handler(call);
    }
    catch (...)
    {
        // The handler left a lent value as it was; handlers touch no variable.
        if (lender) *lender = std::move(args[0]);
        if (target) *target = std::move(result);
        throw;
    }
}

// A call on the operand stack, [.. args, count] from [below] on: the count's
// slot takes the result, then the result takes the first argument's.
TN_CALL_INLINE ereturnvalue VirtualMachine::callInPlace(const SysFunction& row, int32_t below, int32_t count,
                                                        int32_t store)
{
    if (depth_ >= kMaxCallDepth) raiseRuntimeError("max nested function calls exceeded");
    Value* const args = stack_.data() + below;
    Value& result = args[count];
    result = Value();
    ereturnvalue code;
    try
    {
        code = invokeOn(row, args, count, store, result, false);
    }
    catch (...)
    {
        stack_.truncate(below); // as the frame path leaves it
        throw;
    }
    if (count > 0) args[0] = std::move(result);
    stack_.truncate(below + 1);
    return code;
}

} // namespace tn

#undef TN_CALL_INLINE
