// Translation of qualifying user functions into int register code.
//
// First a walk over every instruction control can reach from the body's
// start proves the function qualifies: the same stack depth wherever paths
// meet, a RETURN only with the result alone on the stack, and every local
// written on all paths before it is read (a local nobody wrote is Null, not 0).
// Then the instructions are emitted in address order with a symbolic stack:
// a constant or a local stays symbolic until an instruction takes it, a
// result lives in the register of its stack position, and where paths meet
// everything is in those registers.
#include "vm/int_functions.h"

#include "vm/fast_code.h"
#include "vm/opcodes.h"
#include "vm/program_image.h"

#include <bitset>
#include <map>

namespace tn
{

namespace
{
constexpr int32_t kMaxParameters = 16;
constexpr int32_t kMaxSlot = 255;   // locals a function may use
constexpr int32_t kMaxDepth = 256;  // its operand stack
constexpr size_t kMaxNodes = 20000; // byte-code instructions of one function
constexpr int32_t kMaxNesting = 32; // callees translated within one another

using Assigned = std::bitset<kMaxSlot + 1>;

struct Decoded
{
    Op op;
    int32_t operand;
    int32_t next;
};

bool decode(const uint8_t* code, int32_t size, int32_t pc, Decoded& d)
{
    if (pc < 0 || pc >= size) return false;
    const uint8_t op = code[pc];
    switch (kOpTable[op].operand)
    {
    case OperandKind::None:
        d = {Op(op), 0, pc + 1};
        return true;
    case OperandKind::Int32:
        if (size - pc - 1 < 4) return false;
        d = {Op(op), readInt32LE(code + pc + 1), pc + 5};
        return true;
    default:
        return false; // texts and floats never occur here
    }
}

// k zero flag pushes and ENTER k at [entry]: k, else -1.
int32_t headerParams(const uint8_t* code, int32_t size, int32_t entry)
{
    int32_t k = 0;
    for (int32_t pc = entry;;)
    {
        Decoded d{};
        if (!decode(code, size, pc, d)) return -1;
        if (d.op == Op::ENTER) return d.operand == k ? k : -1;
        if (d.op != Op::PUSHINT || d.operand != 0 || k == kMaxParameters) return -1;
        ++k;
        pc = d.next;
    }
}

IntOp registerForm(Op op)
{
    return IntOp(int32_t(IntOp::Add) + OperatorIndex(op));
}

constexpr int32_t kConstantForm = int32_t(IntOp::AddK) - int32_t(IntOp::Add);

IntOp constantForm(IntOp op)
{
    return IntOp(int32_t(op) + kConstantForm);
}

bool commutes(Op op)
{
    return op == Op::ADD || op == Op::MUL || op == Op::AND || op == Op::OR || op == Op::NE || op == Op::EQ;
}

// "c op x" as "x op' c" for the comparisons.
Op mirrored(Op op)
{
    switch (op)
    {
    case Op::LT:
        return Op::GT;
    case Op::GT:
        return Op::LT;
    case Op::LE:
        return Op::GE;
    case Op::GE:
        return Op::LE;
    default:
        return op;
    }
}

// The jump taken when the comparison [in] makes is [truth] (its opcode in [in.compare]).
IntOp jumpWhen(const IntInstr& in, bool truth)
{
    const Op holds = truth ? Op(in.compare) : NegatedCompare(Op(in.compare));
    const IntOp first = in.op >= IntOp::AddK ? IntOp::JumpLtK : IntOp::JumpLt;
    return IntOp(int32_t(first) + (int32_t(holds) - int32_t(Op::LT)));
}
} // namespace

class IntFunctions::Translator
{
  public:
    explicit Translator(IntFunctions& owner) : owner_(owner) {}

