// Statements around system calls, decoded once.
//
// "$u = strtoupper(join(",", $parts))" is seven byte-code instructions, and
// the plain loop spends more on them (fetching and checking each, pushing
// references and the argument count, finding the row, moving the result
// through the operand stack) than the two functions spend on their work.
// Register code takes integers only. So once a statement that calls a
// system function has been reached often (after its LINE, or where a jump
// lands, as a loop's body on the loop's own line is), it is decoded, with
// the statements that follow it: their pushes, calls (with their rows
// found), integer operators, comparisons, concatenations, stores, LINEs and
// jumps, up to the first instruction none of these covers, where the plain
// loop goes on. A loop's body thus runs as one piece from its first line to
// the jump back.
//
// The machine runs the steps on a small stack of its own, doing at each what
// the plain loop does for the instructions it stands for. A variable is read
// when it is pushed rather than when an operator or a call takes it: nothing
// in between can change it (the functions called touch no variable, and a
// statement's one store comes last), and reading a plain variable cannot
// fail; one that holds a reference goes as the reference, to be followed
// where the plain loop follows it. The last call before a store may borrow
// the stored variable's value, and "$s .= x" appends to the variable, as in
// the plain loop. Jumps are taken only between statements, where nothing is
// held, so every way into a step finds the same stack. Whatever is left when
// a call suspends or stops the run, or when the steps end inside a
// statement, goes onto the operand stack as the plain loop would have it.
// The steps run only when all of them fit the instruction budget, so no limit
// or slice end falls among them.
#pragma once

#include "vm/function_set.h"
#include "vm/value.h"

#include <cstdint>
#include <vector>

namespace tn
{

class VirtualMachine;

struct StatementStep
{
    // runStatement's table of steps follows this order.
    enum class Kind : uint8_t
    {
        Variable,  // push the value of the variable the Reference [value] names
        Reference, // push the Reference [value] itself (a call may borrow the variable's value)
        Constant,  // push StatementCode::constant(value)
        Integer,   // push [value]
        Call,      // [row] on the top [value] values
        Operator,  // the integer operator Op(op)
        Compare,   // the comparison CompareOp(op)
        Not,
        Neg,
        Concat,      // the top two joined; [op] 1: the left is a Reference to the variable the next step stores;
                     // [reuses]: the head of a chain stored into global [slot], which may lend its old text
        StoreGlobal, // the top into global [value]
        StoreLocal,  // the top into local [value]
        Pop,
        Line,          // the position [value], as LINE sets it
        Jump,          // on to step [value], or leave for address [exit]
        JumpIf,        // pop a value; when its truth is [op], as Jump
        End,           // after the last step
        LocalVariable, // Variable of a local, told apart once decoding is done
    } kind;
    uint8_t op = 0;
    bool loops = false; // a jump back to the first step: again while the budget holds a whole pass
    // A Call whose result the next instruction stores: 1 into global [slot],
    // 2 into local [slot]. The store is part of the step and of its count.
    uint8_t storesTo = 0;
    // A Call whose row reuses its target, or a Concat at a chain's head: the
    // variable [slot] whose old value may be lent for the result, 1 a
    // global, 2 a local; 0 none. A call may lend the target of the call that
    // takes its result as its one argument and is stored at once.
    uint8_t reuses = 0;
    int32_t value = 0;
    int32_t executed = 0; // byte-code instructions from the first step to the end of this one, laid out in order
    int32_t pc = 0;       // the address after the step
    int32_t store = -1;   // a Call: where the store that surely follows it is, for a loan
    int32_t exit = -1;    // a jump out of the steps: where the plain loop goes on
    int32_t slot = 0;     // see storesTo
    const SysFunction* row = nullptr;
};

struct Statement
{
    uint32_t firstStep = 0, stepCount = 0;
    int32_t total = 0; // byte-code instructions of all the steps: no pass through them runs more
    int32_t endPc = 0;
    bool usesLocals = false; // needs a frame
};

class StatementCode
{
  public:
    StatementCode(const uint8_t* code, int32_t size);

    // The statement whose first instruction is at [pc], decoded once it is
    // hot; null when there is none.
    const Statement* at(int32_t pc, const VirtualMachine& vm)
    {
        if (static_cast<uint32_t>(pc) >= states_.size()) return nullptr;
        int32_t& state = states_[static_cast<size_t>(pc)];
        if (state >= kBase) return &statements_[static_cast<size_t>(state - kBase)];
        if (state == kNone || ++state < kHot) return nullptr;
        state = decode(pc, vm);
        return state >= kBase ? &statements_[static_cast<size_t>(state - kBase)] : nullptr;
    }
    const StatementStep* steps(const Statement& s) const noexcept { return steps_.data() + s.firstStep; }
    const Value& constant(int32_t index) const noexcept { return constants_[static_cast<size_t>(index)]; }

  private:
    static constexpr int32_t kHot = 16;
    static constexpr int32_t kNone = -1;
    static constexpr int32_t kBase = 1 << 24;
    int32_t decode(int32_t pc, const VirtualMachine& vm);
    void markChainHead(size_t from, int32_t target);

    const uint8_t* code_;
    int32_t size_;
    // One state per code byte (arrivals counted up to kHot, kNone, or kBase
    // plus the statement's index): a LINE asks on every run.
    std::vector<int32_t> states_;
    std::vector<Statement> statements_;
    std::vector<StatementStep> steps_;
    std::vector<Value> constants_;
};

} // namespace tn
