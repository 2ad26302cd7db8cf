// System functions: registration rows, the sets they form and the call
// toolkit handlers work with.
//
// Each family of functions is a table of SysFunction rows (name, id, argument
// rule, handler, variant, message name, declared count, by-reference
// parameters). The machine checks the argument rule before the handler runs,
// so handlers never format count errors themselves. A machine is handed its
// sets (core, then a host's) the way a host opens its libraries.
#pragma once

#include "common/result_codes.h"
#include "vm/date_value.h"
#include "vm/value.h"

#include <cstdint>
#include <forward_list>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

class VirtualMachine;
class Value;
class ValueVector;
struct CallFrame;
class FunctionRegistry;

// What a resumed run learns about the script it waits for.
enum class WaitedScriptState
{
    Running,
    Complete,
    NotFound,
    Abandoned, // the host gave up the wait: nothing could end it
};

// What a wait function reads once its wait is over: -4 when what it waited
// for completed, -2 when that was never there, -5 when the wait failed.
constexpr int32_t WaitResult(WaitedScriptState state)
{
    switch (state)
    {
    case WaitedScriptState::Complete:
        return -4;
    case WaitedScriptState::NotFound:
        return -2;
    default:
        return -5;
    }
}

// The handler's count test: exact, a minimum, a range, or none. When a range
// fails, the message reports [expected] in the exact or the minimum form,
// whichever the function's description uses.
struct ArgRule
{
    enum class Message : uint8_t
    {
        None,    // no test (yield)
        Exact,   // "Expecting %d arguments, %d were provided"
        Minimum, // "Expecting a minimum of %d arguments, %d were provided"
    };
    int16_t min = 0;
    int16_t max = -1; // -1: no upper bound
    Message message = Message::None;
    int16_t expected = 0;
    bool endsOnly = false; // only min and max, nothing between

    static constexpr ArgRule any() { return {0, -1, Message::None, 0}; }
    static constexpr ArgRule exactly(int16_t n) { return {n, n, Message::Exact, n}; }
    static constexpr ArgRule atLeast(int16_t n) { return {n, -1, Message::Minimum, n}; }
    static constexpr ArgRule between(int16_t lo, int16_t hi, Message m, int16_t expected)
    {
        return {lo, hi, m, expected};
    }
    static constexpr ArgRule either(int16_t a, int16_t b, Message m, int16_t expected)
    {
        return {a, b, m, expected, true};
    }
    constexpr bool accepts(int32_t argc) const
    {
        if (endsOnly) return argc == min || argc == max;
        return argc >= min && (max < 0 || argc <= max);
    }
    // A call with [argc] arguments fails with the count message.
    constexpr bool refuses(int32_t argc) const { return !accepts(argc) && message != Message::None; }
};

struct SysCall;
using SysHandler = ereturnvalue (*)(SysCall& call);

struct SysFunction
{
    const char* name; // script name, exact case
    int32_t id;       // negative; saved in images, never renumber
    ArgRule rule;
    SysHandler handler;
    int32_t variant = 0;               // tells the names that share a handler apart
    const char* messageName = nullptr; // "Invalid call to ..." name; null: the script name
    int8_t declaredCount = -1;         // checked by the machine before the handler (-1: any)
    uint32_t byRefMask = 0;            // bit i set: parameter i (1-based) is by reference
    // "$v = f($v, ...)" may hand the handler $v's own value as argument 1, so
    // that an unshared value can be changed in place. The handler promises to
    // change that argument only once nothing can fail any more, to answer OK
    // and not to stop the run.
    bool reusesFirst = false;
    // "$v = f(...)" may hand the handler $v's old value in the result slot
    // instead of Null, so that a result can be built in storage nothing else
    // holds. The handler sets the result on every path that answers OK.
    bool reusesTarget = false;

    constexpr SysFunction as(int32_t v) const
    {
        SysFunction r = *this;
        r.variant = v;
        return r;
    }
    constexpr SysFunction message(const char* m) const
    {
        SysFunction r = *this;
        r.messageName = m;
        return r;
    }
    // A declared count is tested by the machine with its own message, and
    // is what by-reference parameters need.
    constexpr SysFunction declared(int8_t count, std::initializer_list<int> byRef = {}) const
    {
        SysFunction r = *this;
        r.declaredCount = count;
        for (const int p : byRef)
            r.byRefMask |= 1u << p;
        return r;
    }
    constexpr SysFunction reusingFirst() const
    {
        SysFunction r = *this;
        r.reusesFirst = true;
        return r;
    }
    constexpr SysFunction reusingTarget() const
    {
        SysFunction r = *this;
        r.reusesTarget = true;
        return r;
    }
    constexpr const char* shownName() const { return messageName ? messageName : name; }
};

constexpr SysFunction Fn(const char* name, int32_t id, ArgRule rule, SysHandler handler)
{
    return SysFunction{name, id, rule, handler};
}

