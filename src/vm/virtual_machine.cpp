// The execution loop and the run entry points.
//
// Rules for the loop:
//  - pc lives in a local; it is written back to the image's cursor before
//    anything that may suspend the run (CALLSYS, the slice end) or needs it.
//  - Every operand read is bounds-checked against the code size; a read that
//    would leave the code ends the run normally, as the end of the code does.
//  - Reads of variables never grow the globals or locals (a missing slot reads
//    as Null); writes grow them. So a pointer obtained by a read stays valid
//    while another operand is read.
#include "vm/call_paths.h"
#include "vm/fast_code.h"
#include "vm/int_functions.h"
#include "vm/operand_paths.h"
#include "vm/statement_code.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

// The operand helpers are small and sit on the hottest path; keep them in the loop.
#define TN_ALWAYS_INLINE __attribute__((always_inline)) inline

namespace tn
{

VirtualMachine::VirtualMachine(FunctionSets sets) : sets_(std::move(sets)) {}
VirtualMachine::~VirtualMachine() = default;

void VirtualMachine::resetState() noexcept
{
    image_ = nullptr;
    instructionCounter_ = 0;
    output_ = nullptr;
    outputBlockId_ = -1;
    fileIndex_ = -1;
    line_ = -1;
    globals_.clear();
    stack_.clear();
    frames_.clear();
    depth_ = 0;
    frame_ = nullptr;
    stringConstants_.reset();
    constantsImage_ = nullptr;
    fast_.reset();
    statements_.reset();
    ints_.reset();
    fastImage_ = nullptr;
    intsImage_ = nullptr;
}

ereturnvalue VirtualMachine::attach(ProgramImage* image)
{
    resetState();
    if (!image) return ereturnvalue::Error;
    image_ = image;
    return ereturnvalue::OK;
}

void VirtualMachine::raiseRuntimeError(std::string_view text)
{
    errorMessage_ = "Runtime Error: ";
    errorMessage_.append(text);
    if (fileIndex_ >= 0 && line_ >= 0)
    {
        char buf[48];
        std::snprintf(buf, sizeof buf, ", on line %d of ", line_);
        errorMessage_ += buf;
        if (image_)
            if (const std::string* path = image_->findSourceFile(fileIndex_)) errorMessage_ += *path;
    }
    throw ereturnvalue::RuntimeError;
}

void VirtualMachine::selectOutput(int32_t blockId)
{
    OutputBuffer* buffer = image_ ? image_->findOutputBuffer(blockId) : nullptr;
    if (!buffer) raiseRuntimeError("internal error, output buffer not found");
    output_ = buffer;
    outputBlockId_ = blockId;
}

ereturnvalue VirtualMachine::run(std::string& message)
{
    return continueRunImpl(0, true, true, message);
}

ereturnvalue VirtualMachine::continueRun(int32_t slice, bool restart, std::string& message)
{
    return continueRunImpl(slice, restart, false, message);
}

ereturnvalue VirtualMachine::continueRunImpl(int32_t slice, bool restart, bool synchronous, std::string& message)
{
    ereturnvalue result;
    try
    {
        if (!image_ || image_->outputBufferCount() == 0) throw ereturnvalue::Empty;
        if (restart)
        {
            selectOutput(-1);
            inlineBlocks_ = true;
            stop_ = false;
            noWait_ = synchronous;
            waitedScriptId_ = 0;
            image_->reader().reset();
            if (!synchronous && image_->codeSize() == 0)
            {
                message = errorMessage_;
                return ereturnvalue::OK;
            }
        }
        result = slice > 0 ? execute<true>(slice) : execute<false>(0);
        message = errorMessage_;
    }
    catch (ereturnvalue code)
    {
        message = errorMessage_;
        result = code;
    }
    catch (int code)
    {
        message = ResultCodeName(code);
        result = static_cast<ereturnvalue>(code);
    }
    catch (const std::bad_alloc&)
    {
        message = errorMessage_;
        result = ereturnvalue::MemAlloc;
    }
    catch (...)
    {
        message = "Unknown runtime error";
        result = ereturnvalue::RuntimeError;
    }
    return result;
}

// ---- Operand helpers ----

TN_ALWAYS_INLINE Value VirtualMachine::popOperand()
{
    Value* top = stack_.top();
    if (!top) raiseStackUnderflow();
    Value v = top->isReference() ? peekFast(*top) : std::move(*top);
    stack_.dropTop();
    return v;
}

TN_ALWAYS_INLINE int32_t VirtualMachine::popInt()
{
    Value* top = stack_.top();
    if (!top) raiseStackUnderflow();
    const int32_t v = intOf(*top);
    stack_.dropTop();
    return v;
}

// The result takes the left operand's slot.
TN_ALWAYS_INLINE void VirtualMachine::binaryInt(uint8_t op)
{
    if (stack_.count() < 2) raiseStackUnderflow();
    operateOn(stack_.data() + stack_.count() - 1, op);
    stack_.dropTop();
}

TN_ALWAYS_INLINE void VirtualMachine::compare(CompareOp op)
{
    if (stack_.count() < 2) raiseStackUnderflow();
    compareOn(stack_.data() + stack_.count() - 1, op);
    stack_.dropTop();
}

const Value& VirtualMachine::stringConstant(int32_t pc, const char* text, int32_t length)
{
    if (!stringConstants_ || constantsImage_ != image_ || constantsVersion_ != image_->codeVersion())
    {
        stringConstants_ = std::make_unique<StringConstant[]>(kStringConstants);
        constantsImage_ = image_;
        constantsVersion_ = image_->codeVersion();
    }
    StringConstant& entry = stringConstants_[static_cast<uint32_t>(pc ^ (pc >> 9)) % kStringConstants];
    entry.text = Value::string(std::string_view(text, static_cast<size_t>(length)));
    entry.pc = pc;
    return entry.text;
}

// What CONCAT puts on the end of its left operand, taken as text.
void VirtualMachine::appendPiece(Value& to, const Value& piece)
{
    if (piece.isString())
    {
        to.appendToString(piece.stringView());
    }
    else if (piece.isInteger())
    {
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, piece.rawInt()).ptr;
        to.appendToString(std::string_view(digits, static_cast<size_t>(end - digits)));
    }
    else
    {
        concatScratch_.clear();
        piece.appendText(concatScratch_);
        to.appendToString(concatScratch_);
    }
}

