// Translation of byte code into segments of register code.
//
// The translator runs the stack machine symbolically: an entry of its stack is
// a register (a constant, an operator's result or an element the segment
// found on the real stack) or a variable reference. A reference is read when
// an operator takes it, as the plain loop dereferences it then, so a store in
// between is seen. Whatever is left on the symbolic stack when the segment
// leaves is pushed for real, references as references.
#include "vm/fast_code.h"

#include "vm/program_image.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>

namespace tn
{

namespace
{
constexpr int32_t kMaxInputs = 8;       // registers 0..7 of a segment
constexpr int32_t kMaxRegisters = 4096; // well inside the 16-bit register numbers
constexpr int32_t kMaxInstructions = 2000;
constexpr int32_t kMinCount = 3; // shorter stretches gain nothing
constexpr int32_t kMaxParameters = 16;

// A register, or a reference that gets its variable's register only when its
// value is used: a reference merely passed on needs no guard.
struct Entry
{
    bool reference;
    bool local;
    int32_t reg;     // a register; for a reference the variable's slot
    int32_t payload; // the Reference as the plain loop pushed it
    bool constant = false;
};

FastOp exitWhen(Op compare, bool truth)
{
    const Op holds = truth ? compare : NegatedCompare(compare);
    return FastOp(int32_t(FastOp::ExitLt) + (int32_t(holds) - int32_t(Op::LT)));
}

FastOp operatorOf(Op op)
{
    return FastOp(OperatorIndex(op));
}

bool isCompare(FastOp op)
{
    return op >= FastOp::Lt && op <= FastOp::Eq;
}
} // namespace

FastCode::FastCode(const uint8_t* code, int32_t size) : code_(code), size_(size), table_(256) {}

int32_t& FastCode::claim(size_t index, int32_t pc)
{
    if (2 * (used_ + 1) > table_.size())
    {
        std::vector<Slot> old(table_.size() * 2);
        old.swap(table_);
        used_ = 0;
        for (const Slot& slot : old)
            if (slot.pc >= 0) entry(slot.pc) = slot.state;
        return entry(pc);
    }
    ++used_;
    table_[index].pc = pc;
    return table_[index].state;
}

int32_t FastCode::appendStatement(int32_t pc, bool local, int32_t slot, int32_t& next, std::vector<FastPiece>& pieces)
{
    constexpr int32_t kMaxLength = 256;
    // The operands of the pending CONCATs: lists of pieces, the first one
    // headed by the variable itself (a Self piece while it stands alone).
    std::vector<std::vector<FastPiece>> lists(1);
    lists[0].push_back({FastPiece::Kind::Self, slot});
    auto addText = [&](std::vector<FastPiece>& list, std::string_view text)
    {
        if (!list.empty() && list.back().kind == FastPiece::Kind::Text &&
            static_cast<size_t>(list.back().value + list.back().length) == texts_.size())
            list.back().length += static_cast<int32_t>(text.size());
        else
            list.push_back(
                {FastPiece::Kind::Text, static_cast<int32_t>(texts_.size()), static_cast<int32_t>(text.size())});
        texts_.append(text);
    };
    for (int32_t count = 1; count <= kMaxLength && pc < size_; ++count)
    {
        const Op op = static_cast<Op>(code_[pc]);
        if (op == Op::PUSHSTR || op == Op::PUSHSTRALT)
        {
            const auto* text = reinterpret_cast<const char*>(code_ + pc + 1);
            const auto* zero = static_cast<const char*>(std::memchr(text, 0, static_cast<size_t>(size_ - pc - 1)));
            if (!zero) return 0;
            lists.emplace_back();
            addText(lists.back(), std::string_view(text, static_cast<size_t>(zero - text)));
            pc += static_cast<int32_t>(zero - text) + 2;
            continue;
        }
        if (op == Op::CONCAT)
        {
            if (lists.size() < 2) return 0;
            std::vector<FastPiece> right = std::move(lists.back());
            lists.pop_back();
            for (const FastPiece& piece : right)
                if (piece.kind == FastPiece::Kind::Text)
                    addText(lists.back(), std::string_view(texts_).substr(static_cast<size_t>(piece.value),
                                                                          static_cast<size_t>(piece.length)));
                else
                    lists.back().push_back(piece);
            ++pc;
            continue;
        }
        if (kOpTable[code_[pc]].operand != OperandKind::Int32 || size_ - pc < 5) return 0;
        const int32_t operand = readInt32LE(code_ + pc + 1);
        pc += 5;
        switch (op)
        {
        case Op::PUSHINT:
        {
            char digits[16];
            const auto r = std::to_chars(digits, digits + sizeof digits, operand);
            lists.emplace_back();
            addText(lists.back(), std::string_view(digits, static_cast<size_t>(r.ptr - digits)));
            break;
        }
        case Op::PUSHGLOBALREF:
        case Op::PUSHLOCALREF:
        {
            // As the plain loop reads the Reference: a negative payload names a local.
            const int32_t payload =
                op == Op::PUSHGLOBALREF ? operand : static_cast<int32_t>(0u - static_cast<uint32_t>(operand));
            if (payload == INT32_MIN) return 0;
            lists.push_back(
                {{payload < 0 ? FastPiece::Kind::Local : FastPiece::Kind::Global, payload < 0 ? -payload : payload}});
            break;
        }
        case Op::POPGLOBAL:
        case Op::POPLOCAL:
        {
            // Only into the variable that heads the one list left.
            if (lists.size() != 1 || lists[0].size() < 2 || lists[0][0].kind != FastPiece::Kind::Self ||
                (op == Op::POPLOCAL) != local || operand != slot)
                return 0;
            pieces.assign(lists[0].begin() + 1, lists[0].end());
            next = pc;
            return count;
        }
        default:
            return 0;
        }
    }
    return 0;
}

bool FastCode::callsBeforeNextLine(int32_t pc) const
{
    constexpr int32_t kLookAhead = 64; // instructions; a statement longer than that is rare
    CodeReader reader;
    reader.attach(code_, size_);
    reader.setPc(pc);
    for (int32_t n = 0; n < kLookAhead && !reader.atEnd(); ++n)
    {
        const Op op = static_cast<Op>(code_[reader.pc()]);
        if (op == Op::CALLSYS) return true;
        if (op == Op::LINE || op == Op::JMP || op == Op::JMPFALSE || op == Op::JMPTRUE || !reader.skipInstruction())
            return false;
    }
    return false;
}

void FastCode::resolveAppends(const FastSegment& segment, size_t firstAppend)
{
    auto held = [&](bool local, int32_t slot) -> const FastVar*
    {
        for (uint32_t i = segment.firstVar; i < vars_.size(); ++i)
            if (vars_[i].local == local && vars_[i].slot == slot) return &vars_[i];
        return nullptr;
    };
    for (size_t i = firstAppend; i < appends_.size(); ++i)
    {
        const FastAppend& a = appends_[i];
        if (held(a.local, a.slot))
        {
            // Its register would overwrite the text: such a statement always leaves.
            for (uint32_t k = segment.firstInstr; k < instrs_.size(); ++k)
                if (instrs_[k].op == FastOp::Append && (instrs_[k].a | size_t(instrs_[k].b) << 16) == i)
                    instrs_[k].op = FastOp::Exit;
            continue;
        }
        for (uint32_t k = a.firstPiece; k < a.firstPiece + a.pieceCount; ++k)
        {
            FastPiece& piece = pieces_[k];
            if (piece.kind != FastPiece::Kind::Global && piece.kind != FastPiece::Kind::Local) continue;
            const bool local = piece.kind == FastPiece::Kind::Local;
            if (local == a.local && piece.value == a.slot)
                piece.kind = FastPiece::Kind::Self;
            else if (const FastVar* var = held(local, piece.value))
                piece = {FastPiece::Kind::Register, var->reg};
        }
    }
}

int32_t FastCode::translate(int32_t start)
{
    FastSegment segment{};
    segment.startPc = start;
    segment.firstInstr = static_cast<uint32_t>(instrs_.size());
    segment.firstVar = static_cast<uint32_t>(vars_.size());
    segment.regBase = static_cast<uint32_t>(registers_.size());
    const size_t firstExit = exits_.size(), firstPush = pushes_.size();

    const size_t firstAppend = appends_.size(), firstPiece = pieces_.size(), firstText = texts_.size();
    std::vector<FastPiece> chain;
    std::vector<int32_t> regs(kMaxInputs, 0); // initial register contents
    std::vector<Entry> stack;
    int32_t consumed = 0, count = 0; // consumed: stack elements taken from below the start
    int32_t lastTemp = -1;           // register the last operator wrote, while nothing else used it
    int32_t longest = 0;             // instructions of the longest way out

    auto newRegister = [&](int32_t initial) -> int32_t
    {
        regs.push_back(initial);
        return static_cast<int32_t>(regs.size()) - 1;
    };
    auto variable = [&](bool local, int32_t slot) -> int32_t
    {
        for (uint32_t i = segment.firstVar; i < vars_.size(); ++i)
            if (vars_[i].local == local && vars_[i].slot == slot) return vars_[i].reg;
        const int32_t reg = newRegister(0);
        vars_.push_back({slot, static_cast<uint16_t>(reg), local, false});
        segment.usesLocals |= local;
        return reg;
    };
    // Whether [n] entries can be popped, some of them perhaps from the real stack.
    auto canTake = [&](int32_t n)
    { return consumed + std::max(0, n - static_cast<int32_t>(stack.size())) <= kMaxInputs; };
    // The register of the top entry, popped (after canTake).
    auto pop = [&]() -> int32_t
    {
        if (stack.empty()) return consumed++;
        const Entry e = stack.back();
        stack.pop_back();
        return e.reference ? variable(e.local, e.reg) : e.reg;
    };
    auto emit = [&](FastOp op, int32_t d, int32_t a, int32_t b, int32_t x) {
        instrs_.push_back({op, static_cast<uint16_t>(d), static_cast<uint16_t>(a), static_cast<uint16_t>(b), x});
    };
    auto addExit = [&](int32_t pc, int32_t executed) -> int32_t
    {
        FastExit e{pc, executed, consumed, static_cast<uint32_t>(pushes_.size()), 0};
        for (const Entry& entry : stack)
            pushes_.push_back({entry.reference, entry.reference ? entry.payload : entry.reg});
        e.pushCount = static_cast<uint32_t>(pushes_.size()) - e.pushFirst;
        exits_.push_back(e);
        longest = std::max(longest, executed);
        return static_cast<int32_t>(exits_.size()) - 1;
    };

    // Forward jumps that may land inside the segment: where the stack is
    // empty on both ways, the jump goes on at the instruction made there.
    struct Landing
    {
        uint32_t instr;
        int32_t target, countAfter, consumed, exitIndex;
    };
    std::vector<Landing> landings;
    auto forwardJump = [&](int32_t from, int32_t target, int32_t exitIndex)
    {
        if (target > from && stack.empty())
            landings.push_back({static_cast<uint32_t>(instrs_.size() - 1), target, count + 1, consumed, exitIndex});
    };

    // The top [n] entries as registers, for values taken when the segment leaves.
    auto valuesOnTop = [&](int32_t n)
    {
        for (size_t i = stack.size() - static_cast<size_t>(n); i < stack.size(); ++i)
            if (stack[i].reference) stack[i] = {false, false, variable(stack[i].local, stack[i].reg), 0};
    };

    // What follows a call or a return is reached only by a jump into it:
    // translation goes on while one may land there.
    auto afterExit = [&]()
    {
        stack.clear();
        lastTemp = -1;
        return landings.empty();
    };

    int32_t pc = start;
    bool closed = false, callOrReturn = false;
    // Each instruction takes at most three registers: none runs out midway.
    while (!closed && pc < size_ && static_cast<int32_t>(instrs_.size() - segment.firstInstr) < kMaxInstructions &&
           static_cast<int32_t>(regs.size()) + 3 < kMaxRegisters)
    {
        for (size_t i = 0; i < landings.size();)
        {
            const Landing& l = landings[i];
            if (l.target != pc)
            {
                ++i;
                continue;
            }
            if (stack.empty() && consumed == l.consumed)
            {
                instrs_[l.instr].d = static_cast<uint16_t>(instrs_.size() - segment.firstInstr);
                exits_[static_cast<size_t>(l.exitIndex)].skip = count - l.countAfter;
                lastTemp = -1; // nothing before here may be rewritten now
            }
            landings.erase(landings.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (!stack.empty() && stack.back().reference && appends_.size() < (size_t(1) << 32))
        {
            const Entry target = stack.back();
            int32_t after = 0;
            const size_t texts = texts_.size();
            const int32_t length = appendStatement(pc, target.local, target.reg, after, chain);
            if (length == 0) texts_.resize(texts); // a near miss leaves no texts behind
            if (length > 0)
            {
                // The way out when the variable holds no String: the plain loop
                // runs the statement from its first push.
                const int32_t side = addExit(pc, count);
                stack.pop_back();
                const auto index = static_cast<uint32_t>(appends_.size());
                appends_.push_back({target.reg, target.local, static_cast<uint32_t>(pieces_.size()),
                                    static_cast<uint32_t>(chain.size())});
                pieces_.insert(pieces_.end(), chain.begin(), chain.end());
                for (const FastPiece& piece : chain)
                    segment.usesLocals |= piece.kind == FastPiece::Kind::Local;
                segment.usesLocals |= target.local;
                emit(FastOp::Append, 0, index & 0xFFFF, index >> 16, side);
                count += length;
                pc = after;
                lastTemp = -1;
                continue;
            }
        }
        const Op op = static_cast<Op>(code_[pc]);
        const OperandKind kind = kOpTable[code_[pc]].operand;
        if (kind == OperandKind::Int32 && size_ - pc < 5) break;
        const int32_t operand = kind == OperandKind::Int32 ? readInt32LE(code_ + pc + 1) : 0;
        const int32_t next = pc + (kind == OperandKind::Int32 ? 5 : 1);
        bool taken = true;
        switch (op)
        {
        case Op::LINE:
            // The plain loop runs such a statement whole from its LINE.
            if (callsBeforeNextLine(next))
            {
                taken = false;
                break;
            }
            emit(FastOp::Line, 0, 0, 0, operand);
            break;
        case Op::PUSHINT:
        {
            stack.push_back({false, false, newRegister(operand), 0, true});
            lastTemp = -1;
            break;
        }
        case Op::PUSHGLOBALREF:
        case Op::PUSHLOCALREF:
        {
            const int32_t payload =
                op == Op::PUSHGLOBALREF ? operand : static_cast<int32_t>(0u - static_cast<uint32_t>(operand));
            if (payload == INT32_MIN)
                taken = false;
            else
                stack.push_back({true, payload < 0, payload < 0 ? -payload : payload, payload});
            lastTemp = -1;
            break;
        }
        case Op::ADD:
        case Op::SUB:
        case Op::MUL:
        case Op::DIV:
        case Op::MOD:
        case Op::AND:
        case Op::OR:
        case Op::LT:
        case Op::GT:
        case Op::LE:
        case Op::GE:
        case Op::NE:
        case Op::EQ:
        {
            if (!canTake(2))
            {
                taken = false;
                break;
            }
            const int32_t b = pop(), a = pop(), d = newRegister(0);
            emit(operatorOf(op), d, a, b, 0);
            stack.push_back({false, false, d, 0});
            lastTemp = d;
            break;
        }
        case Op::NOT:
        case Op::NEG:
        {
            if (!canTake(1))
            {
                taken = false;
                break;
            }
            const int32_t a = pop(), d = newRegister(0);
            emit(op == Op::NOT ? FastOp::Not : FastOp::Neg, d, a, 0, 0);
            stack.push_back({false, false, d, 0});
            lastTemp = d;
            break;
        }
        case Op::POPGLOBAL:
        case Op::POPLOCAL:
        {
            if (operand < 0 || !canTake(1))
            {
                taken = false;
                break;
            }
            const bool fromLast = !stack.empty() && !stack.back().reference && stack.back().reg == lastTemp;
            const int32_t value = pop();
            const int32_t target = variable(op == Op::POPLOCAL, operand);
            for (uint32_t i = segment.firstVar; i < vars_.size(); ++i)
                if (vars_[i].reg == target) vars_[i].written = true;
            if (fromLast)
                instrs_.back().d = static_cast<uint16_t>(target);
            else
                emit(FastOp::Move, target, value, 0, 0);
            lastTemp = -1;
            break;
        }
        case Op::PUSHGLOBALELEM:
        case Op::PUSHLOCALELEM:
        case Op::POPGLOBALELEM:
        case Op::POPLOCALELEM:
        {
            const bool store = op == Op::POPGLOBALELEM || op == Op::POPLOCALELEM;
            const bool local = op == Op::PUSHLOCALELEM || op == Op::POPLOCALELEM;
            // At the start it would only lead back to itself.
            if (count == 0 || operand < 0 || operand > UINT16_MAX || !canTake(store ? 2 : 1))
            {
                taken = false;
                break;
            }
            // The way out when the element is not a plain Integer: the plain
            // loop runs this instruction on the stack as it stands.
            const int32_t side = addExit(pc, count);
            segment.usesLocals |= local;
            const int32_t index = pop();
            if (store)
            {
                const int32_t value = pop();
                emit(local ? FastOp::StoreLocalElem : FastOp::StoreGlobalElem, operand, index, value, side);
            }
            else
            {
                const int32_t d = newRegister(0);
                emit(local ? FastOp::LoadLocalElem : FastOp::LoadGlobalElem, d, index, operand, side);
                stack.push_back({false, false, d, 0});
            }
            lastTemp = -1;
            break;
        }
        case Op::JMPFALSE:
        case Op::JMPTRUE:
        {
            if (!canTake(1))
            {
                taken = false;
                break;
            }
            const bool fromLast = !stack.empty() && !stack.back().reference && stack.back().reg == lastTemp;
            const int32_t cond = pop();
            const int64_t target = int64_t(next) + operand;
            const int32_t exitIndex = addExit(JumpTarget(next, operand, size_), count + 1);
            const bool truth = op == Op::JMPTRUE;
            if (fromLast && isCompare(instrs_.back().op))
            {
                FastInstr& cmp = instrs_.back();
                const auto compare = static_cast<Op>(uint8_t(Op::LT) + (uint8_t(cmp.op) - uint8_t(FastOp::Lt)));
                cmp = {exitWhen(compare, truth), 0, cmp.a, cmp.b, exitIndex};
            }
            else
            {
                emit(truth ? FastOp::ExitNonZero : FastOp::ExitZero, 0, cond, 0, exitIndex);
            }
            if (target <= size_) forwardJump(pc, static_cast<int32_t>(target), exitIndex);
            lastTemp = -1;
            break;
        }
        case Op::JMP:
        {
            const int32_t target = JumpTarget(next, operand, size_);
            // A loop that closes on the segment's own start runs again without leaving.
            const bool loop = target == start && stack.empty() && consumed == 0;
            const int32_t exitIndex = addExit(target, count + 1);
            emit(loop ? FastOp::Loop : FastOp::Exit, 0, 0, 0, exitIndex);
            // Over an else branch: what follows is reached by the jump into it.
            const size_t before = landings.size();
            if (!loop) forwardJump(pc, target, exitIndex);
            closed = landings.size() == before;
            lastTemp = -1;
            break;
        }
        case Op::CALL:
        {
            // Only a call the machine would bind at once: [args, k] on the
            // segment's own stack and a callee that starts with k zero flags.
            const int64_t far = int64_t(next) + operand;
            const int32_t k = stack.empty() || !stack.back().constant ? -1 : regs[size_t(stack.back().reg)];
            if (far < 0 || far > size_ || k < 0 || k > kMaxParameters || static_cast<int32_t>(stack.size()) < k + 1 ||
                size_ - far < 5 * (k + 1))
            {
                taken = false;
                break;
            }
            const uint8_t* at = code_ + far;
            for (int32_t i = 0; i < k && taken; ++i, at += 5)
                taken = at[0] == uint8_t(Op::PUSHINT) && readInt32LE(at + 1) == 0;
            if (!taken || at[0] != uint8_t(Op::ENTER) || readInt32LE(at + 1) != k)
            {
                taken = false;
                break;
            }
            stack.pop_back();
            valuesOnTop(k);
            // With the flag pushes and the ENTER.
            const int32_t exitIndex = addExit(static_cast<int32_t>(far) + 5 * (k + 1), count + k + 2);
            exits_[size_t(exitIndex)].kind = FastExit::Kind::Call;
            exits_[size_t(exitIndex)].params = k;
            exits_[size_t(exitIndex)].resume = next;
            emit(FastOp::Exit, 0, 0, 0, exitIndex);
            segment.calls = callOrReturn = true;
            closed = afterExit();
            break;
        }
        case Op::RETURN:
        {
            if (!canTake(1))
            {
                taken = false;
                break;
            }
            if (stack.empty()) stack.push_back({false, false, pop(), 0});
            valuesOnTop(1);
            const int32_t exitIndex = addExit(0, count + 1);
            exits_[size_t(exitIndex)].kind = FastExit::Kind::Return;
            emit(FastOp::Exit, 0, 0, 0, exitIndex);
            segment.returns = callOrReturn = true;
            closed = afterExit();
            break;
        }
        default:
            taken = false;
            break;
        }
        if (!taken) break;
        ++count;
        pc = next;
    }
    if (!closed) emit(FastOp::Exit, 0, 0, 0, addExit(pc, count));

    const int32_t ops = static_cast<int32_t>(instrs_.size() - segment.firstInstr);
    if (!callOrReturn && (count < kMinCount || ops < 2))
    {
        instrs_.resize(segment.firstInstr);
        vars_.resize(segment.firstVar);
        exits_.resize(firstExit);
        pushes_.resize(firstPush);
        appends_.resize(firstAppend);
        pieces_.resize(firstPiece);
        texts_.resize(firstText);
        return kNone;
    }
    resolveAppends(segment, firstAppend);
    segment.maxCount = std::max(count, longest);
    segment.inputs = consumed;
    segment.varCount = static_cast<uint32_t>(vars_.size()) - segment.firstVar;
    const auto written = std::stable_partition(vars_.begin() + segment.firstVar, vars_.end(),
                                               [](const FastVar& v) { return v.written; });
    segment.writtenCount = static_cast<uint32_t>(written - (vars_.begin() + segment.firstVar));
    registers_.insert(registers_.end(), regs.begin(), regs.end());
    segments_.push_back(segment);
    return kSegmentBase + static_cast<int32_t>(segments_.size()) - 1;
}

} // namespace tn
