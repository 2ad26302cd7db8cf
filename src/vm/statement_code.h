// Statements around system calls, decoded once.
//
// "$u = strtoupper(join(",", $parts))" is seven byte-code instructions, and
// the plain loop spends more on them (fetching and checking each, pushing
// references and the argument count, finding the row, moving the result
// through the operand stack) than the two functions spend on their work.
// Register code takes integers only. So once a statement that calls a
// system function has been reached often (after its LINE, or where a jump
// lands, as a loop's body on the loop's own line is), it is decoded:
// its pushes, its calls (with their rows found), its integer operators and
// comparisons, and the store or POP that ends it, or the first instruction
// none of these covers, where the plain loop goes on.
//
// The machine runs the steps on a small stack of its own, doing at each what
// the plain loop does for the instructions it stands for. A variable is read
// when it is pushed rather than when an operator or a call takes it: nothing
// in between can change it (the functions called touch no variable, and the
// statement's one store comes last), and reading a plain variable cannot
// fail; one that holds a reference goes as the reference, to be followed
// where the plain loop follows it. The last call before the store may
// borrow the stored variable's value, as in the plain loop. Whatever is left
// when a call suspends or stops the run, or when the statement ends before
// a store, goes onto the operand stack as the plain loop would have it. A
// statement runs only when all of it fits the instruction budget, so no
// limit or slice end falls inside it.
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
    } kind;
    uint8_t op = 0;
    int32_t value = 0;
    int32_t executed = 0; // byte-code instructions from the statement's start to the end of this step
    int32_t pc = 0;       // the address after the step
    int32_t store = -1;   // a Call: where the store that surely follows it is, for a loan
    const SysFunction* row = nullptr;
};

struct Statement
{
    enum class End : uint8_t
    {
        StoreGlobal, // the top into global [slot]
        StoreLocal,
        Pop,
        Leave, // what is left goes onto the operand stack
    };
    uint32_t firstStep = 0, stepCount = 0;
    int32_t total = 0; // byte-code instructions, the store included
    int32_t endPc = 0;
    End end = End::Leave;
    int32_t slot = 0;
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