bool VirtualMachine::appendToVariable(const Value& left, const Value& right)
{
    CallFrame* frame = currentFrame();
    const int32_t target = left.rawInt();
    Value& var = target >= 0 ? globalSlot(target) : frame->locals.at(-target);
    if (!var.isString()) return false;
    const Value& piece = peek(right, frame);
    if (&piece != &var)
    {
        appendPiece(var, piece);
    }
    else
    {
        std::string text;
        piece.appendText(text);
        var.appendToString(text);
    }
    return true;
}

void VirtualMachine::joinTexts(Value& left, const Value& right, Value* reuse)
{
    CallFrame* frame = currentFrame();
    // A text made by the previous CONCAT of a chain: nothing else sees it, so
    // the next piece goes on its end.
    if (left.isUnsharedString())
    {
        appendPiece(left, peek(right, frame));
        return;
    }

    // The head of a chain: room for the next pieces, from the pool's mid-size blocks.
    const Value& head = peek(left, frame);
    const Value& piece = peek(right, frame);
    std::string_view headText;
    int32_t capacity = kChainCapacity;
    if (head.isString())
    {
        headText = head.stringView();
        const size_t wanted = headText.size() + (piece.isString() ? piece.stringView().size() : 16);
        capacity = wanted < kChainCapacity ? kChainCapacity : wanted > kMaxCapacity ? 0 : static_cast<int32_t>(wanted);
    }
    else
    {
        concatScratch_.clear();
        head.appendText(concatScratch_);
        headText = concatScratch_;
    }
    // Or the old text of the variable the chain is stored into, when nothing
    // else holds it and it has room.
    Value text;
    if (reuse && reuse != &head && reuse != &piece && reuse->overwriteText(headText))
        text = std::move(*reuse);
    else
        text = Value::stringWithCapacity(headText, capacity);
    appendPiece(text, piece);
    left = std::move(text);
}

