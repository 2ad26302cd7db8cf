// Calls one system function through the virtual machine, as a compiled
// script would, and reports what the script would see: the result, the
// runtime error message and the argument variables afterwards.
#pragma once

#include "hostlib/host_functions.h"
#include "support/image_builder.h"
#include "vm/virtual_machine.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace tn::test
{

// One argument, passed as a global variable, so any type can be passed and a
// by-reference parameter has a variable to write back to.
struct CallArg
{
    CallArg(Value v) : value(std::move(v)) {}
    CallArg(int32_t v) : value(Value::integer(v)) {}
    CallArg(double v) : value(Value::floating(v)) {}
    CallArg(const char* text) : value(Value::string(text)) {}
    CallArg(const std::string& text) : value(Value::string(text)) {}

    Value value;
};

// An array of the given elements, written in the same shorthand as arguments.
inline Value ArrayOf(std::initializer_list<CallArg> items)
{
    ValueVector vector;
    for (const CallArg& item : items)
        vector.push(item.value);
    return Value::array(std::move(vector));
}

// A value as its type and content, for one-line checks: "null", "int 5",
// "flags -1", "array 3" (the element count), "text x", "date" and its HTTP
// form, "float 2.5" (exact).
inline std::string Shown(const Value& v)
{
    char number[40];
    switch (v.type())
    {
    case ValueType::Null:
        return "null";
    case ValueType::Integer:
        return "int " + std::to_string(v.rawInt());
    case ValueType::Flags:
        return "flags " + std::to_string(v.rawInt());
    case ValueType::Array:
        return "array " + std::to_string(v.arrayItems().count());
    case ValueType::String:
        return "text " + std::string(v.stringView());
    case ValueType::Date:
        return "date " + v.dateValue().httpForm();
    case ValueType::Float:
        std::snprintf(number, sizeof number, "%.17g", v.rawFloat());
        return std::string("float ") + number;
    default:
        return "type " + std::to_string(static_cast<int>(v.type()));
    }
}

struct CallOutcome
{
    ereturnvalue code = ereturnvalue::OK;
    std::string message;          // the run's error message; empty when the run ended with OK
    Value result;                 // the function's result
    std::vector<Value> arguments; // the argument variables after the call

    bool ok() const { return code == ereturnvalue::OK; }
};

// Keeps one machine across calls, so the script environment, the date
// settings and anything process-wide carry over from call to call, as they
// would between statements of one script.
class FunctionCaller
{
  public:
    static constexpr int32_t kResultSlot = 1;

    VirtualMachine& vm() { return vm_; }

    // Names put into the image's function table before each call (number -> name).
    std::map<int32_t, std::string> functionSymbols;

    CallOutcome call(int32_t id, const std::vector<CallArg>& args = {})
    {
        const int32_t firstArgSlot = kResultSlot + 1;
        ImageBuilder builder;
        builder.openBlock(1);
        for (size_t i = 0; i < args.size(); ++i)
            builder.op(Op::PUSHGLOBALREF, firstArgSlot + static_cast<int32_t>(i));
        builder.op(Op::PUSHINT, static_cast<int32_t>(args.size()));
        builder.op(Op::CALLSYS, id).op(Op::POPGLOBAL, kResultSlot).op(Op::END);
        builder.closeBlock();
        builder.install(image_);
        image_.functionNames().clear();
        for (const auto& [number, name] : functionSymbols)
        {
            bool added = false;
            image_.functionNames().insert(name, number, added);
        }

        vm_.attach(&image_);
        for (size_t i = 0; i < args.size(); ++i)
            vm_.globals().at(firstArgSlot + static_cast<int32_t>(i)) = args[i].value;

        CallOutcome outcome;
        outcome.code = vm_.run(outcome.message);
        // The machine keeps its last error text across runs; only a failed run owns it.
        if (outcome.code == ereturnvalue::OK) outcome.message.clear();
        if (const Value* result = vm_.globals().find(kResultSlot)) outcome.result = *result;
        for (size_t i = 0; i < args.size(); ++i)
        {
            const Value* v = vm_.globals().find(firstArgSlot + static_cast<int32_t>(i));
            outcome.arguments.push_back(v ? *v : Value());
        }
        return outcome;
    }

  private:
    ProgramImage image_;
    VirtualMachine vm_{HostFunctionSets()};
};

} // namespace tn::test
