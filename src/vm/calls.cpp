// Frames, references, argument binding and returns, and the CALLSYS path.
//
// By-reference parameters are copy-in/copy-out: the callee works on its own
// copy and the caller's variable receives the final value only when the call
// returns normally. Frames are kept after use and reset, so a call allocates
// nothing once the depth has been reached before.
#include "vm/call_paths.h"

#include <algorithm>
#include <cstdio>

namespace tn
{

namespace
{
const Value kNullValue;

std::string formatMessage(const char* format, int32_t a, int32_t b)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

// True when one of the [count] arguments from [first] is read by value
// through [reference]: its variable must keep its value until that read.
bool readByValue(const Value* first, int32_t count, int32_t reference, const CallFrame& frame)
{
    for (int32_t j = 1; j <= count; ++j)
        if (first[j - 1].isReference() && first[j - 1].rawInt() == reference &&
            !(j <= frame.flagCount && frame.byReference(j)))
            return true;
    return false;
}
} // namespace

const Value& VirtualMachine::peek(const Value& v, CallFrame* frame)
{
    const Value* current = &v;
    int32_t hops = 0;
    while (current->isReference())
    {
        const int32_t p = current->rawInt();
        if (p >= 0)
        {
            current = globals_.find(p);
        }
        else
        {
            if (!frame) raiseRuntimeError("invalid local reference");
            if (p == INT32_MIN) raiseRuntimeError("invalid reference");
            current = frame->locals.find(-p);
        }
        if (!current) return kNullValue;
        if (++hops > kMaxReferenceHops) raiseRuntimeError("reference loop");
    }
    return *current;
}

Value& VirtualMachine::globalSlot(int32_t slot)
{
    if (slot < 0) raiseRuntimeError("invalid reference");
    return globals_.at(slot);
}

Value& VirtualMachine::localSlot(int32_t slot)
{
    CallFrame* frame = currentFrame();
    if (!frame) raiseRuntimeError("invalid pop local ");
    if (slot < 0) raiseRuntimeError("invalid reference");
    return frame->locals.at(slot);
}

Value* VirtualMachine::directVariable(int32_t reference, CallFrame* caller)
{
    Value* v = nullptr;
    if (reference > 0)
        v = &globals_.at(reference);
    else if (reference < 0 && reference != INT32_MIN && caller)
        v = &caller->locals.at(-reference);
    return v && !v->isReference() ? v : nullptr;
}

void VirtualMachine::returnLent(CallFrame& frame, CallFrame* caller)
{
    const int32_t flagged = std::min(frame.flagCount, static_cast<int32_t>(frame.callerRefs.size()));
    for (int32_t i = 1; i <= flagged; ++i)
    {
        const int32_t target = frame.callerRefs[static_cast<size_t>(i) - 1];
        if (!frame.byReference(i) || target == 0 || i >= frame.locals.count()) continue;
        if (Value* variable = directVariable(target, caller)) *variable = std::move(frame.locals[i]);
    }
}

int32_t VirtualMachine::bindArguments(CallFrame& frame, int32_t declared, bool lendByReference)
{
    Value* top = stack_.top();
    if (!top) raiseStackUnderflow();
    if (!top->isInteger()) raiseRuntimeError("unexpected value");
    const int32_t count = top->rawInt();
    if (declared >= 0 && count != declared)
        raiseRuntimeError(
            formatMessage("Invalid number of function arguments. Expected %d, actual %d", declared, count));
    stack_.pop();
    if (stack_.count() < count) raiseStackUnderflow();
    // Positions past the flag list are by value, so a call without
    // by-reference parameters never touches the lists.
    const int32_t flagged = frame.flagCount;
    if (count <= 0) return flagged;
    CallFrame* caller = callerFrame();
    frame.locals.reserve(count + 1);
    frame.locals.at(count);
    for (int32_t i = count; i >= 1; --i)
    {
        Value& argument = *stack_.top();
        if (i <= flagged && frame.byReference(i))
        {
            if (!argument.isReference())
            {
                if (lendByReference) returnLent(frame, caller);
                raiseRuntimeError(formatMessage("Invalid function argument %d. Must be a variable", i, 0));
            }
            frame.callerRefs[static_cast<size_t>(i) - 1] = argument.rawInt();
            if (lendByReference)
            {
                // The same variable passed twice: the later position already holds it.
                int32_t sameAs = 0;
                for (int32_t j = i + 1; j <= std::min(count, flagged) && !sameAs; ++j)
                    if (frame.byReference(j) && frame.callerRefs[static_cast<size_t>(j) - 1] == argument.rawInt())
                        sameAs = j;
                if (sameAs)
                {
                    frame.locals[i] = frame.locals[sameAs];
                    stack_.pop();
                    continue;
                }
                Value* variable = directVariable(argument.rawInt(), caller);
                if (variable && !readByValue(&argument - (i - 1), i - 1, argument.rawInt(), frame))
                {
                    frame.locals[i] = std::move(*variable);
                    stack_.pop();
                    continue;
                }
            }
        }
        if (argument.isReference())
        {
            const int32_t p = argument.rawInt();
            const Value* global = p >= 0 ? globals_.find(p) : nullptr;
            frame.locals[i] = global && !global->isReference() ? *global : peek(argument, caller);
        }
        else
            frame.locals[i] = std::move(argument);
        stack_.pop();
    }
    return std::max(count, flagged);
}

void VirtualMachine::copyBack(CallFrame& frame)
{
    if (!frame.anyByReference()) return;
    CallFrame* caller = callerFrame();
    for (int32_t i = 1; i <= frame.flagCount; ++i)
    {
        if (!frame.byReference(i)) continue;
        const Value* source = frame.locals.find(i);
        const size_t at = static_cast<size_t>(i) - 1;
        const int32_t target = at < frame.callerRefs.size() ? frame.callerRefs[at] : 0;
        Value* destination = nullptr;
        if (target > 0)
            destination = &globals_.at(target);
        else if (target < 0 && target != INT32_MIN && caller)
            destination = &caller->locals.at(-target);
        if (!source || !destination) raiseRuntimeError("invalid function call");
        *destination = *source;
    }
}

void VirtualMachine::enter(int32_t count)
{
    CallFrame* frame = currentFrame();
    if (!frame) raiseRuntimeError("invalid function call");
    if (stack_.count() < count) raiseStackUnderflow();
    if (count < 0)
    {
        bindArguments(*frame, count);
        return;
    }
    // The flags lie below the top, the first parameter's on top.
    Value* const flags = stack_.data() + stack_.count() - count;
    bool byReference = false;
    for (int32_t i = count - 1; i >= 0; --i)
    {
        if (!flags[i].isInteger()) raiseRuntimeError("invalid function call");
        byReference |= flags[i].rawInt() != 0;
    }
    // Without a by-reference parameter no flag is kept: positions past the
    // flagged ones are by value.
    if (byReference || frame->flagCount != 0)
        for (int32_t i = count - 1; i >= 0; --i)
            frame->addFlag(flags[i].rawInt() != 0);
    stack_.truncate(stack_.count() - count);
    bindArguments(*frame, count);
}

// "$v = f($v, ...)": when the instruction at [store] puts the result into the
// variable that [argument] names, the variable's value moves into the
// argument, as the store replaces it anyway. An array nobody else holds can
// then be changed in place. The other arguments were read first, so one that
// names the same variable still shares the value. Returns the variable that
// lent its value, or null.
Value* VirtualMachine::lendFirst(Value& argument, int32_t store)
{
    if (image_->codeSize() - store < 5) return nullptr;
    const uint8_t* at = image_->code() + store;
    const int32_t slot = readInt32LE(at + 1);
    const int32_t p = argument.rawInt();
    Value* variable = nullptr;
    if (at[0] == uint8_t(Op::POPGLOBAL) && p >= 0 && slot == p && p < globals_.count())
        variable = &globals_[p];
    else if (at[0] == uint8_t(Op::POPLOCAL) && p < 0 && p != INT32_MIN && slot == -p && frame_ &&
             slot < frame_->locals.count())
        variable = &frame_->locals[slot];
    if (!variable || variable->isReference()) return nullptr;
    argument = std::move(*variable);
    return variable;
}

ereturnvalue VirtualMachine::callSystem(int32_t id, int32_t returnAddress, bool storeRunsNext)
{
    if (id >= -1) raiseRuntimeError("unknown system function called");
    // A page calls a few functions many times: rows found once are kept by id.
    FoundRow& found = foundRows_[static_cast<uint32_t>(id) % kFoundRows];
    if (found.id != id) found = {id, findFunction(id)};
    const SysFunction* row = found.row;
    // The common case: no by-reference parameter and [.. args, k] in order.
    // Nothing is lent, so nothing needs to go back on a failure or copy back.
    if (row && fastCalls_ && (row->byRefMask == 0 || row->declaredCount <= 0))
    {
        const Value* top = stack_.top();
        const int32_t count = top && top->isInteger() ? top->rawInt() : -1;
        if (count >= 0 && (row->declaredCount < 0 || count == row->declaredCount) && stack_.count() - 1 >= count)
            return callInPlace(*row, stack_.count() - 1 - count, count, storeRunsNext ? returnAddress : -1);
    }
    return callWithFrame(row, returnAddress);
}

// The call in a frame of its own: by-reference parameters, or a machine
// that pushes a frame for every call.
ereturnvalue VirtualMachine::callWithFrame(const SysFunction* row, int32_t returnAddress)
{
    if (row && (row->byRefMask == 0 || row->declaredCount <= 0))
    {
        const Value* top = stack_.top();
        const int32_t count = top && top->isInteger() ? top->rawInt() : -1;
        if (count >= 0 && (row->declaredCount < 0 || count == row->declaredCount) && stack_.count() - 1 >= count)
        {
            const int32_t below = stack_.count() - 1 - count;
            CallFrame& frame = pushFrame(returnAddress);
            bindValues(frame, stack_.data() + below, count);
            stack_.truncatePlain(below);
            Value result;
            const ereturnvalue code = InvokeSysFunction(*row, *this, frame, count, result);
            stack_.push(std::move(result));
            popFrame();
            return code;
        }
    }
    CallFrame& frame = pushFrame(returnAddress);
    int32_t declared = -1;
    if (row) DescribeSysFunction(*row, frame, declared);
    // By-reference arguments are lent to the function rather than shared, so
    // that pop() on a large array does not copy it. Should the function fail,
    // the values go back to the caller's variables before the error leaves.
    const int32_t argc = bindArguments(frame, declared, true);
    if (!row) raiseRuntimeError("unknown system function called");
    Value result;
    ereturnvalue code;
    try
    {
        code = InvokeSysFunction(*row, *this, frame, argc, result);
    }
    catch (...)
    {
        returnLent(frame, callerFrame());
        throw;
    }
    stack_.push(std::move(result));
    copyBack(frame);
    popFrame();
    return code;
}

// ---- System function sets ----

// A host's check comes after the core's in the list and speaks first.
ereturnvalue VirtualMachine::resumeCheck(bool& done)
{
    done = false;
    for (auto set = sets_.rbegin(); set != sets_.rend(); ++set)
        if (const FunctionSet::ResumeCheck check = (*set)->resumeCheck())
        {
            const ereturnvalue code = check(*this, done);
            if (code != ereturnvalue::OK || done) return code;
        }
    return ereturnvalue::OK;
}

// The core set knows no other scripts: without a host that does, the
// awaited script is not found.
WaitedScriptState VirtualMachine::waitedScriptState(int32_t scriptId)
{
    for (auto set = sets_.rbegin(); set != sets_.rend(); ++set)
        if (const FunctionSet::ScriptStateQuery query = (*set)->scriptStateQuery()) return query(*this, scriptId);
    return WaitedScriptState::NotFound;
}

// ---- Script environment ----

std::string VirtualMachine::SafeEnvironmentName(std::string_view name)
{
    if (name.empty()) return "_";
    std::string safe(name);
    for (size_t i = 0; i < safe.size(); ++i)
    {
        const unsigned char c = static_cast<unsigned char>(safe[i]);
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!(letter || (i > 0 && digit))) safe[i] = '_';
    }
    return safe;
}

void VirtualMachine::setEnvironmentVariable(std::string_view name, std::string_view value)
{
    environment_[SafeEnvironmentName(name)] = std::string(value);
}

} // namespace tn
