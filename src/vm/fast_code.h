// Register code for hot stretches of byte code that work on 32-bit integers.
//
// A stretch (a "segment") starts at one byte-code address and covers a run of
// straight-line instructions: variable and constant pushes, integer and
// comparison operators, stores, LINE, conditional jumps (which leave the
// segment when taken) and at most one closing jump. Its register code names
// variables and constants directly, merges a store into the operator that
// makes the value and a comparison into the jump that tests it.
//
// A statement that appends to a variable ("$s .= a . $b . 1", or "$s = $s . a")
// becomes one instruction that puts its pieces straight onto the end of the
// variable's String. The variable and the variables it reads as pieces stay
// in memory (a piece that is also held in a register is read from there).
//
// A segment may end in a CALL of a function that takes its arguments by value
// (its frame is pushed and the arguments bound from registers, and it goes on
// at the function's body) or in a RETURN from a frame without by-reference
// parameters.
//
// A segment runs only as a whole and only when every variable it touches, and
// every stack element it consumes, already holds an Integer: then none of its
// instructions can fail, and the machine's state after it (variables, stack,
// line, instruction count) is the one the plain loop would leave. Anything
// else goes to the plain loop.
#pragma once

#include "vm/opcodes.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

// Integer results of the operator instructions, shared by both loops.
inline int32_t IntOperation(Op op, int32_t a, int32_t b) noexcept
{
    const auto ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
    switch (op)
    {
    case Op::ADD:
        return static_cast<int32_t>(ua + ub);
    case Op::SUB:
        return static_cast<int32_t>(ua - ub);
    case Op::MUL:
        return static_cast<int32_t>(ua * ub);
    case Op::DIV:
        return b == 0 ? 0 : (b == -1 ? static_cast<int32_t>(0u - ua) : a / b);
    case Op::MOD:
        return (b == 0 || b == -1) ? 0 : a % b;
    case Op::AND:
        return (a != 0 && b != 0) ? 1 : 0;
    case Op::OR:
        return (a != 0 || b != 0) ? 1 : 0;
    case Op::LT:
        return a < b;
    case Op::GT:
        return a > b;
    case Op::LE:
        return a <= b;
    case Op::GE:
        return a >= b;
    case Op::NE:
        return a != b;
    case Op::EQ:
        return a == b;
    default:
        return 0;
    }
}

// runSegment's table of operation code follows this order.
// Where an integer operator stands in the order both register codes keep
// their operations in (ADD SUB MUL DIV MOD AND OR LT GT LE GE NE EQ); -1 for
// any other opcode.
inline int32_t OperatorIndex(Op op) noexcept
{
    switch (op)
    {
    case Op::ADD:
        return 0;
    case Op::SUB:
        return 1;
    case Op::MUL:
        return 2;
    case Op::DIV:
        return 3;
    case Op::MOD:
        return 4;
    case Op::AND:
        return 5;
    case Op::OR:
        return 6;
    default:
        return op >= Op::LT && op <= Op::EQ ? 7 + (int32_t(op) - int32_t(Op::LT)) : -1;
    }
}

// The comparison that holds when [op] does not: for integers, "not a < b" is
// "a >= b" and so on.
inline Op NegatedCompare(Op op) noexcept
{
    switch (op)
    {
    case Op::LT:
        return Op::GE;
    case Op::GT:
        return Op::LE;
    case Op::LE:
        return Op::GT;
    case Op::GE:
        return Op::LT;
    case Op::NE:
        return Op::EQ;
    default:
        return Op::NE;
    }
}

enum class FastOp : uint8_t
{
    // r[d] = r[a] op r[b]
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
    Not,  // r[d] = !r[a]
    Neg,  // r[d] = -r[a]
    Move, // r[d] = r[a]
    Line, // the current position becomes x
          // Leave by exit x when r[a] cmp r[b] holds
    ExitLt,
    ExitGt,
    ExitLe,
    ExitGe,
    ExitNe,
    ExitEq,
    ExitZero,       // leave by exit x when r[a] == 0
    ExitNonZero,    // leave by exit x when r[a] != 0
    Exit,           // leave by exit x
                    // The exits above with d != 0 go on at instruction d instead.
    Loop,           // back to the first instruction, or leave by exit x
                    // Array elements at index r[a]; leave by exit x (to the element
                    // instruction itself) unless the element is an Integer already there,
                    // or for a store an unshared array with room for it.
    LoadGlobalElem, // r[d] = element of variable b
    LoadLocalElem,
    StoreGlobalElem, // element of variable d = r[b]
    StoreLocalElem,
    // Append the pieces of FastCode::append(a | b << 16) to its variable; leave
    // by exit x (to the first push of the statement) unless the variable holds a
    // String and no variable piece a Reference.
    Append,
};

struct FastInstr
{
    FastOp op;
    uint16_t d = 0, a = 0, b = 0;
    int32_t x = 0;
};

// A variable the segment reads or writes, held in register [reg] meanwhile.
struct FastVar
{
    int32_t slot;
    uint16_t reg;
    bool local;
    bool written; // written variables come first in a segment's list
};

// Where a segment leaves to and what the plain loop would hold then.
struct FastExit
{
    int32_t pc;       // byte-code address to go on at
    int32_t count;    // byte-code instructions executed from the segment's start
    int32_t consumed; // stack elements below the segment's start it took
    // Elements to push: [pushFirst, pushFirst + pushCount) of FastCode::pushes
    uint32_t pushFirst;
    uint32_t pushCount;
    // A forward jump the segment follows itself (its instruction's d names
    // where it lands): the byte-code instructions it steps over.
    int32_t skip = 0;
    // How it leaves: at pc, by a call (the last [params] pushes are the
    // arguments, [resume] the return address) or by a return (the last push
    // is the result; pc is unused).
    enum class Kind : uint8_t
    {
        Jump,
        Call,
        Return
    } kind = Kind::Jump;
    int32_t params = 0;
    int32_t resume = 0;
};

