// Running a decoded statement (see statement_code.h) on the machine.
#include "vm/call_paths.h"
#include "vm/operand_paths.h"
#include "vm/statement_code.h"

#include <new>

namespace tn
{

namespace
{
// The value below [top] released; its slot Null again. Returns the new top.
inline Value* dropped(Value* top) noexcept
{
    --top;
    top->clearInline();
    return top;
}
} // namespace

// As POPGLOBAL and POPLOCAL store: a reference is read first. [value] is left Null.
inline void VirtualMachine::storeResult(Value& value, bool local, int32_t slot)
{
    if (value.isReference())
    {
        Value copy = peekFast(value);
        value = std::move(copy);
    }
    storeInto(local ? frame_->locals : globals_, slot, local, std::move(value));
}

ereturnvalue VirtualMachine::runStatement(const Statement& statement, int32_t budget, int32_t& counterOut, int32_t& pc)
{
    // Kept here, and handed back at every way out.
    int32_t counter = counterOut;
    const StatementCode& decoded = *statements_;
    // No pass may start that could run past this count.
    const int32_t limit = counter + budget;
    // The count where the first step starts, as if the steps ran in their
    // order: a jump moves it by the steps it passes over.
    int32_t start = counter;
    // The slots past [top] are Null: values are put there and taken off
    // without the checks of an assignment.
    Value* const base = statementStack_;
    Value* top = base;
    // What the steps hold, onto the operand stack as the plain loop would hold it.
#define TN_LEAVE                                                                                                       \
    for (Value* v = base; v != top; ++v)                                                                               \
        stack_.push(std::move(*v));                                                                                    \
    top = base
    statementRunning_ = true;
    try
    {
        const StatementStep* const first = decoded.steps(statement);
        const StatementStep* step = first;
        // The counter is brought up to date before each step that can fail
        // (reading through a reference can) or that a function may look at.
        // Each step dispatches the next from its own end, so that branch
        // prediction sees which kind follows which.
        static const void* const kByKind[] = {&&variable,    &&reference,  &&constant,     &&integer,  &&call,
                                              &&operation,   &&comparison, &&negation,     &&negative, &&concatenation,
                                              &&storeGlobal, &&storeLocal, &&pop,          &&line,     &&jump,
                                              &&jumpIf,      &&finished,   &&localVariable};
#define TN_STEP goto* kByKind[static_cast<uint8_t>(step->kind)]
        TN_STEP;
    variable:
    {
        // A global: a fresh slot past the count reads as Null.
        const int32_t p = step->value;
        if (p < globals_.count())
        {
            const Value& v = globals_[p];
            if (!v.isReference())
                new (top) Value(v);
            else
                new (top) Value(Value::reference(p));
        }
        ++top;
        ++step;
        TN_STEP;
    }
    localVariable:
    {
        const int32_t p = step->value;
        const Value* v = frame_->locals.find(-p);
        if (!v)
            ++top;
        else if (!v->isReference())
            new (top++) Value(*v);
        else
            new (top++) Value(Value::reference(p));
        ++step;
        TN_STEP;
    }
    reference:
        new (top++) Value(Value::reference(step->value));
        ++step;
        TN_STEP;
    constant:
        new (top++) Value(decoded.constant(step->value));
        ++step;
        TN_STEP;
    integer:
        new (top++) Value(Value::integer(step->value));
        ++step;
        TN_STEP;
    operation:
        counter = start + step->executed;
        operateOn(top - 1, step->op);
        top = dropped(top);
        ++step;
        TN_STEP;
    comparison:
        counter = start + step->executed;
        compareOn(top - 1, static_cast<CompareOp>(step->op));
        top = dropped(top);
        ++step;
        TN_STEP;
    negation:
        counter = start + step->executed;
        top[-1].setInteger(intOf(top[-1]) == 0 ? 1 : 0);
        ++step;
        TN_STEP;
    negative:
        counter = start + step->executed;
        top[-1].setInteger(static_cast<int32_t>(0u - static_cast<uint32_t>(intOf(top[-1]))));
        ++step;
        TN_STEP;
    concatenation:
        counter = start + step->executed;
        if (step->reuses)
            joinTexts(top[-2], top[-1], step->slot < globals_.count() ? &globals_[step->slot] : nullptr);
        else if (!step->op || !appendToVariable(top[-2], top[-1]))
            joinTexts(top[-2], top[-1]);
        top = dropped(top);
        ++step;
        TN_STEP;
    call:
    {
        // A store that is part of the step counts once the call is done.
        counter = start + step->executed - (step->storesTo != 0);
        instructionCounter_ = counter;
        image_->reader().setPc(step->pc);
        Value* const args = top - step->value;
        // The free slot above the arguments takes the result.
        Value& result = *top;
        Value* target = nullptr;
        if (step->reuses)
        {
            ValueVector& vars = step->reuses == 2 ? frame_->locals : globals_;
            if (step->slot < vars.count()) target = &vars[step->slot];
        }
        const ereturnvalue code = invokeOn(*step->row, args, step->value, step->store, result, true, target);
        while (top != args)
            top = dropped(top);
        // With no arguments the result is where it goes.
        if (args != &result) new (top) Value(std::move(result));
        if ((code != ereturnvalue::OK || stop_) &&
            (code == ereturnvalue::Incomplete || code == ereturnvalue::Wait || stop_)) [[unlikely]]
        {
            ++top;
            TN_LEAVE;
            pc = step->pc;
            statementRunning_ = false;
            counterOut = counter;
            return code == ereturnvalue::Incomplete || code == ereturnvalue::Wait ? code : ereturnvalue::OK;
        }
        if (!step->storesTo)
        {
            ++top;
            ++step;
            TN_STEP;
        }
        counter = start + step->executed;
        storeResult(*top, step->storesTo == 2, step->slot);
        ++step;
        TN_STEP;
    }
    storeGlobal:
    storeLocal:
        counter = start + step->executed;
        storeResult(top[-1], step->kind == StatementStep::Kind::StoreLocal, step->value);
        --top;
        ++step;
        TN_STEP;
    pop:
        top = dropped(top);
        ++step;
        TN_STEP;
    line:
        fileIndex_ = step->value >> 24;
        line_ = step->value & 0xFFFFFF;
        ++step;
        TN_STEP;
    jumpIf:
    {
        counter = start + step->executed;
        const bool truth = intOf(top[-1]) != 0;
        top = dropped(top);
        if (truth != (step->op != 0))
        {
            ++step;
            TN_STEP;
        }
    }
    jump:
        if (step->loops)
        {
            start += step->executed;
            if (start + statement.total <= limit)
            {
                step = first;
                TN_STEP;
            }
            // The plain loop goes on from the first step.
            counter = start;
        }
        else if (step->exit < 0)
        {
            const StatementStep* const target = first + step->value;
            start += step->executed - target[-1].executed;
            step = target;
            TN_STEP;
        }
        else
        {
            counter = start + step->executed;
        }
        pc = step->exit;
        goto left; // nothing is held where a jump goes
#undef TN_STEP
    finished:
        counter = start + step[-1].executed;
        pc = statement.endPc;
    left:
        TN_LEAVE;
        counterOut = counter;
    }
    catch (...)
    {
        counterOut = counter;
        for (Value& v : statementStack_)
            v.setNull();
        statementRunning_ = false;
        throw;
    }
    statementRunning_ = false;
    return ereturnvalue::OK;
#undef TN_LEAVE
}

} // namespace tn