// What a handler sees: arguments 1..argc (copies, already dereferenced, in
// the frame's locals or, for a call without by-reference parameters, in place
// on the operand stack), the result slot (Null on entry, or a value to reuse:
// see reusesTarget), and the machine. The typed readers convert as
// the script's own conversions do; the setters leave the result and answer OK.
struct SysCall
{
    VirtualMachine& vm;
    const SysFunction& function;
    CallFrame& frame;
    int32_t argc;
    Value& result;
    Value* args = nullptr; // arguments 1..argc when they sit on the operand stack

    // 1-based; by-reference arguments are written here.
    Value& arg(int32_t i)
    {
        if (args && i >= 1 && i <= argc) return args[i - 1];
        return frameArg(i);
    }
    int32_t variant() const noexcept { return function.variant; }

    // Argument [i] as text; dates in the script's display settings. The view
    // lives as long as the call.
    std::string_view text(int32_t i)
    {
        const Value& v = arg(i);
        return v.isString() ? v.stringView() : convertedText(v);
    }
    int32_t integer(int32_t i)
    {
        const Value& v = arg(i);
        return v.isInteger() ? v.rawInt() : v.toInt();
    }
    double number(int32_t i);
    DateValue date(int32_t i);
    // The elements of an array argument; an empty list for anything else.
    const ValueVector& array(int32_t i)
    {
        const Value& v = arg(i);
        return v.isArray() ? v.arrayItems() : kNoElements;
    }
    static const ValueVector kNoElements;

    ereturnvalue returnNull();
    ereturnvalue returnInt(int32_t v)
    {
        result.setInteger(v);
        return ereturnvalue::OK;
    }
    ereturnvalue returnFloat(double v);
    ereturnvalue returnText(std::string_view text);
    ereturnvalue returnDate(const DateValue& d);
    ereturnvalue returnArray(ValueVector&& items);
    ereturnvalue returnValue(Value&& v)
    {
        result = std::move(v);
        return ereturnvalue::OK;
    }
    // [piece] is a part of text(i): when it is all of a string argument, the
    // argument is handed on instead of copied.
    ereturnvalue returnPiece(int32_t i, std::string_view piece);

    // "Invalid call to <message name>. <detail>"
    [[noreturn]] void fail(std::string_view detail);

    std::forward_list<std::string> scratch{}; // texts of converted arguments; nodes never move

  private:
    Value& frameArg(int32_t i);
    std::string_view convertedText(const Value& v);
};

// One function set: the rows of its families, indexed by id for dispatch,
// and the check a sliced run makes before it resumes.
class FunctionSet
{
  public:
    // Decides whether a suspended script may go on: sets [done] to keep it waiting.
    using ResumeCheck = ereturnvalue (*)(VirtualMachine& vm, bool& done);
    // The state of another script that a suspended run waits for; only a host
    // that runs several scripts knows any.
    using ScriptStateQuery = WaitedScriptState (*)(VirtualMachine& vm, int32_t scriptId);

    explicit FunctionSet(std::initializer_list<std::span<const SysFunction>> families, ResumeCheck check = nullptr,
                         ScriptStateQuery scriptState = nullptr);
    const SysFunction* find(int32_t id) const noexcept
    {
        const int64_t index = int64_t(highestId_) - id;
        if (index < 0 || index >= static_cast<int64_t>(byIndex_.size())) return nullptr;
        const uint16_t at = byIndex_[static_cast<size_t>(index)];
        return at ? rows_[at - 1u] : nullptr;
    }
    const std::vector<const SysFunction*>& rows() const noexcept { return rows_; }
    void registerAll(FunctionRegistry& registry) const;
    ResumeCheck resumeCheck() const noexcept { return resumeCheck_; }
    ScriptStateQuery scriptStateQuery() const noexcept { return scriptState_; }

  private:
    std::vector<const SysFunction*> rows_;
    // Position + 1 in rows_ of each id from the highest down, 0 for a gap: a
    // set's ids span thousands, its rows a few hundred.
    std::vector<uint16_t> byIndex_;
    int32_t highestId_ = 0;
    ResumeCheck resumeCheck_ = nullptr;
    ScriptStateQuery scriptState_ = nullptr;
};

// The sets a machine runs with, in registration order (core first).
using FunctionSets = std::vector<const FunctionSet*>;

// Runs a row: count test, then the handler.
// [args]: the arguments in place (see SysCall::args), else they are the frame's locals.
ereturnvalue InvokeSysFunction(const SysFunction& row, VirtualMachine& vm, CallFrame& frame, int32_t argc,
                               Value& result, Value* args = nullptr);
// "Invalid call to ...": the count the row's rule refuses.
[[noreturn]] void RefuseArgumentCount(SysCall& call);
// Declared count and by-reference flags of a row, appended to the frame.
void DescribeSysFunction(const SysFunction& row, CallFrame& frame, int32_t& declared);

// The compile-time name tables: system function names with their ids, user
// function names with their numbers (1001, 1002, ...) and entry offsets.
class FunctionRegistry
{
  public:
    virtual ~FunctionRegistry() = default;
    // Enters [name] -> [id] and binds [id] to itself; a second binding of the
    // same id throws the compile error code 1001.
    virtual void registerSystemFunction(std::string_view name, int32_t id) = 0;
};

} // namespace tn