void VirtualMachine::concat(const uint8_t* code, int32_t pc, int32_t size)
{
    if (stack_.count() < 2) raiseStackUnderflow();
    Value& left = *stack_.second();
    // "$s .= x" compiles to [ref s] x CONCAT POP* s: when the next instruction
    // stores into the very variable the left operand refers to, the text
    // grows in place, so that repeated appends stay linear.
    if (left.isReference() && size - pc >= 5)
    {
        const uint8_t next = code[pc];
        const int32_t slot = readInt32LE(code + pc + 1);
        const int32_t target = left.rawInt();
        const bool sameGlobal = next == uint8_t(Op::POPGLOBAL) && target >= 0 && slot == target;
        const bool sameLocal =
            next == uint8_t(Op::POPLOCAL) && currentFrame() && target < 0 && slot > 0 && slot == -int64_t(target);
        if ((sameGlobal || sameLocal) && appendToVariable(left, *stack_.top()))
        {
            stack_.pop();
            return;
        }
    }
    joinTexts(left, *stack_.top());
    stack_.pop();
}

// ---- Array elements ----

namespace
{
int32_t elementIndex(const Value& index)
{
    int32_t i = index.isInteger() ? index.rawInt() : index.toInt();
    if (i < 0) i = 0;
    if (int64_t(i) >= ValueVector::kMaxCapacity) throw ereturnvalue::MemAlloc;
    return i;
}

// The loop's handlers by opcode byte; bytes that are no opcode go to [unknown].
using HandlerTable = std::array<const void*, 256>;

HandlerTable makeHandlerTable(const void* const* byOpcode, const void* unknown)
{
    HandlerTable table;
    table.fill(unknown);
    size_t next = 0;
#define TN_OP(name, number, operand) table[number] = byOpcode[next++];
#include "vm/opcodes.def"
#undef TN_OP
    return table;
}
} // namespace

void VirtualMachine::pushElement(Value& var, int32_t index)
{
    if (!var.isArray())
    {
        stack_.push(Value());
        return;
    }
    // Reading past the end grows the array (a shared array is detached first).
    const ValueVector& items = var.arrayItems();
    if (index < items.count())
    {
        Value copy = items[index];
        stack_.push(std::move(copy));
        return;
    }
    Value copy = var.mutableArray().at(index);
    stack_.push(std::move(copy));
}

void VirtualMachine::popElement(Value& var, int32_t index, Value&& value)
{
    if (!var.isArray()) var = Value::array();
    var.mutableArray().at(index) = std::move(value);
}

// POPLOCAL and POPGLOBAL: a value that is no reference moves into a variable
// that exists; anything else takes the general path, which may grow [vars].
__attribute__((always_inline)) inline void VirtualMachine::popInto(ValueVector& vars, int32_t slot, bool local)
{
    Value* top = stack_.top();
    if (top && !top->isReference() && slot >= 0 && slot < vars.count())
    {
        vars[slot] = std::move(*top);
        stack_.dropMovedTop();
        return;
    }
    storeInto(vars, slot, local, popOperand());
}

// ---- The loop ----

