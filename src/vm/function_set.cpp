#include "vm/function_set.h"

#include "vm/virtual_machine.h"

#include <cstdio>

namespace tn
{

Value& SysCall::frameArg(int32_t i)
{
    if (i >= 0 && i < frame.locals.count()) return frame.locals[i];
    // Past the arguments a fresh Null. Growing the locals instead would move
    // the arguments out from under references the handler holds.
    thread_local Value tPastTheArguments;
    tPastTheArguments.setNull();
    return tPastTheArguments;
}

std::string_view SysCall::convertedText(const Value& v)
{
    return scratch.emplace_front(vm.toText(v));
}

double SysCall::number(int32_t i)
{
    return arg(i).toFloat();
}

DateValue SysCall::date(int32_t i)
{
    const Value& v = arg(i);
    return v.isDate() ? v.dateValue() : v.toDate();
}

const ValueVector SysCall::kNoElements;

ereturnvalue SysCall::returnNull()
{
    result.setNull();
    return ereturnvalue::OK;
}

ereturnvalue SysCall::returnFloat(double v)
{
    result.setFloat(v);
    return ereturnvalue::OK;
}

ereturnvalue SysCall::returnText(std::string_view text)
{
    if (!result.overwriteText(text)) result.setString(text);
    return ereturnvalue::OK;
}

ereturnvalue SysCall::returnDate(const DateValue& d)
{
    result.setDate(d);
    return ereturnvalue::OK;
}

ereturnvalue SysCall::returnArray(ValueVector&& items)
{
    result = Value::array(std::move(items));
    return ereturnvalue::OK;
}

ereturnvalue SysCall::returnPiece(int32_t i, std::string_view piece)
{
    Value& source = arg(i);
    if (source.isString() && piece.size() == source.stringView().size()) return returnValue(std::move(source));
    return returnText(piece);
}

void SysCall::fail(std::string_view detail)
{
    std::string text = "Invalid call to ";
    text += function.shownName();
    text += ". ";
    text.append(detail);
    vm.raiseRuntimeError(text);
}

FunctionSet::FunctionSet(std::initializer_list<std::span<const SysFunction>> families, ResumeCheck check,
                         ScriptStateQuery scriptState)
    : resumeCheck_(check), scriptState_(scriptState)
{
    int32_t lowest = 0;
    for (const auto& family : families)
        for (const SysFunction& row : family)
        {
            rows_.push_back(&row);
            if (rows_.size() == 1 || row.id > highestId_) highestId_ = row.id;
            if (rows_.size() == 1 || row.id < lowest) lowest = row.id;
        }
    if (rows_.empty()) return;
    byIndex_.assign(static_cast<size_t>(int64_t(highestId_) - lowest + 1), 0);
    for (size_t i = 0; i < rows_.size(); ++i)
        byIndex_[static_cast<size_t>(int64_t(highestId_) - rows_[i]->id)] = static_cast<uint16_t>(i + 1);
}

void FunctionSet::registerAll(FunctionRegistry& registry) const
{
    for (const SysFunction* row : rows_)
        registry.registerSystemFunction(row->name, row->id);
}

void DescribeSysFunction(const SysFunction& row, CallFrame& frame, int32_t& declared)
{
    declared = row.declaredCount;
    if (row.byRefMask == 0 || row.declaredCount <= 0) return;
    for (int32_t i = 1; i <= row.declaredCount; ++i)
        frame.addFlag(((row.byRefMask >> i) & 1u) != 0);
}

void RefuseArgumentCount(SysCall& call)
{
    const ArgRule& rule = call.function.rule;
    char text[96];
    std::snprintf(text, sizeof text,
                  rule.message == ArgRule::Message::Exact ? "Expecting %d arguments, %d were provided"
                                                          : "Expecting a minimum of %d arguments, %d were provided",
                  rule.expected, call.argc);
    call.fail(text);
}

ereturnvalue InvokeSysFunction(const SysFunction& row, VirtualMachine& vm, CallFrame& frame, int32_t argc,
                               Value& result, Value* args)
{
    SysCall call{vm, row, frame, argc, result, args};
    if (row.rule.refuses(argc)) RefuseArgumentCount(call);
    return row.handler(call);
}

} // namespace tn