    // The index of the function at [entry], translated with its callees; -1
    // when it (or anything it calls) does not qualify.
    int32_t function(int32_t entry, int32_t nesting)
    {
        if (const auto it = owner_.byEntry_.find(entry); it != owner_.byEntry_.end())
            return it->second >= 0 ? it->second : -1;
        if (nesting > kMaxNesting) return -1;
        const int32_t params = headerParams(owner_.code_, owner_.size_, entry);
        if (params < 0) return -1;
        const auto index = static_cast<int32_t>(owner_.functions_.size());
        owner_.functions_.push_back({entry, params, -1, 0});
        owner_.byEntry_[entry] = index; // a recursive call finds it
        started_.push_back(entry);
        return emitFunction(index, nesting) ? index : -1;
    }

    // After the outermost function: the calls get their callees' places, or
    // everything this attempt began is given up.
    void finish(bool ok, size_t firstFunction, size_t firstInstr)
    {
        if (!ok)
        {
            for (const int32_t entry : started_)
                owner_.byEntry_[entry] = kRejected;
            owner_.functions_.resize(firstFunction);
            owner_.instrs_.resize(firstInstr);
            return;
        }
        for (const auto& [at, callee] : calls_)
        {
            const Function& f = owner_.functions_[size_t(callee)];
            owner_.instrs_[at].x = f.start;
            owner_.instrs_[at].target = f.frameSize;
        }
    }

  private:
    struct Node
    {
        Decoded d{};
        int32_t depth = 0;
        Assigned assigned;
        bool target = false; // a jump lands here
    };

    struct Sym
    {
        enum Kind : uint8_t
        {
            Temp,  // in the register of its stack position
            Local, // the local's own register
            Const,
        } kind;
        int32_t value;
    };

    bool explore(int32_t body, int32_t params, std::map<int32_t, Node>& nodes, int32_t& maxSlot, int32_t& maxDepth);
    bool emitFunction(int32_t index, int32_t nesting);

