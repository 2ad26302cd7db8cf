// Decoding a statement around system calls into steps (see statement_code.h).
#include "vm/statement_code.h"

#include "vm/fast_code.h"
#include "vm/program_image.h"
#include "vm/virtual_machine.h"

#include <algorithm>
#include <cstring>

namespace tn
{

namespace
{
constexpr int32_t kMaxSteps = 256;
constexpr int32_t kMaxCode = 1 << 26; // larger images keep the plain loop (a state per byte)

// The comparison opcodes stand in CompareOp's order.
CompareOp compareOf(Op op)
{
    static_assert(int(Op::GT) - int(Op::LT) == int(CompareOp::GT) && int(Op::EQ) - int(Op::LT) == int(CompareOp::EQ));
    return static_cast<CompareOp>(int(op) - int(Op::LT));
}
} // namespace

StatementCode::StatementCode(const uint8_t* code, int32_t size) : code_(code), size_(size)
{
    if (size > 0 && size <= kMaxCode) states_.assign(static_cast<size_t>(size), 0);
}

// "$t = a . b . c" into a global: the first join may build the text in
// $t's old one. Only when every value of the chain is a constant or another
// global, so that nothing reads $t while it is lent out.
void StatementCode::markChainHead(size_t from, int32_t target)
{
    using Kind = StatementStep::Kind;
    StatementStep* head = nullptr;
    for (size_t i = from; i < steps_.size(); ++i)
    {
        StatementStep& step = steps_[i];
        if (step.kind == Kind::Concat && step.op == 0)
        {
            if (!head) head = &step;
            continue;
        }
        if (step.kind == Kind::Constant || step.kind == Kind::Integer) continue;
        if (step.kind == Kind::Variable && step.value >= 0 && step.value != target) continue;
        return;
    }
    if (!head) return;
    head->reuses = 1;
    head->slot = target;
}

int32_t StatementCode::decode(int32_t start, const VirtualMachine& vm)
{
    using Kind = StatementStep::Kind;
    const size_t firstStep = steps_.size(), firstConstant = constants_.size();
    Statement statement;
    statement.firstStep = static_cast<uint32_t>(firstStep);
    int32_t pc = start, executed = 0;
    // The step that made each value held.
    std::vector<int32_t> made;
    // Per step: where it starts, and whether nothing is held there (a jump may land on it).
    std::vector<int32_t> starts;
    std::vector<uint8_t> clear;
    // The first step of the expression being built: the steps since nothing was held.
    size_t expression = firstStep;
    bool calls = false;
    // The farthest a jump so far goes forward: code up to there may be reached.
    int32_t reach = start;
    // The step that made the value [k] from the top of those held after step [from]
    // (k = 1: the top); -1 when a step in between holds no value of a statement.
    auto makerOf = [&](size_t from, int32_t k) -> int32_t
    {
        for (size_t i = from + 1; k > 0 && i-- > firstStep;)
        {
            const StatementStep& maker = steps_[i];
            if (maker.kind == Kind::Call && maker.storesTo) return -1;
            if (--k == 0) return static_cast<int32_t>(i);
            switch (maker.kind)
            {
            case Kind::Call:
                k += maker.value;
                break;
            case Kind::Operator:
            case Kind::Compare:
            case Kind::Concat:
                k += 2;
                break;
            case Kind::Not:
            case Kind::Neg:
                k += 1;
                break;
            case Kind::Variable:
            case Kind::Reference:
            case Kind::Constant:
            case Kind::Integer:
                break;
            default:
                return -1;
            }
        }
        return -1;
    };
    while (pc < size_ && static_cast<int32_t>(steps_.size() - firstStep) < kMaxSteps)
    {
        const Op op = static_cast<Op>(code_[pc]);
        const OperandKind kind = kOpTable[code_[pc]].operand;
        if (kind == OperandKind::Int32 && size_ - pc < 5) break;
        const int32_t operand = kind == OperandKind::Int32 ? readInt32LE(code_ + pc + 1) : 0;
        int32_t next = pc + (kind == OperandKind::Int32 ? 5 : 1);
        const auto depth = static_cast<int32_t>(made.size());
        // How many values the instruction takes and leaves; -1 takes: not covered.
        int32_t takes = 0, leaves = 1;
        bool fused = false; // a store taken into the call before it
        StatementStep step{Kind::Variable};
        switch (op)
        {
        case Op::PUSHGLOBALREF:
        case Op::PUSHLOCALREF:
            if (operand < (op == Op::PUSHGLOBALREF ? 0 : 1))
            {
                takes = -1;
                break;
            }
            step.value = op == Op::PUSHGLOBALREF ? operand : -operand;
            statement.usesLocals |= op == Op::PUSHLOCALREF;
            break;
        case Op::PUSHINT:
            step.kind = Kind::Integer;
            step.value = operand;
            break;
        case Op::PUSHSTR:
        case Op::PUSHSTRALT:
        {
            const auto* text = reinterpret_cast<const char*>(code_ + pc + 1);
            const auto* zero = static_cast<const char*>(std::memchr(text, 0, static_cast<size_t>(size_ - pc - 1)));
            if (!zero)
            {
                takes = -1;
                break;
            }
            step.kind = Kind::Constant;
            step.value = static_cast<int32_t>(constants_.size());
            constants_.push_back(Value::string(std::string_view(text, static_cast<size_t>(zero - text))));
            next = static_cast<int32_t>(zero + 1 - reinterpret_cast<const char*>(code_));
            break;
        }
        case Op::PUSHFLOAT:
            if (size_ - pc < 9)
            {
                takes = -1;
                break;
            }
            step.kind = Kind::Constant;
            step.value = static_cast<int32_t>(constants_.size());
            constants_.push_back(Value::floating(readDoubleLE(code_ + pc + 1)));
            next = pc + 9;
            break;
        case Op::CALLSYS:
        {
            // [args, PUSHINT k] CALLSYS to a function the plain loop would
            // call with its arguments in place; the count's push joins the call.
            const bool counted = steps_.size() > firstStep && steps_.back().kind == Kind::Integer;
            const int32_t count = counted ? steps_.back().value : -1;
            const SysFunction* row = operand < -1 ? vm.findFunction(operand) : nullptr;
            // A call the count refuses is left to the plain loop, which reports it.
            if (!row || count < 0 || count > depth - 1 || (row->byRefMask != 0 && row->declaredCount > 0) ||
                (row->declaredCount >= 0 && count != row->declaredCount) || row->rule.refuses(count))
            {
                takes = -1;
                break;
            }
            // The result goes to the slot above the arguments.
            if (depth - 1 >= VirtualMachine::kStatementStack)
            {
                takes = -1;
                break;
            }
            // The call starts where the count's push did.
            steps_.pop_back();
            made.pop_back();
            step.kind = Kind::Call;
            step.value = count;
            step.row = row;
            takes = count;
            calls = true;
            break;
        }
        case Op::NOT:
        case Op::NEG:
            step.kind = op == Op::NOT ? Kind::Not : Kind::Neg;
            takes = 1;
            break;
        case Op::CONCAT:
        {
            step.kind = Kind::Concat;
            takes = 2;
            // "$s .= x": the left is the variable the next instruction stores
            // into, appended to in place as the plain loop does.
            const bool storeNext =
                size_ - next >= 5 && (code_[next] == uint8_t(Op::POPGLOBAL) || code_[next] == uint8_t(Op::POPLOCAL));
            const int32_t left = depth >= 2 ? makerOf(steps_.size() - 1, 2) : -1;
            if (storeNext && left >= 0)
            {
                StatementStep& maker = steps_[static_cast<size_t>(left)];
                const int32_t slot = readInt32LE(code_ + next + 1);
                const int32_t named = code_[next] == uint8_t(Op::POPGLOBAL) ? slot : -slot;
                if ((maker.kind == Kind::Variable || maker.kind == Kind::Reference) && maker.value == named &&
                    slot > (code_[next] == uint8_t(Op::POPGLOBAL) ? -1 : 0))
                {
                    maker.kind = Kind::Reference;
                    step.op = 1;
                }
            }
            break;
        }
        case Op::POPGLOBAL:
        case Op::POPLOCAL:
        case Op::POP:
            // Only a statement's one value, into a slot the plain store takes at once.
            if (depth != 1 || operand < 0)
            {
                takes = -1;
                break;
            }
            step.kind = op == Op::POP ? Kind::Pop : op == Op::POPGLOBAL ? Kind::StoreGlobal : Kind::StoreLocal;
            step.value = operand;
            statement.usesLocals |= op == Op::POPLOCAL;
            takes = 1;
            leaves = 0;
            if (op == Op::POPGLOBAL) markChainHead(expression, operand);
            // A call whose result the store takes next may borrow the
            // variable's value: its first argument stays a reference for that.
            // The store becomes part of the call's step.
            if (op != Op::POP && steps_.size() > firstStep && steps_.back().kind == Kind::Call)
            {
                StatementStep& call = steps_.back();
                fused = true;
                call.store = pc;
                const int32_t first = call.value > 0 ? makerOf(steps_.size() - 2, call.value) : -1;
                if (first >= 0 && steps_[static_cast<size_t>(first)].kind == Kind::Variable)
                    steps_[static_cast<size_t>(first)].kind = Kind::Reference;
            }
            break;
        case Op::LINE:
            if (depth != 0)
            {
                takes = -1;
                break;
            }
            step.kind = Kind::Line;
            step.value = operand;
            leaves = 0;
            break;
        case Op::JMP:
        case Op::JMPFALSE:
        case Op::JMPTRUE:
            // Between statements only: nothing held where a jump goes.
            takes = op == Op::JMP ? 0 : 1;
            if (depth != takes)
            {
                takes = -1;
                break;
            }
            step.kind = op == Op::JMP ? Kind::Jump : Kind::JumpIf;
            step.op = op == Op::JMPTRUE ? 1 : 0;
            step.exit = JumpTarget(next, operand, size_);
            leaves = 0;
            break;
        default:
            // The integer operators, then the comparisons (see OperatorIndex).
            if (const int32_t index = OperatorIndex(op); index >= 0)
            {
                const bool comparison = index >= OperatorIndex(Op::LT);
                step.kind = comparison ? Kind::Compare : Kind::Operator;
                step.op = comparison ? static_cast<uint8_t>(compareOf(op)) : static_cast<uint8_t>(op);
                takes = 2;
                break;
            }
            takes = -1;
            break;
        }
        // A call has taken its count's push off already.
        const auto held = static_cast<int32_t>(made.size());
        if (takes < 0 || takes > held || held - takes + leaves > VirtualMachine::kStatementStack) break;
        if (fused)
        {
            StatementStep& call = steps_.back();
            call.storesTo = op == Op::POPGLOBAL ? 1 : 2;
            call.reuses = call.row->reusesTarget ? call.storesTo : 0;
            call.slot = operand;
            // "$v = f(g(...))": f's one argument is g's result, made last, so
            // nothing reads $v once g has taken its old value.
            if (call.value == 1 && steps_.size() >= firstStep + 2)
            {
                StatementStep& inner = steps_[steps_.size() - 2];
                if (inner.kind == Kind::Call && !inner.storesTo && inner.row->reusesTarget)
                {
                    inner.reuses = call.storesTo;
                    inner.slot = operand;
                }
            }
            call.executed = ++executed;
            made.clear();
            pc = next;
            expression = steps_.size();
            continue;
        }
        if (step.kind != Kind::Call)
        {
            starts.push_back(pc);
            clear.push_back(depth == 0);
        }
        made.resize(static_cast<size_t>(held - takes));
        ++executed;
        pc = next;
        if (leaves) made.push_back(static_cast<int32_t>(steps_.size()));
        step.executed = executed;
        step.pc = next;
        steps_.push_back(step);
        if (made.empty()) expression = steps_.size();
        if (step.kind == Kind::Jump || step.kind == Kind::JumpIf) reach = std::max(reach, step.exit);
        // Past a jump that always leaves lies code no step reaches (a loop's
        // end, an else branch no jump goes to): what comes after a loop is not
        // part of it.
        if (step.kind == Kind::Jump && pc >= reach) break;
    }
    if (!calls)
    {
        steps_.resize(firstStep);
        constants_.resize(firstConstant);
        return kNone;
    }
    // What the plain loop takes on from here: variables as it pushed them.
    for (const int32_t index : made)
        if (steps_[static_cast<size_t>(index)].kind == Kind::Variable)
            steps_[static_cast<size_t>(index)].kind = Kind::Reference;
    // A jump forward to a step where nothing is held goes on to it, one back
    // to the first step loops; any other leaves.
    for (size_t i = firstStep; i < steps_.size(); ++i)
    {
        StatementStep& jump = steps_[i];
        if (jump.kind != Kind::Jump && jump.kind != Kind::JumpIf) continue;
        if (jump.exit == start)
        {
            jump.loops = true;
            continue;
        }
        const auto from = starts.begin() + static_cast<std::ptrdiff_t>(i - firstStep + 1);
        const auto landing = std::lower_bound(from, starts.end(), jump.exit);
        if (landing == starts.end() || *landing != jump.exit || !clear[static_cast<size_t>(landing - starts.begin())])
            continue;
        jump.value = static_cast<int32_t>(landing - starts.begin());
        jump.exit = -1;
    }
    for (size_t i = firstStep; i < steps_.size(); ++i)
        if (steps_[i].kind == Kind::Variable && steps_[i].value < 0) steps_[i].kind = Kind::LocalVariable;
    steps_.push_back({Kind::End});
    statement.stepCount = static_cast<uint32_t>(steps_.size() - firstStep);
    statement.total = executed;
    statement.endPc = pc;
    statements_.push_back(statement);
    return kBase + static_cast<int32_t>(statements_.size()) - 1;
}

} // namespace tn
