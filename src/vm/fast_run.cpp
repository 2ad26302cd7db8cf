// Running a segment of register code (see fast_code.h) on the machine.
//
// Variables and consumed stack elements are loaded into the segment's
// registers once its guards hold, and written back when it leaves; in between
// nothing else can see them: a segment's own call or return comes last.
#include "vm/call_paths.h"
#include "vm/fast_code.h"
#include "vm/int_functions.h"
#include "vm/statement_code.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace tn
{

// An element instruction of a segment; false: the plain loop must run it.
// Out of line, and reading the variables afresh, so that the segment loop
// keeps its registers.
__attribute__((noinline)) bool VirtualMachine::runElement(const FastInstr& in, int32_t* r)
{
    const bool local = in.op == FastOp::LoadLocalElem || in.op == FastOp::StoreLocalElem;
    ValueVector& vars = local ? frame_->locals : globals_;
    const int32_t i = std::max(r[in.a], 0);
    if (in.op == FastOp::LoadGlobalElem || in.op == FastOp::LoadLocalElem)
    {
        if (in.b >= vars.count() || !vars[in.b].isArray()) return false;
        const ValueVector& items = vars[in.b].arrayItems();
        if (i >= items.count() || !items[i].isInteger()) return false;
        r[in.d] = items[i].rawInt();
        return true;
    }
    if (in.d >= vars.count()) return false;
    Value& var = vars[in.d];
    // Unsharing or growing would allocate, which may fail: the plain loop does that.
    if (!var.isUnsharedArray()) return false;
    ValueVector& items = var.mutableArray();
    if (i >= items.capacity()) return false;
    items.at(i).setInteger(r[in.b]);
    return true;
}

// An Append of a segment; false: the plain loop must run the statement.
// Short pieces gather in a buffer that goes onto the String at once.
__attribute__((noinline)) bool VirtualMachine::runAppend(const FastInstr& in, const int32_t* r)
{
    const FastCode& fast = *fast_;
    const FastAppend& a = fast.append(in);
    ValueVector& vars = a.local ? frame_->locals : globals_;
    if (a.slot >= vars.count() || !vars[a.slot].isString()) return false;
    Value& target = vars[a.slot];
    const FastPiece* const pieces = fast.pieces(a);
    const FastPiece* const end = pieces + a.pieceCount;
    auto variable = [&](const FastPiece& p)
    { return (p.kind == FastPiece::Kind::Local ? frame_->locals : globals_).find(p.value); };
    // Nothing is appended unless all of it can be.
    for (const FastPiece* p = pieces; p != end; ++p)
        if (p->kind == FastPiece::Kind::Global || p->kind == FastPiece::Kind::Local)
            if (const Value* v = variable(*p); v && v->isReference()) return false;

    const size_t before = target.stringView().size();
    char buffer[256];
    size_t used = 0;
    auto flush = [&]
    {
        target.appendToString(std::string_view(buffer, used));
        used = 0;
    };
    auto add = [&](std::string_view text)
    {
        if (used + text.size() > sizeof buffer)
        {
            flush();
            if (text.size() > sizeof buffer / 2) return target.appendToString(text);
        }
        std::memcpy(buffer + used, text.data(), text.size());
        used += text.size();
    };
    for (const FastPiece* p = pieces; p != end; ++p)
    {
        switch (p->kind)
        {
        case FastPiece::Kind::Text:
            add(fast.text(*p));
            break;
        case FastPiece::Kind::Register:
        {
            if (used + 16 > sizeof buffer) flush();
            used = static_cast<size_t>(std::to_chars(buffer + used, buffer + used + 16, r[p->value]).ptr - buffer);
            break;
        }
        case FastPiece::Kind::Self:
            flush();
            concatScratch_.assign(target.stringView().substr(0, before));
            target.appendToString(concatScratch_);
            break;
        default:
            if (const Value* v = variable(*p))
            {
                if (v->isString())
                {
                    add(v->stringView());
                }
                else
                {
                    concatScratch_.clear();
                    v->appendText(concatScratch_);
                    add(concatScratch_);
                }
            }
            break;
        }
    }
    if (used > 0) flush();
    return true;
}

FastCode* VirtualMachine::fastCode()
{
    if (fast_ && fastImage_ == image_ && fastVersion_ == image_->codeVersion()) return fast_.get();
    fast_ = std::make_unique<FastCode>(image_->code(), image_->codeSize());
    statements_ = std::make_unique<StatementCode>(image_->code(), image_->codeSize());
    fastImage_ = image_;
    fastVersion_ = image_->codeVersion();
    return fast_.get();
}

// The guards of [segment]: its variables and inputs are loaded into its
// registers when they hold. Inline in runSegment, which runs one per call and return.
__attribute__((always_inline)) inline bool VirtualMachine::enterSegment(const FastSegment& segment)
{
    FastCode& fast = *fast_;
    int32_t* const r = fast.registers(segment);
    CallFrame* const frame = frame_;
    if ((segment.usesLocals || segment.returns) && !frame) return false;
    // What the plain paths would do otherwise: raise at the push, copy back.
    if (segment.calls && (depth_ >= kMaxCallDepth || !fastCalls_)) return false;
    if (segment.returns && frame->anyByReference()) return false;
    const int32_t depth = stack_.count();
    if (depth < segment.inputs) return false;
    for (int32_t k = 0; k < segment.inputs; ++k)
    {
        const Value& v = stack_[depth - 1 - k];
        if (!v.isInteger()) return false;
        r[k] = v.rawInt();
    }
    const Value* const globals = globals_.data();
    const Value* const locals = frame ? frame->locals.data() : nullptr;
    const uint32_t globalCount = static_cast<uint32_t>(globals_.count());
    const uint32_t localCount = frame ? static_cast<uint32_t>(frame->locals.count()) : 0;
    const FastVar* const vars = fast.vars(segment);
    for (uint32_t i = 0; i < segment.varCount; ++i)
    {
        const FastVar& var = vars[i];
        const auto slot = static_cast<uint32_t>(var.slot);
        if (slot >= (var.local ? localCount : globalCount)) return false;
        const Value& v = (var.local ? locals : globals)[slot];
        if (!v.isInteger()) return false;
        r[var.reg] = v.rawInt();
    }
    return true;
}

// Writes the registers back and leaves by exit [exitIndex]: sets [pc] and
// returns [executed], the instructions the run stood for (more when a call
// it makes runs whole as int code within [budget]).
__attribute__((always_inline)) inline int32_t VirtualMachine::leaveSegment(const FastSegment& segment,
                                                                           int32_t exitIndex, int32_t executed,
                                                                           int32_t budget, int32_t& pc)
{
    FastCode& fast = *fast_;
    const int32_t* const r = fast.registers(segment);
    Value* const globals = globals_.data();
    Value* const locals = frame_ ? frame_->locals.data() : nullptr;
    const FastVar* const vars = fast.vars(segment);
    // They hold Integers: only the number changes.
    for (uint32_t i = 0; i < segment.writtenCount; ++i)
        (vars[i].local ? locals : globals)[vars[i].slot].setInteger(r[vars[i].reg]);
    const FastExit& out = fast.exit(exitIndex);
    if (out.consumed > 0) stack_.truncatePlain(stack_.count() - out.consumed);
    const FastPush* push = fast.pushes(out);
    const uint32_t stays = out.pushCount - static_cast<uint32_t>(out.params);
    for (uint32_t i = 0; i < stays; ++i, ++push)
    {
        if (push->reference)
            stack_.pushReference(push->value);
        else
            stack_.pushInteger(r[push->value]);
    }
    pc = out.pc;
    if (out.kind == FastExit::Kind::Return)
    {
        pc = popFrame();
    }
    else if (out.kind == FastExit::Kind::Call)
    {
        if (intCalls_)
        {
            int32_t args[kMaxIntArguments];
            for (int32_t i = 0; i < out.params; ++i)
                args[i] = r[push[i].value];
            // The exit counted the callee's flag pushes and ENTER, and so does the int run.
            const int32_t flags = out.params + 1;
            const int32_t ran = callInteger(out.pc - 5 * flags, args, out.params, budget - executed + flags);
            if (ran >= 0)
            {
                pc = out.resume;
                return executed - flags + ran;
            }
        }
        ValueVector& args = pushFrame(out.resume).locals;
        if (out.params > 0) args.at(out.params);
        for (int32_t i = 1; i <= out.params; ++i, ++push)
            args[i].setInteger(r[push->value]);
    }
    return executed;
}

IntFunctions& VirtualMachine::intFunctions()
{
    if (!ints_ || intsImage_ != image_ || intsVersion_ != image_->codeVersion())
    {
        ints_ = std::make_unique<IntFunctions>(image_->code(), image_->codeSize());
        intsImage_ = image_;
        intsVersion_ = image_->codeVersion();
    }
    return *ints_;
}

int32_t VirtualMachine::callInteger(int32_t entry, const int32_t* args, int32_t count, int32_t budget)
{
    IntFunctions& ints = intFunctions();
    const int32_t function = ints.find(entry);
    if (function < 0 || ints.parameters(function) != count) return -1;
    IntFunctions::Outcome out;
    if (!ints.run(function, args, budget, kMaxCallDepth - depth_, out))
    {
        intCalls_ = false;
        return -1;
    }
    stack_.pushInteger(out.result);
    if (out.lined)
    {
        fileIndex_ = out.position >> 24;
        line_ = out.position & 0xFFFFFF;
    }
    return out.executed;
}

int32_t VirtualMachine::callIntegerFromStack(int32_t entry, int32_t budget)
{
    const int32_t depth = stack_.count();
    if (depth == 0 || !stack_[depth - 1].isInteger()) return -1;
    const int32_t k = stack_[depth - 1].rawInt();
    if (k < 0 || k > kMaxIntArguments || depth - 1 < k) return -1;
    int32_t args[kMaxIntArguments];
    const int32_t below = depth - 1 - k;
    for (int32_t i = 0; i < k; ++i)
    {
        const Value& v = peekFast(stack_[below + i]);
        if (!v.isInteger()) return -1;
        args[i] = v.rawInt();
    }
    const int32_t ran = callInteger(entry, args, k, budget);
    if (ran < 0) return -1;
    const int32_t result = stack_.top()->rawInt();
    // Integers and references below it: nothing to release.
    stack_.truncatePlain(below);
    stack_.pushInteger(result);
    return ran;
}

bool VirtualMachine::runSegment(FastSegment* segment, int32_t budget, int32_t& pc, int32_t& executed)
{
    FastCode& fast = *fast_;
    executed = 0;
    // Stretches that follow one another run here, the next one as soon as
    // the last leaves: only a refused first one reports false.
    for (bool firstOne = true;; firstOne = false)
    {
        if (!enterSegment(*segment))
        {
            if (!firstOne) return true;
            fast.missed(*segment);
            return false;
        }
        int32_t* const r = fast.registers(*segment);
        const FastInstr* const first = fast.instructions(*segment);
        const int32_t room = budget - executed;
        int32_t passes = 0;  // instructions of the passes a Loop repeated
        int32_t skipped = 0; // instructions of this pass that forward jumps stepped over
        // Threaded dispatch: each operation goes straight on to the next one's
        // code. In FastOp's order.
        static const void* const kCode[] = {
            &&opAdd,         &&opSub,    &&opMul,    &&opDiv,     &&opMod,     &&opAnd,     &&opOr,      &&opLt,
            &&opGt,          &&opLe,     &&opGe,     &&opNe,      &&opEq,      &&opNot,     &&opNeg,     &&opMove,
            &&opLine,        &&opExitLt, &&opExitGt, &&opExitLe,  &&opExitGe,  &&opExitNe,  &&opExitEq,  &&opExitZero,
            &&opExitNonZero, &&opExit,   &&opLoop,   &&opElement, &&opElement, &&opElement, &&opElement, &&opAppend};
        static_assert(sizeof kCode / sizeof kCode[0] == size_t(FastOp::Append) + 1);
        const FastInstr* in = first;
#define TN_NEXT goto* kCode[static_cast<uint8_t>((++in)->op)]
#define TN_FAST_BINARY(name, code)                                                                                     \
    op##name : r[in->d] = IntOperation(Op::code, r[in->a], r[in->b]);                                                  \
    TN_NEXT;
#define TN_FAST_EXIT(name, expr)                                                                                       \
    op##name : if (expr) goto leave;                                                                                   \
    TN_NEXT;
        goto* kCode[static_cast<uint8_t>(in->op)];
        TN_FAST_BINARY(Add, ADD)
        TN_FAST_BINARY(Sub, SUB)
        TN_FAST_BINARY(Mul, MUL)
        TN_FAST_BINARY(Div, DIV)
        TN_FAST_BINARY(Mod, MOD)
        TN_FAST_BINARY(And, AND)
        TN_FAST_BINARY(Or, OR)
        TN_FAST_BINARY(Lt, LT)
        TN_FAST_BINARY(Gt, GT)
        TN_FAST_BINARY(Le, LE)
        TN_FAST_BINARY(Ge, GE)
        TN_FAST_BINARY(Ne, NE)
        TN_FAST_BINARY(Eq, EQ)
    opNot:
        r[in->d] = r[in->a] == 0 ? 1 : 0;
        TN_NEXT;
    opNeg:
        r[in->d] = static_cast<int32_t>(0u - static_cast<uint32_t>(r[in->a]));
        TN_NEXT;
    opMove:
        r[in->d] = r[in->a];
        TN_NEXT;
    opLine:
        fileIndex_ = in->x >> 24;
        line_ = in->x & 0xFFFFFF;
        TN_NEXT;
        TN_FAST_EXIT(ExitLt, r[in->a] < r[in->b])
        TN_FAST_EXIT(ExitGt, r[in->a] > r[in->b])
        TN_FAST_EXIT(ExitLe, r[in->a] <= r[in->b])
        TN_FAST_EXIT(ExitGe, r[in->a] >= r[in->b])
        TN_FAST_EXIT(ExitNe, r[in->a] != r[in->b])
        TN_FAST_EXIT(ExitEq, r[in->a] == r[in->b])
        TN_FAST_EXIT(ExitZero, r[in->a] == 0)
        TN_FAST_EXIT(ExitNonZero, r[in->a] != 0)
    opElement:
        if (!runElement(*in, r)) goto leave;
        TN_NEXT;
    opAppend:
        if (!runAppend(*in, r)) goto leave;
        TN_NEXT;
    opLoop:
        if (passes + fast.exit(in->x).count - skipped + segment->maxCount > room) goto leave;
        passes += fast.exit(in->x).count - skipped;
        skipped = 0;
        in = first;
        goto* kCode[static_cast<uint8_t>(in->op)];
    opExit:
    leave:
        if (in->d != 0 && in->op >= FastOp::ExitLt && in->op <= FastOp::Exit)
        {
            skipped += fast.exit(in->x).skip;
            in = first + in->d;
            goto* kCode[static_cast<uint8_t>(in->op)];
        }
#undef TN_FAST_EXIT
#undef TN_FAST_BINARY
#undef TN_NEXT
        const int32_t ran = leaveSegment(*segment, in->x, passes + fast.exit(in->x).count - skipped, room, pc);

        if (segment->misses > 0) --segment->misses;
        executed += ran;
        if (static_cast<uint32_t>(pc) >= static_cast<uint32_t>(image_->codeSize())) return true;
        segment = fast.at(pc);
        if (!segment || segment->maxCount > budget - executed) return true;
    }
}

} // namespace tn
