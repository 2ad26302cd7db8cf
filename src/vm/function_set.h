// System functions: ids, registration rows and the FunctionSet interface
// through which the virtual machine routes CALLSYS.
//
// Each family of functions is a table of SysFunction rows (name, id, argument
// rule, message name, handler, declared count, by-reference parameters). The
// dispatcher checks the argument rule before the handler runs, so handlers
// never format count errors themselves.
#pragma once

#include "common/result_codes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

class VirtualMachine;
class Value;
struct CallFrame;
class FunctionRegistry;

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

    static constexpr ArgRule any() { return {0, -1, Message::None, 0}; }
    static constexpr ArgRule exactly(int16_t n) { return {n, n, Message::Exact, n}; }
    static constexpr ArgRule atLeast(int16_t n) { return {n, -1, Message::Minimum, n}; }
    static constexpr ArgRule between(int16_t lo, int16_t hi, Message m, int16_t expected)
    {
        return {lo, hi, m, expected};
    }
    constexpr bool accepts(int32_t argc) const { return argc >= min && (max < 0 || argc <= max); }
};

struct SysCall;
using SysHandler = ereturnvalue (*)(SysCall& call);

struct SysFunction
{
    const char* name;        // script name, exact case
    int32_t id;              // negative; saved in images, never renumber
    ArgRule rule;
    const char* messageName; // name used in "Invalid call to ..." messages
    SysHandler handler;
    int8_t declaredCount = -1; // checked by the VM before the handler (-1: any)
    uint32_t byRefMask = 0;    // bit i set: parameter i (1-based) is by reference
};

// What a handler sees: arguments 1..argc (copies, already dereferenced), the
// result slot (Null on entry), and the machine.
struct SysCall
{
    VirtualMachine& vm;
    const SysFunction& function;
    CallFrame& frame;
    int32_t argc;
    Value& result;

    Value& arg(int32_t i); // 1-based; by-reference arguments are written here
    // "Invalid call to <message name>. <detail>"
    [[noreturn]] void fail(std::string_view detail);
};

// Rows of several families, indexed by id for dispatch.
class FunctionTable
{
public:
    explicit FunctionTable(std::initializer_list<std::span<const SysFunction>> families);
    const SysFunction* find(int32_t id) const noexcept
    {
        const int64_t index = int64_t(highestId_) - id;
        if (index < 0 || index >= static_cast<int64_t>(byIndex_.size()))
            return nullptr;
        return byIndex_[static_cast<size_t>(index)];
    }
    const std::vector<const SysFunction*>& rows() const noexcept { return rows_; }
    void registerAll(FunctionRegistry& registry) const;

private:
    std::vector<const SysFunction*> rows_;
    std::vector<const SysFunction*> byIndex_;
    int32_t highestId_ = 0;
};

// Runs a row: count test, then the handler.
ereturnvalue InvokeSysFunction(const SysFunction& row, VirtualMachine& vm, CallFrame& frame, int32_t argc,
                               Value& result);
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

// The interface a virtual machine's function sets implement.
class FunctionSet
{
public:
    virtual ~FunctionSet() = default;
    virtual void registerFunctions(FunctionRegistry& registry) = 0;
    // Called at the start of every sliced run.
    virtual ereturnvalue resumeCheck(bool& done) = 0;
    // Sets the declared count (-1: any) and appends by-reference flags to the frame.
    virtual void describeParameters(int32_t id, CallFrame& frame, int32_t& declared) = 0;
    virtual ereturnvalue dispatch(int32_t id, CallFrame& frame, int32_t argc, Value& result) = 0;
};

} // namespace tn