template <bool Sliced> ereturnvalue VirtualMachine::execute(int32_t slice)
{
    ereturnvalue result = ereturnvalue::OK;
    bool done = false;
    int32_t executed = 0;
    // The counter while a decoded statement runs (see runStatement), -1 otherwise.
    int32_t statementCounter = -1;

    if constexpr (Sliced)
    {
        if (waitedScriptId_ > 0)
        {
            const WaitedScriptState state = waitedScriptState(waitedScriptId_);
            if (state == WaitedScriptState::Running)
            {
                done = true;
                result = ereturnvalue::Wait;
            }
            else
            {
                waitedScriptId_ = 0;
                if (Value* top = stack_.top()) top->setInteger(WaitResult(state));
            }
        }
        else
        {
            result = resumeCheck(done);
        }
    }
    if (stop_ || done) return result;

    // Few values stay live through the loop, leaving registers to the
    // instruction pointer, the counter and the code: the cursor is found
    // again where it is written, and a system call that stops the run
    // returns at once.
    const uint8_t* const code = image_->code();
    const int32_t size = image_->codeSize();
    const uint8_t* const end = code + size;
    const int32_t start = image_->reader().pc();
    if (stringConstants_ && (constantsImage_ != image_ || constantsVersion_ != image_->codeVersion()))
        stringConstants_.reset();
    FastCode* fast = fast_ ? fastCode() : nullptr;
    intCalls_ = true;
    if (static_cast<uint32_t>(start) >= static_cast<uint32_t>(size)) return result;
    const uint8_t* ip = code + start;
    // The counter lives in a register; the member gets it back before a
    // system function may read it and however the loop ends.
    int32_t counter = instructionCounter_;
#define TN_PC static_cast<int32_t>(ip - code)
#define TN_SAVE_POSITION                                                                                               \
    instructionCounter_ = counter;                                                                                     \
    image_->reader().setPc(TN_PC)
    try
    {

// Operand reads: leave the loop (normally) when the code ends inside an operand.
#define TN_NEED(n)                                                                                                     \
    if (end - ip < (n)) goto endOfCode;
// A push that a CONCAT follows, onto a text made by the chain before it,
// which nothing else sees: the piece goes on its end at once and the CONCAT
// is counted as run, when the limit and the slice leave room for it.
#define TN_CONCAT_NEXT                                                                                                 \
    (ip < end && *ip == uint8_t(Op::CONCAT) && counter < kMaxInstructions && (!Sliced || executed < slice))
#define TN_TAKE_CONCAT(piece)                                                                                          \
    if (piece) appendPiece(*top, *(piece));                                                                            \
    ++ip;                                                                                                              \
    ++counter;                                                                                                         \
    if constexpr (Sliced) ++executed;
// The opcode of a handler shared by two, once its int operand is read.
#define TN_OPCODE ip[-5]
#define TN_INT_OPERAND(var)                                                                                            \
    TN_NEED(4);                                                                                                        \
    const int32_t var = readInt32LE(ip);                                                                               \
    ip += 4;

// Threaded dispatch: every handler ends in its own fetch and jump, so that
// branch prediction sees which opcode follows which. The slice ends after
// an instruction, the limit is tested before one.
#define TN_NEXT                                                                                                        \
    do                                                                                                                 \
    {                                                                                                                  \
        if constexpr (Sliced)                                                                                          \
            if (executed >= slice) goto sliceEnd;                                                                      \
        if (ip >= end) goto endOfCode;                                                                                 \
        const uint32_t op = *ip++;                                                                                     \
        if (++counter > kMaxInstructions) goto overLimit;                                                              \
        if constexpr (Sliced) ++executed;                                                                              \
        goto* kHandlers[op];                                                                                           \
    } while (false)

        static const void* const kByOpcode[] = {
#define TN_OP(name, number, operand) &&op_##name,
#include "vm/opcodes.def"
#undef TN_OP
        };
        static const HandlerTable kHandlers = makeHandlerTable(kByOpcode, &&opUnknown);
        TN_NEXT;

    op_BLOCK:
    {
        TN_NEED(4);
        ip += 4;
        TN_NEXT;
    }
    op_OUTBLOCK:
    {
        TN_INT_OPERAND(blockId);
        selectOutput(blockId);
        if (inlineBlocks_)
        {
            // Step over the JMP that skips the body, without executing it.
            CodeReader& reader = image_->reader();
            reader.setPc(TN_PC);
            if (!reader.skipInstruction()) goto endOfCode;
            ip = code + reader.pc();
        }
        TN_NEXT;
    }
    op_JMP:
    {
        TN_INT_OPERAND(offset);
        ip = code + JumpTarget(TN_PC, offset, size);
        goto arrived;
    }
    op_JMPFALSE:
    op_JMPTRUE:
    {
        TN_INT_OPERAND(offset);
        const bool truth = popInt() != 0;
        if (truth == (TN_OPCODE == uint8_t(Op::JMPTRUE))) ip = code + JumpTarget(TN_PC, offset, size);
        goto arrived;
    }
    op_CALL:
    {
        TN_INT_OPERAND(offset);
        const int32_t pc = TN_PC;
        image_->reader().setPc(pc);
        const int32_t entry = JumpTarget(pc, offset, size);
        int32_t budget = kMaxInstructions - counter;
        if constexpr (Sliced) budget = std::min(budget, slice - executed);
        if (counter >= intCallsFrom_ && intCalls_ && fastCalls_)
        {
            const int32_t ran = callIntegerFromStack(entry, budget);
            if (ran >= 0)
            {
                counter += ran;
                if constexpr (Sliced) executed += ran;
                goto arrived;
            }
        }
        const int32_t params = fastCalls_ ? plainEntry(code, size, entry) : -1;
        pushFrame(pc);
        if (params < 0 || params >= budget)
        {
            ip = code + entry;
            goto arrived;
        }
        // The flag pushes and the ENTER, done at once: counted first,
        // since a failing argument read reports at the ENTER.
        counter += params + 1;
        if constexpr (Sliced) executed += params + 1;
        const int32_t below = stack_.count() - 1 - params;
        bindValues(*frame_, stack_.data() + below, params);
        stack_.truncatePlain(below);
        ip = code + entry + 5 * (params + 1);
        goto arrived;
    }
    op_CALLSYS:
    {
        TN_INT_OPERAND(id);
        const int32_t pc = TN_PC;
        image_->reader().setPc(pc);
        instructionCounter_ = counter;
        bool nextRuns = counter < kMaxInstructions;
        if constexpr (Sliced) nextRuns = nextRuns && executed < slice;
        const ereturnvalue code2 = callSystem(id, pc, nextRuns);
        if (code2 == ereturnvalue::Incomplete || code2 == ereturnvalue::Wait)
        {
            TN_SAVE_POSITION;
            return code2;
        }
        goto mayStop;
    }
    op_ENTER:
    {
        TN_INT_OPERAND(count);
        if (!enterByValue(count)) enter(count);
        goto arrived;
    }
    op_RETURN:
    {
        ip = code + returnFromCall();
        goto arrived;
    }
    op_END:
    {
        stop_ = true;
        goto mayStop;
    }
    op_LINE:
    {
        TN_INT_OPERAND(position);
        fileIndex_ = position >> 24;
        line_ = position & 0xFFFFFF;
        if (counter >= registerCodeFrom_ && fastCalls_ && !statementRunning_) goto statementAt;
        TN_NEXT;
    }
    op_POP:
    {
        stack_.pop();
        TN_NEXT;
    }
    op_POPLOCAL:
    {
        TN_INT_OPERAND(slot);
        if (!frame_) raiseRuntimeError("invalid pop local ");
        popInto(frame_->locals, slot, true);
        TN_NEXT;
    }
    op_POPGLOBAL:
    {
        TN_INT_OPERAND(slot);
        popInto(globals_, slot, false);
        TN_NEXT;
    }
    op_PUSHLOCALREF:
    {
        TN_INT_OPERAND(slot);
        if (slot > 0 && frame_ && TN_CONCAT_NEXT)
            if (const Value* v = frame_->locals.find(slot); !v || !v->isReference())
                if (Value* top = stack_.top(); top && top->isUnsharedString())
                {
                    TN_TAKE_CONCAT(v);
                    TN_NEXT;
                }
        stack_.pushReference(static_cast<int32_t>(0u - static_cast<uint32_t>(slot)));
        TN_NEXT;
    }
    op_PUSHGLOBALREF:
    {
        TN_INT_OPERAND(slot);
        if (slot >= 0 && TN_CONCAT_NEXT)
            if (const Value* v = globals_.find(slot); !v || !v->isReference())
                if (Value* top = stack_.top(); top && top->isUnsharedString())
                {
                    TN_TAKE_CONCAT(v);
                    TN_NEXT;
                }
        stack_.pushReference(slot);
        TN_NEXT;
    }
    op_POPLOCALELEM:
    op_POPGLOBALELEM:
    {
        TN_INT_OPERAND(slot);
        const bool local = TN_OPCODE == uint8_t(Op::POPLOCALELEM);
        if (local && !currentFrame()) raiseRuntimeError("invalid pop local ");
        if (stack_.count() < 2) raiseStackUnderflow();
        const int32_t index = elementIndex(popOperand());
        {
            Value v = popOperand();
            popElement(local ? localSlot(slot) : globalSlot(slot), index, std::move(v));
        }
        TN_NEXT;
    }
    op_PUSHLOCALELEM:
    op_PUSHGLOBALELEM:
    {
        TN_INT_OPERAND(slot);
        const bool local = TN_OPCODE == uint8_t(Op::PUSHLOCALELEM);
        if (local && !currentFrame()) raiseRuntimeError("invalid pop local ");
        const int32_t index = elementIndex(popOperand());
        pushElement(local ? localSlot(slot) : globalSlot(slot), index);
        TN_NEXT;
    }
    op_PUSHINT:
    {
        TN_INT_OPERAND(value);
        stack_.pushInteger(value);
        TN_NEXT;
    }
    op_PUSHSTRALT:
    op_PUSHSTR:
    {
        const int32_t pc = TN_PC;
        const Value* text = nullptr;
        if (stringConstants_)
        {
            const StringConstant& entry = stringConstants_[static_cast<uint32_t>(pc ^ (pc >> 9)) % kStringConstants];
            if (entry.pc == pc) text = &entry.text;
        }
        if (!text)
        {
            const void* zero = std::memchr(ip, 0, static_cast<size_t>(end - ip));
            if (!zero) goto endOfCode;
            text = &stringConstant(pc, reinterpret_cast<const char*>(ip),
                                   static_cast<int32_t>(static_cast<const uint8_t*>(zero) - ip));
        }
        ip += text->stringView().size() + 1;
        if (TN_CONCAT_NEXT)
            if (Value* top = stack_.top(); top && top->isUnsharedString())
            {
                TN_TAKE_CONCAT(text);
                TN_NEXT;
            }
        stack_.push(*text);
        TN_NEXT;
    }
    op_PUSHFLOAT:
    {
        TN_NEED(8);
        stack_.push(Value::floating(readDoubleLE(ip)));
        ip += 8;
        TN_NEXT;
    }
    op_NOTE:
    {
        const void* zero = std::memchr(ip, 0, static_cast<size_t>(end - ip));
        if (!zero) goto endOfCode;
        ip = static_cast<const uint8_t*>(zero) + 1;
        TN_NEXT;
    }
#define TN_BINARY(name)                                                                                                \
    op_##name : binaryInt(uint8_t(Op::name));                                                                          \
    TN_NEXT;
        TN_BINARY(AND)
        TN_BINARY(OR)
        TN_BINARY(ADD)
        TN_BINARY(SUB)
        TN_BINARY(MUL)
        TN_BINARY(DIV)
        TN_BINARY(MOD)
#undef TN_BINARY
    op_NOT:
    {
        const int32_t a = popInt();
        stack_.pushInteger(a == 0 ? 1 : 0);
        TN_NEXT;
    }
    op_NEG:
    {
        const int32_t a = popInt();
        stack_.pushInteger(static_cast<int32_t>(0u - static_cast<uint32_t>(a)));
        TN_NEXT;
    }
#define TN_COMPARE(name)                                                                                               \
    op_##name : compare(CompareOp::name);                                                                              \
    TN_NEXT;
        TN_COMPARE(LT)
        TN_COMPARE(GT)
        TN_COMPARE(LE)
        TN_COMPARE(GE)
        TN_COMPARE(NE)
        TN_COMPARE(EQ)
#undef TN_COMPARE
    op_CONCAT:
        concat(code, TN_PC, size);
        TN_NEXT;
    opUnknown:
        image_->reader().setPc(TN_PC);
        raiseRuntimeError("corrupt script, operand not recognized");

    arrived:
        // Control arrived other than by falling through: where segments of
        // register code start.
        if constexpr (Sliced)
            if (executed >= slice) goto sliceEnd;
        if (counter >= registerCodeFrom_ && ip < end)
        {
            if (!fast) fast = fastCode();
            // Statements first: those decoded from a loop's head run the whole loop.
            const bool statements = fastCalls_ && !statementRunning_;
            if (statements && statements_->at(TN_PC, *this)) goto statementAt;
            FastSegment* segment = fast->at(TN_PC);
            int32_t budget = kMaxInstructions - counter;
            if constexpr (Sliced) budget = std::min(budget, slice - executed);
            int32_t next = TN_PC;
            int32_t ran = 0;
            if (segment && segment->maxCount <= budget && runSegment(segment, budget, next, ran))
            {
                ip = code + next;
                counter += ran;
                if constexpr (Sliced) executed += ran;
                // Statements may start where a segment ends, too.
                if (statements) goto statementAt;
            }
        }
        TN_NEXT;

    statementAt:
        // A statement after its LINE, or where a jump lands (a loop's body on
        // the loop's own line has no LINE), decoded once it is hot.
        if (!fast) fast = fastCode();
        if (const Statement* statement = statements_->at(TN_PC, *this))
        {
            int32_t budget = kMaxInstructions - counter;
            if constexpr (Sliced) budget = std::min(budget, slice - executed);
            // At the depth limit every call fails: the plain loop says so.
            if (statement->total <= budget && (frame_ || !statement->usesLocals) && depth_ < kMaxCallDepth)
            {
                statementCounter = counter;
                int32_t next = 0;
                const ereturnvalue code2 = runStatement(*statement, budget, statementCounter, next);
                if constexpr (Sliced) executed += statementCounter - counter;
                counter = statementCounter;
                statementCounter = -1;
                ip = code + next;
                if (code2 == ereturnvalue::Incomplete || code2 == ereturnvalue::Wait)
                {
                    TN_SAVE_POSITION;
                    return code2;
                }
                // The steps may end in a jump, to where a segment starts.
                if (stop_) goto mayStop;
                goto arrived;
            }
        }
        TN_NEXT;

    mayStop:
        // Only END and a system function can stop the run.
        if constexpr (Sliced)
            if (executed >= slice) goto sliceEnd;
        if (stop_) goto endOfCode;
        TN_NEXT;

    overLimit:
        image_->reader().setPc(TN_PC);
        raiseRuntimeError("maximum instructions exceeded");

    sliceEnd: // not reached by whole runs
        __attribute__((unused));
        TN_SAVE_POSITION;
        return ereturnvalue::Incomplete;
#undef TN_NEXT
    }
    catch (...)
    {
        instructionCounter_ = statementCounter >= 0 ? statementCounter : counter;
        throw;
    }
#undef TN_INT_OPERAND
#undef TN_OPCODE
#undef TN_TAKE_CONCAT
#undef TN_CONCAT_NEXT
#undef TN_NEED
endOfCode:
    TN_SAVE_POSITION;
#undef TN_SAVE_POSITION
#undef TN_PC
    return result;
}

template ereturnvalue VirtualMachine::execute<true>(int32_t);
template ereturnvalue VirtualMachine::execute<false>(int32_t);

} // namespace tn
