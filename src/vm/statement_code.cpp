// Decoding a statement around system calls into steps (see statement_code.h).
#include "vm/statement_code.h"

#include "vm/fast_code.h"
#include "vm/program_image.h"
#include "vm/virtual_machine.h"

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

int32_t StatementCode::decode(int32_t start, const VirtualMachine& vm)
{
    using Kind = StatementStep::Kind;
    const size_t firstStep = steps_.size(), firstConstant = constants_.size();
    Statement statement;
    statement.firstStep = static_cast<uint32_t>(firstStep);
    int32_t pc = start, executed = 0;
    // The step that made each value the statement holds (-1 for none left in the steps).
    std::vector<int32_t> made;
    bool calls = false, stored = false;
    while (!stored && pc < size_ && static_cast<int32_t>(steps_.size() - firstStep) < kMaxSteps)
    {
        const Op op = static_cast<Op>(code_[pc]);
        const OperandKind kind = kOpTable[code_[pc]].operand;
        if (kind == OperandKind::Int32 && size_ - pc < 5) break;
        const int32_t operand = kind == OperandKind::Int32 ? readInt32LE(code_ + pc + 1) : 0;
        int32_t next = pc + (kind == OperandKind::Int32 ? 5 : 1);
        // How many values the instruction takes and leaves; -1 takes: not covered.
        int32_t takes = 0, leaves = 1;
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
            const auto depth = static_cast<int32_t>(made.size());
            if (!row || count < 0 || count > depth - 1 || (row->byRefMask != 0 && row->declaredCount > 0) ||
                (row->declaredCount >= 0 && count != row->declaredCount))
            {
                takes = -1;
                break;
            }
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
        case Op::POPGLOBAL:
        case Op::POPLOCAL:
        case Op::POP:
            // Only the statement's one value, into a slot the plain store takes at once.
            if (made.size() != 1 || operand < 0)
            {
                takes = -1;
                break;
            }
            statement.end = op == Op::POP         ? Statement::End::Pop
                            : op == Op::POPGLOBAL ? Statement::End::StoreGlobal
                                                  : Statement::End::StoreLocal;
            statement.slot = operand;
            statement.usesLocals |= op == Op::POPLOCAL;
            stored = true;
            takes = 1;
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
        const auto depth = static_cast<int32_t>(made.size());
        if (takes < 0 || takes > depth || depth - takes + leaves > VirtualMachine::kStatementStack)
        {
            stored = false;
            break;
        }
        made.resize(static_cast<size_t>(depth - takes));
        ++executed;
        pc = next;
        if (stored) break;
        if (leaves) made.push_back(static_cast<int32_t>(steps_.size()));
        step.executed = executed;
        step.pc = next;
        steps_.push_back(step);
    }
    if (!calls)
    {
        steps_.resize(firstStep);
        constants_.resize(firstConstant);
        return kNone;
    }
    if (!stored)
    {
        // What the plain loop takes on from here: variables as it pushed them.
        statement.end = Statement::End::Leave;
        for (const int32_t index : made)
            if (index >= 0 && steps_[static_cast<size_t>(index)].kind == Kind::Variable)
                steps_[static_cast<size_t>(index)].kind = Kind::Reference;
    }
    // A call whose result the store takes next may borrow the variable's
    // value: its first argument stays a reference for that.
    if (stored && statement.end != Statement::End::Pop && steps_.back().kind == Kind::Call)
    {
        StatementStep& call = steps_.back();
        call.store = call.pc;
        // Back from the call: each step made the top value of its time from
        // the ones it took; the one that makes the k-th from the top made the first.
        int32_t values = call.value;
        for (size_t i = steps_.size() - 1; values > 0 && i-- > firstStep;)
        {
            StatementStep& maker = steps_[i];
            if (--values == 0)
            {
                if (maker.kind == Kind::Variable) maker.kind = Kind::Reference;
                break;
            }
            values += maker.kind == Kind::Call                                      ? maker.value
                      : maker.kind == Kind::Operator || maker.kind == Kind::Compare ? 2
                      : maker.kind == Kind::Not || maker.kind == Kind::Neg          ? 1
                                                                                    : 0;
        }
    }
    statement.stepCount = static_cast<uint32_t>(steps_.size() - firstStep);
    statement.total = executed;
    statement.endPc = pc;
    statements_.push_back(statement);
    return kBase + static_cast<int32_t>(statements_.size()) - 1;
}

} // namespace tn
