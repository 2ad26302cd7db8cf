// Running int register code (see int_functions.h). Threaded dispatch: each
// instruction adds the byte-code instructions it stands for and jumps
// straight to the next one's handler.
#include "vm/fast_code.h"
#include "vm/int_functions.h"

#include <algorithm>
#include <iterator>
#include <new>

namespace tn
{

// Room for [registers] registers and [saved] return records; the windows of
// the frames already saved move with the registers.
void IntFunctions::grow(size_t registers, size_t saved, size_t live)
{
    if (registers > registers_.size())
    {
        int32_t* const old = registers_.data();
        registers_.resize(std::max(registers, registers_.size() * 2));
        for (size_t i = 0; i < live; ++i)
            saved_[i].fp = registers_.data() + (saved_[i].fp - old);
    }
    if (saved > saved_.size()) saved_.resize(std::max(saved, saved_.size() * 2));
}

bool IntFunctions::run(int32_t function, const int32_t* args, int32_t budget, int32_t depthRoom, Outcome& out)
{
    const Function& f = functions_[size_t(function)];
    if (depthRoom < 1 || budget < f.params + 1) return false;
    if (registers_.size() < size_t(f.frameSize) + 256 || saved_.size() < 64)
    {
        try
        {
            grow(size_t(f.frameSize) + 256, 64, 0);
        }
        catch (const std::bad_alloc&)
        {
            return false;
        }
    }
    int32_t* fp = registers_.data();
    for (int32_t i = 0; i < f.params; ++i)
        fp[i + 1] = args[i];
    int32_t* regEnd = registers_.data() + registers_.size();
    Saved* rsp = saved_.data();
    Saved* rend = saved_.data() + saved_.size();
    const IntInstr* const code = instrs_.data();
    *rsp++ = {code, fp}; // the root returns to Done
    const IntInstr* ip = code + f.start;
    const int64_t limit = budget;
    int64_t n = f.params + 1; // the flag pushes and ENTER
    int32_t depth = 1;
    int32_t position = 0;
    bool lined = false;

    static void* const kHandlers[] = {
        &&Done,     &&Nop,         &&Line,   &&Move,    &&Load,    &&Add,     &&Sub,     &&Mul,     &&Div,
        &&Mod,      &&And,         &&Or,     &&Lt,      &&Gt,      &&Le,      &&Ge,      &&Ne,      &&Eq,
        &&AddK,     &&SubK,        &&MulK,   &&DivK,    &&ModK,    &&AndK,    &&OrK,     &&LtK,     &&GtK,
        &&LeK,      &&GeK,         &&NeK,    &&EqK,     &&Not,     &&Neg,     &&JumpLt,  &&JumpGt,  &&JumpLe,
        &&JumpGe,   &&JumpNe,      &&JumpEq, &&JumpLtK, &&JumpGtK, &&JumpLeK, &&JumpGeK, &&JumpNeK, &&JumpEqK,
        &&JumpZero, &&JumpNonZero, &&Jump,   &&Call,    &&Return,  &&ReturnK,
    };
    static_assert(std::size(kHandlers) == size_t(IntOp::ReturnK) + 1);

#define TN_NEXT()                                                                                                      \
    n += ip->count;                                                                                                    \
    goto* kHandlers[size_t(ip->op)]
#define TN_BINARY(name, op)                                                                                            \
    name:                                                                                                              \
    fp[ip->d] = IntOperation(Op::op, fp[ip->a], fp[ip->x]);                                                            \
    ++ip;                                                                                                              \
    TN_NEXT();                                                                                                         \
    name##K : fp[ip->d] = IntOperation(Op::op, fp[ip->a], ip->x);                                                      \
    ++ip;                                                                                                              \
    TN_NEXT();
#define TN_JUMP(name, cmp)                                                                                             \
    name:                                                                                                              \
    ip = fp[ip->a] cmp fp[ip->x] ? code + ip->target : ip + 1;                                                         \
    TN_NEXT();                                                                                                         \
    name##K : ip = fp[ip->a] cmp ip->x ? code + ip->target : ip + 1;                                                   \
    TN_NEXT();

    TN_NEXT();

Nop:
    ++ip;
    TN_NEXT();
Line:
    position = ip->x;
    lined = true;
    ++ip;
    TN_NEXT();
Move:
    fp[ip->d] = fp[ip->a];
    ++ip;
    TN_NEXT();
Load:
    fp[ip->d] = ip->x;
    ++ip;
    TN_NEXT();
    TN_BINARY(Add, ADD)
    TN_BINARY(Sub, SUB)
    TN_BINARY(Mul, MUL)
    TN_BINARY(Div, DIV)
    TN_BINARY(Mod, MOD)
    TN_BINARY(And, AND)
    TN_BINARY(Or, OR)
    TN_BINARY(Lt, LT)
    TN_BINARY(Gt, GT)
    TN_BINARY(Le, LE)
    TN_BINARY(Ge, GE)
    TN_BINARY(Ne, NE)
    TN_BINARY(Eq, EQ)
Not:
    fp[ip->d] = fp[ip->a] == 0 ? 1 : 0;
    ++ip;
    TN_NEXT();
Neg:
    fp[ip->d] = static_cast<int32_t>(0u - static_cast<uint32_t>(fp[ip->a]));
    ++ip;
    TN_NEXT();
    TN_JUMP(JumpLt, <)
    TN_JUMP(JumpGt, >)
    TN_JUMP(JumpLe, <=)
    TN_JUMP(JumpGe, >=)
    TN_JUMP(JumpNe, !=)
    TN_JUMP(JumpEq, ==)
JumpZero:
    ip = fp[ip->a] == 0 ? code + ip->target : ip + 1;
    TN_NEXT();
JumpNonZero:
    ip = fp[ip->a] != 0 ? code + ip->target : ip + 1;
    TN_NEXT();
Jump:
    // Loops close here: a run past its budget stops.
    if (n > limit) return false;
    ip = code + ip->target;
    TN_NEXT();
Call:
{
    if (n > limit || depth >= depthRoom) return false;
    int32_t* next = fp + ip->d;
    if (next + ip->target > regEnd || rsp == rend) [[unlikely]]
    {
        const auto fpAt = fp - registers_.data(), nextAt = next - registers_.data();
        const auto live = static_cast<size_t>(rsp - saved_.data());
        try
        {
            grow(static_cast<size_t>(nextAt + ip->target), live + 1, live);
        }
        catch (const std::bad_alloc&)
        {
            return false;
        }
        fp = registers_.data() + fpAt;
        next = registers_.data() + nextAt;
        regEnd = registers_.data() + registers_.size();
        rsp = saved_.data() + live;
        rend = saved_.data() + saved_.size();
    }
    *rsp++ = {ip + 1, fp};
    ++depth;
    fp = next;
    ip = code + ip->x;
    TN_NEXT();
}
ReturnK:
    fp[1] = ip->x;
    goto popFrame;
Return:
    fp[1] = fp[ip->a];
popFrame:
    --rsp;
    --depth;
    ip = rsp->ip;
    fp = rsp->fp;
    TN_NEXT();
Done:
    if (n > limit) return false;
    out.result = registers_[1];
    out.executed = static_cast<int32_t>(n);
    out.position = position;
    out.lined = lined;
    return true;
#undef TN_JUMP
#undef TN_BINARY
#undef TN_NEXT
}

} // namespace tn
