// Whole user functions that only ever hold 32-bit integers, run on a register
// machine of their own.
//
// A function qualifies when every parameter is by value, its body uses only
// its locals (each written before it is read, parameters aside), integer
// constants, the integer and comparison operators, jumps, calls of functions
// that qualify themselves and RETURN. Called with Integer arguments, every
// value it can make is then an Integer and none of its instructions can fail,
// so a whole call tree runs here with plain int registers: locals and
// temporaries of a frame are a window of one register array (a callee's
// window starts at its caller's arguments, so nothing is copied), and each
// register instruction carries the number of byte-code instructions it stands
// for.
//
// A run that would pass its instruction budget or nest deeper than it may is
// abandoned before anything outside it has changed: the plain loop then runs
// the call and meets the limit where it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace tn
{

enum class IntOp : uint8_t
{
    Done, // the root call returned
    Nop,  // counts only
    Line, // the position becomes x
    Move, // r[d] = r[a]
    Load, // r[d] = x
    // r[d] = r[a] op r[x]
    Add,
    Sub,
    Mul,
    Div,
    Mod,
    And,
    Or,
    Lt,
    Gt,
    Le,
    Ge,
    Ne,
    Eq,
    // r[d] = r[a] op x
    AddK,
    SubK,
    MulK,
    DivK,
    ModK,
    AndK,
    OrK,
    LtK,
    GtK,
    LeK,
    GeK,
    NeK,
    EqK,
    Not, // r[d] = !r[a]
    Neg, // r[d] = -r[a]
    // Go to instruction [target] when r[a] cmp r[x] holds
    JumpLt,
    JumpGt,
    JumpLe,
    JumpGe,
    JumpNe,
    JumpEq,
    // ... when r[a] cmp x holds
    JumpLtK,
    JumpGtK,
    JumpLeK,
    JumpGeK,
    JumpNeK,
    JumpEqK,
    JumpZero,    // when r[a] == 0
    JumpNonZero, // when r[a] != 0
    Jump,        // always
    Call,        // the callee's window starts at r[d]; x: its first instruction, target: its window size
    Return,      // with r[a]
    ReturnK,     // with x
};

struct IntInstr
{
    IntOp op = IntOp::Nop;
    uint8_t compare = 0; // a comparison's opcode, for a jump that takes it over
    uint16_t count = 0;  // byte-code instructions it stands for
    uint16_t d = 0, a = 0;
    int32_t x = 0;
    int32_t target = 0;
};

class IntFunctions
{
  public:
    IntFunctions(const uint8_t* code, int32_t size);

    // The function whose entry (its first flag push, where CALL lands) is
    // [entry], when it qualifies: its index, else -1. Translated on first ask.
    int32_t find(int32_t entry)
    {
        // A hot call site asks for the same function over and over.
        if (entry == lastEntry_) return lastFunction_;
        const int32_t function = lookUp(entry);
        lastEntry_ = entry;
        lastFunction_ = function;
        return function;
    }
    int32_t parameters(int32_t function) const noexcept { return functions_[size_t(function)].params; }

    struct Outcome
    {
        int32_t result = 0;
        int32_t executed = 0; // byte-code instructions from the flag pushes on
        int32_t position = 0; // the last LINE's operand, when [lined]
        bool lined = false;
    };
    // Runs [function] on [args] (as many as it has parameters). False, with
    // nothing done, when it would take more than [budget] byte-code
    // instructions or more than [depthRoom] nested calls, the root included.
    bool run(int32_t function, const int32_t* args, int32_t budget, int32_t depthRoom, Outcome& out);

  private:
    struct Function
    {
        int32_t entry = 0;
        int32_t params = 0;
        int32_t start = 0;     // first instruction in code_
        int32_t frameSize = 0; // registers of its window
    };
    // byEntry_'s answer for a function that does not qualify; one being
    // translated is there under its index already, for recursive calls.
    static constexpr int32_t kRejected = -1;
    class Translator;
    friend class Translator;
    int32_t lookUp(int32_t entry);

    struct Saved
    {
        const IntInstr* ip;
        int32_t* fp;
    };
    void grow(size_t registers, size_t saved, size_t live);

    const uint8_t* code_;
    int32_t size_;
    std::unordered_map<int32_t, int32_t> byEntry_; // entry -> function index or kRejected
    std::vector<Function> functions_;
    std::vector<IntInstr> instrs_; // instrs_[0] is Done
    std::vector<int32_t> registers_;
    std::vector<Saved> saved_;
    int32_t lastEntry_ = -1;
    int32_t lastFunction_ = -1;
};

} // namespace tn
