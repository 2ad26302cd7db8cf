#include "vm/function_set.h"

#include "vm/virtual_machine.h"

#include <cstdio>

namespace tn
{

Value& SysCall::arg(int32_t i)
{
    return frame.locals.at(i);
}

void SysCall::fail(std::string_view detail)
{
    std::string text = "Invalid call to ";
    text += function.messageName;
    text += ". ";
    text.append(detail);
    vm.raiseRuntimeError(text);
}

FunctionTable::FunctionTable(std::initializer_list<std::span<const SysFunction>> families)
{
    int32_t lowest = 0;
    for (const auto& family : families)
        for (const SysFunction& row : family)
        {
            rows_.push_back(&row);
            if (rows_.size() == 1 || row.id > highestId_)
                highestId_ = row.id;
            if (rows_.size() == 1 || row.id < lowest)
                lowest = row.id;
        }
    if (rows_.empty())
        return;
    byIndex_.assign(static_cast<size_t>(int64_t(highestId_) - lowest + 1), nullptr);
    for (const SysFunction* row : rows_)
        byIndex_[static_cast<size_t>(int64_t(highestId_) - row->id)] = row;
}

void FunctionTable::registerAll(FunctionRegistry& registry) const
{
    for (const SysFunction* row : rows_)
        registry.registerSystemFunction(row->name, row->id);
}

void DescribeSysFunction(const SysFunction& row, CallFrame& frame, int32_t& declared)
{
    declared = row.declaredCount;
    if (row.byRefMask == 0 || row.declaredCount <= 0)
        return;
    for (int32_t i = 1; i <= row.declaredCount; ++i)
    {
        frame.byRefFlags.push_back((row.byRefMask >> i) & 1u ? 1 : 0);
        frame.callerRefs.push_back(0);
    }
}

ereturnvalue InvokeSysFunction(const SysFunction& row, VirtualMachine& vm, CallFrame& frame, int32_t argc,
                               Value& result)
{
    if (!row.rule.accepts(argc) && row.rule.message != ArgRule::Message::None)
    {
        char text[160];
        std::snprintf(text, sizeof text,
                      row.rule.message == ArgRule::Message::Exact
                          ? "Invalid call to %s. Expecting %d arguments, %d were provided"
                          : "Invalid call to %s. Expecting a minimum of %d arguments, %d were provided",
                      row.messageName, row.rule.expected, argc);
        vm.raiseRuntimeError(text);
    }
    SysCall call{vm, row, frame, argc, result};
    return row.handler(call);
}

} // namespace tn