    IntFunctions& owner_;
    std::vector<int32_t> started_;
    std::vector<std::pair<size_t, int32_t>> calls_; // (instruction, callee index)
};

bool IntFunctions::Translator::explore(int32_t body, int32_t params, std::map<int32_t, Node>& nodes, int32_t& maxSlot,
                                       int32_t& maxDepth)
{
    const uint8_t* const code = owner_.code_;
    const int32_t size = owner_.size_;
    std::vector<int32_t> work;
    auto reach = [&](int32_t pc, int32_t depth, const Assigned& assigned, bool jump)
    {
        if (pc < 0 || pc >= size || depth > kMaxDepth) return false;
        auto [it, fresh] = nodes.try_emplace(pc);
        Node& node = it->second;
        if (jump) node.target = true;
        if (fresh)
        {
            if (nodes.size() > kMaxNodes || !decode(code, size, pc, node.d)) return false;
            node.depth = depth;
            node.assigned = assigned;
            work.push_back(pc);
            return true;
        }
        if (node.depth != depth) return false;
        const Assigned both = node.assigned & assigned;
        if (both != node.assigned)
        {
            node.assigned = both;
            work.push_back(pc);
        }
        return true;
    };

    Assigned none;
    if (!reach(body, 0, none, false)) return false;
    while (!work.empty())
    {
        const int32_t pc = work.back();
        work.pop_back();
        const Node node = nodes[pc];
        const Decoded& d = node.d;
        int32_t depth = node.depth;
        Assigned assigned = node.assigned;
        auto needs = [&](int32_t n) { return depth >= n; };
        auto slotOk = [&](int32_t slot)
        {
            if (slot < 1 || slot > kMaxSlot) return false;
            maxSlot = std::max(maxSlot, slot);
            return true;
        };
        bool falls = true;
        switch (d.op)
        {
        case Op::LINE:
            break;
        case Op::PUSHINT:
            ++depth;
            break;
        case Op::PUSHLOCALREF:
            if (!slotOk(d.operand) || (d.operand > params && !assigned[size_t(d.operand)])) return false;
            ++depth;
            break;
        case Op::POP:
            if (!needs(1)) return false;
            --depth;
            break;
        case Op::POPLOCAL:
            if (!needs(1) || !slotOk(d.operand)) return false;
            assigned[size_t(d.operand)] = true;
            --depth;
            break;
        case Op::NOT:
        case Op::NEG:
            if (!needs(1)) return false;
            break;
        case Op::JMP:
            if (!reach(d.next + d.operand, depth, assigned, true)) return false;
            falls = false;
            break;
        case Op::JMPFALSE:
        case Op::JMPTRUE:
            // Forward only: loops close with JMP, where the budget is checked.
            if (!needs(1) || d.operand < 0 || !reach(d.next + d.operand, depth - 1, assigned, true)) return false;
            --depth;
            break;
        case Op::CALL:
        {
            const int32_t k = headerParams(code, size, d.next + d.operand);
            if (k < 0 || !needs(k + 1)) return false;
            depth -= k;
            break;
        }
        case Op::RETURN:
            // Anything left below the result would stay on the caller's stack.
            if (depth != 1) return false;
            falls = false;
            break;
        default:
            if (OperatorIndex(d.op) < 0 || !needs(2)) return false;
            --depth;
            break;
        }
        maxDepth = std::max(maxDepth, depth);
        if (falls && !reach(d.next, depth, assigned, false)) return false;
    }
    return true;
}

bool IntFunctions::Translator::emitFunction(int32_t index, int32_t nesting)
{
    const Function header = owner_.functions_[size_t(index)];
    const int32_t body = header.entry + 5 * (header.params + 1);
    std::map<int32_t, Node> nodes;
    int32_t maxSlot = header.params, maxDepth = 0;
    if (!explore(body, header.params, nodes, maxSlot, maxDepth)) return false;

    const int32_t tempBase = maxSlot + 1;
    auto reg = [&](size_t position) { return static_cast<uint16_t>(tempBase + static_cast<int32_t>(position)); };
    std::vector<IntInstr> out;
    std::vector<Sym> stack;
    std::vector<std::pair<size_t, int32_t>> jumps; // (instruction, target pc)
    std::vector<std::pair<size_t, int32_t>> calls; // (instruction, callee)
    std::map<int32_t, size_t> labels;
    int32_t pending = 0;   // byte-code instructions not yet carried by an emitted one
    size_t blockStart = 0; // peepholes look no further back than this
    bool ok = true;

    auto emit = [&](IntInstr in, int32_t own)
    {
        const int32_t count = pending + own;
        if (count > 0xFFFF) ok = false;
        in.count = static_cast<uint16_t>(count);
        pending = 0;
        out.push_back(in);
    };
    auto regOf = [&](size_t position) -> uint16_t
    {
        const Sym& s = stack[position];
        return s.kind == Sym::Local ? static_cast<uint16_t>(s.value) : reg(position);
    };
    auto materialize = [&](size_t position)
    {
        Sym& s = stack[position];
        if (s.kind == Sym::Temp) return;
        IntInstr in;
        in.d = reg(position);
        if (s.kind == Sym::Local)
        {
            in.op = IntOp::Move;
            in.a = static_cast<uint16_t>(s.value);
        }
        else
        {
            in.op = IntOp::Load;
            in.x = s.value;
        }
        emit(in, 0);
        s = {Sym::Temp, 0};
    };
    auto flush = [&]
    {
        for (size_t i = 0; i < stack.size(); ++i)
            materialize(i);
    };

    bool live = false; // the previous instruction falls through to this one
    int32_t expected = body;
    for (auto& [pc, node] : nodes)
    {
        if (!ok) return false;
        if (live && pc != expected) return false; // instructions that overlap
        if (node.target)
        {
            if (live)
            {
                flush();
                if (pending > 0) emit({IntOp::Nop}, 0);
            }
            stack.assign(size_t(node.depth), {Sym::Temp, 0});
            labels[pc] = out.size();
            blockStart = out.size();
        }
        else if (!live && pc != body)
        {
            return false;
        }
        if (stack.size() != size_t(node.depth)) return false;
        const Decoded& d = node.d;
        expected = d.next;
        live = true;
        switch (d.op)
        {
        case Op::LINE:
        {
            IntInstr in{IntOp::Line};
            in.x = d.operand;
            emit(in, 1);
            break;
        }
        case Op::PUSHINT:
            stack.push_back({Sym::Const, d.operand});
            ++pending;
            break;
        case Op::PUSHLOCALREF:
            stack.push_back({Sym::Local, d.operand});
            ++pending;
            break;
        case Op::POP:
            stack.pop_back();
            ++pending;
            break;
        case Op::POPLOCAL:
        {
            const size_t top = stack.size() - 1;
            const Sym v = stack[top];
            const auto slot = static_cast<uint16_t>(d.operand);
            // Entries still naming the local must keep its old value.
            for (size_t i = 0; i < top; ++i)
                if (stack[i].kind == Sym::Local && stack[i].value == d.operand) materialize(i);
            if (v.kind == Sym::Temp && out.size() > blockStart && out.back().d == reg(top) &&
                out.back().op >= IntOp::Move && out.back().op <= IntOp::Neg)
            {
                // The instruction that made the value stores it itself.
                out.back().d = slot;
                out.back().count = static_cast<uint16_t>(out.back().count + pending + 1);
                if (out.back().count < pending + 1) ok = false;
                pending = 0;
            }
            else if (v.kind == Sym::Const)
            {
                IntInstr in{IntOp::Load};
                in.d = slot;
                in.x = v.value;
                emit(in, 1);
            }
            else if (v.kind == Sym::Local && v.value == d.operand)
            {
                ++pending;
            }
            else
            {
                IntInstr in{IntOp::Move};
                in.d = slot;
                in.a = regOf(top);
                emit(in, 1);
            }
            stack.pop_back();
            break;
        }
        case Op::NOT:
        case Op::NEG:
        {
            const size_t top = stack.size() - 1;
            Sym& a = stack[top];
            if (a.kind == Sym::Const)
            {
                a.value = d.op == Op::NOT ? (a.value == 0 ? 1 : 0)
                                          : static_cast<int32_t>(0u - static_cast<uint32_t>(a.value));
                ++pending;
                break;
            }
            IntInstr in{d.op == Op::NOT ? IntOp::Not : IntOp::Neg};
            in.d = reg(top);
            in.a = regOf(top);
            emit(in, 1);
            a = {Sym::Temp, 0};
            break;
        }
        case Op::JMP:
        {
            flush();
            emit({IntOp::Jump}, 1);
            jumps.emplace_back(out.size() - 1, d.next + d.operand);
            live = false;
            break;
        }
        case Op::JMPFALSE:
        case Op::JMPTRUE:
        {
            const size_t top = stack.size() - 1;
            const bool onTrue = d.op == Op::JMPTRUE;
            IntInstr in;
            if (stack[top].kind == Sym::Temp && out.size() > blockStart && out.back().d == reg(top) &&
                out.back().compare != 0)
            {
                // Compare and branch in one.
                in = out.back();
                out.pop_back();
                pending += in.count;
                in.op = jumpWhen(in, onTrue);
            }
            else
            {
                if (stack[top].kind == Sym::Const) materialize(top);
                in.op = onTrue ? IntOp::JumpNonZero : IntOp::JumpZero;
                in.a = regOf(top);
            }
            stack.pop_back();
            flush();
            emit(in, 1);
            jumps.emplace_back(out.size() - 1, d.next + d.operand);
            blockStart = out.size();
            break;
        }
        case Op::CALL:
        {
            const int32_t entry = d.next + d.operand;
            const int32_t k = headerParams(owner_.code_, owner_.size_, entry);
            if (stack.back().kind != Sym::Const || stack.back().value != k) return false;
            stack.pop_back();
            const size_t first = stack.size() - size_t(k);
            for (size_t i = first; i < stack.size(); ++i)
                materialize(i);
            const int32_t callee = function(entry, nesting + 1);
            if (callee < 0) return false;
            // The callee's window starts just below its first argument: its
            // slot 0 is never used, and its result lands on that argument.
            IntInstr in{IntOp::Call};
            in.d = static_cast<uint16_t>(reg(first) - 1);
            emit(in, 1 + k + 1); // with the callee's flag pushes and ENTER
            calls.emplace_back(out.size() - 1, callee);
            stack.resize(first);
            stack.push_back({Sym::Temp, 0});
            blockStart = out.size();
            break;
        }
        case Op::RETURN:
        {
            const Sym v = stack.back();
            IntInstr in{v.kind == Sym::Const ? IntOp::ReturnK : IntOp::Return};
            if (v.kind == Sym::Const)
                in.x = v.value;
            else
                in.a = regOf(stack.size() - 1);
            stack.pop_back();
            emit(in, 1);
            live = false;
            break;
        }
        default:
        {
            const size_t bPos = stack.size() - 1, aPos = bPos - 1;
            Sym a = stack[aPos], b = stack[bPos];
            Op op = d.op;
            if (a.kind == Sym::Const && b.kind == Sym::Const)
            {
                stack.pop_back();
                stack.back().value = IntOperation(op, a.value, b.value);
                ++pending;
                break;
            }
            if (a.kind == Sym::Const && !commutes(op) && mirrored(op) == op)
            {
                materialize(aPos);
                a = stack[aPos];
            }
            IntInstr in{registerForm(op)};
            in.d = reg(aPos);
            if (a.kind == Sym::Const)
            {
                // "c op x" as "x op' c".
                op = mirrored(op);
                in.op = constantForm(registerForm(op));
                in.a = regOf(bPos);
                in.x = a.value;
            }
            else if (b.kind == Sym::Const)
            {
                in.op = constantForm(in.op);
                in.a = regOf(aPos);
                in.x = b.value;
            }
            else
            {
                in.a = regOf(aPos);
                in.x = regOf(bPos);
            }
            // A comparison keeps its operator for a jump that may take it over.
            if (op >= Op::LT && op <= Op::EQ) in.compare = uint8_t(op);
            emit(in, 1);
            stack.pop_back();
            stack.back() = {Sym::Temp, 0};
            break;
        }
        }
    }
    if (!ok || live) return false; // falls off its end

    for (const auto& [at, target] : jumps)
    {
        const auto it = labels.find(target);
        if (it == labels.end()) return false;
        out[at].target = static_cast<int32_t>(it->second);
    }
    Function& f = owner_.functions_[size_t(index)];
    const auto start = owner_.instrs_.size();
    f.start = static_cast<int32_t>(start);
    f.frameSize = tempBase + maxDepth + 1;
    for (IntInstr& in : out)
        if (in.op >= IntOp::JumpLt && in.op <= IntOp::Jump) in.target += static_cast<int32_t>(start);
    owner_.instrs_.insert(owner_.instrs_.end(), out.begin(), out.end());
    for (const auto& [at, callee] : calls)
        calls_.emplace_back(start + at, callee);
    return true;
}

IntFunctions::IntFunctions(const uint8_t* code, int32_t size) : code_(code), size_(size)
{
    instrs_.push_back({IntOp::Done});
}

int32_t IntFunctions::lookUp(int32_t entry)
{
    if (const auto it = byEntry_.find(entry); it != byEntry_.end()) return it->second >= 0 ? it->second : -1;
    const size_t firstFunction = functions_.size(), firstInstr = instrs_.size();
    Translator translator(*this);
    const int32_t index = translator.function(entry, 0);
    translator.finish(index >= 0, firstFunction, firstInstr);
    return index;
}

} // namespace tn