// One element a leaving segment pushes: an Integer register or a Reference.
struct FastPush
{
    bool reference;
    int32_t value; // register, or the Reference payload
};

// A piece of text an Append adds.
struct FastPiece
{
    enum class Kind : uint8_t
    {
        Text,     // FastCode::texts [value, value + length)
        Register, // an Integer register
        Global,   // a variable's value as it stands
        Local,
        Self, // the appended variable's own text from before the append
    } kind;
    int32_t value;
    int32_t length = 0;
};

struct FastAppend
{
    int32_t slot;
    bool local;
    uint32_t firstPiece, pieceCount;
};

struct FastSegment
{
    int32_t startPc;
    int32_t maxCount; // byte-code instructions of one full pass
    int32_t inputs;   // stack elements it may consume (Integers, read in place)
    bool usesLocals;
    bool calls, returns; // its last exit is a call, a return
    uint32_t firstInstr;
    uint32_t firstVar, varCount, writtenCount;
    uint32_t regBase; // into FastCode::registers; inputs come first
    int32_t misses;   // guard failures less successes: a segment that keeps failing is dropped
};

class FastCode
{
  public:
    static constexpr int32_t kUntranslated = 0; // counts arrivals up to kHot
    // Translation pays back only over many runs; a page's run-once code never gets here.
    static constexpr int32_t kHot = 16;
    static constexpr int32_t kNone = -1;

    FastCode(const uint8_t* code, int32_t size);

    // The segment starting at [pc], translated when it is hot; null when none.
    FastSegment* at(int32_t pc)
    {
        int32_t& state = entry(pc);
        if (state >= kSegmentBase) return &segments_[static_cast<size_t>(state - kSegmentBase)];
        if (state == kNone) return nullptr;
        if (++state < kHot) return nullptr;
        const int32_t translated = translate(pc);
        entry(pc) = translated; // the table may have grown meanwhile
        return translated >= kSegmentBase ? &segments_[static_cast<size_t>(translated - kSegmentBase)] : nullptr;
    }

    // Counts a run of the segment at [pc] that its guards refused.
    void missed(FastSegment& segment)
    {
        if (++segment.misses >= kMaxMisses) entry(segment.startPc) = kNone;
    }

    const FastInstr* instructions(const FastSegment& s) const noexcept { return instrs_.data() + s.firstInstr; }
    const FastVar* vars(const FastSegment& s) const noexcept { return vars_.data() + s.firstVar; }
    const FastExit& exit(int32_t index) const noexcept { return exits_[static_cast<size_t>(index)]; }
    const FastPush* pushes(const FastExit& e) const noexcept { return pushes_.data() + e.pushFirst; }
    int32_t* registers(const FastSegment& s) noexcept { return registers_.data() + s.regBase; }
    int32_t segmentCount() const noexcept { return static_cast<int32_t>(segments_.size()); }
    const FastAppend& append(const FastInstr& in) const noexcept
    {
        return appends_[in.a | static_cast<size_t>(in.b) << 16];
    }
    const FastPiece* pieces(const FastAppend& a) const noexcept { return pieces_.data() + a.firstPiece; }
    std::string_view text(const FastPiece& p) const noexcept
    {
        return std::string_view(texts_).substr(static_cast<size_t>(p.value), static_cast<size_t>(p.length));
    }

  private:
    static constexpr int32_t kSegmentBase = 1 << 24;
    static constexpr int32_t kMaxMisses = 32;
    int32_t translate(int32_t pc);
    // Whether the statement from [pc] on (to its next LINE or jump) calls a
    // system function: the plain loop runs it whole from its LINE, so a
    // segment stops before that LINE.
    bool callsBeforeNextLine(int32_t pc) const;
    // The pieces of an append statement from [pc] on (see FastPiece); the
    // byte-code instructions it takes, 0 when there is none.
    void resolveAppends(const FastSegment& segment, size_t firstAppend);
    int32_t appendStatement(int32_t pc, bool local, int32_t slot, int32_t& next, std::vector<FastPiece>& pieces);

    const uint8_t* code_;
    int32_t size_;
    // The state of [pc] in an open-addressing table: only addresses that
    // control arrives at are ever asked for, so it stays small.
    int32_t& entry(int32_t pc)
    {
        for (size_t i = hash(pc);; i = (i + 1) & (table_.size() - 1))
        {
            Slot& slot = table_[i];
            if (slot.pc == pc) return slot.state;
            if (slot.pc < 0) return claim(i, pc);
        }
    }
    size_t hash(int32_t pc) const noexcept
    {
        return (static_cast<uint32_t>(pc) * 2654435761u >> 8) & (table_.size() - 1);
    }
    int32_t& claim(size_t index, int32_t pc);

    struct Slot
    {
        int32_t pc = -1;
        int32_t state = kUntranslated;
    };
    std::vector<Slot> table_;
    size_t used_ = 0;
    std::vector<FastSegment> segments_;
    std::vector<FastInstr> instrs_;
    std::vector<FastVar> vars_;
    std::vector<FastExit> exits_;
    std::vector<FastPush> pushes_;
    std::vector<int32_t> registers_; // constants stay filled in
    std::vector<FastAppend> appends_;
    std::vector<FastPiece> pieces_;
    std::string texts_;
};

} // namespace tn
