// Configuration functions: the file operations (tnconfigOpen ... ServerReload),
// reads of settings and contexts, and changes, all on the
// process's one store. A setting is addressed by context, context value and
// name (the "type"); with no store loaded reads give an empty result and
// changes the status 0.
#include "hostlib/config_manager.h"
#include "hostlib/host_functions.h"

#include "common/ascii.h"
#include "vm/value.h"

namespace tn
{

namespace
{
// The file operations in the order of their variants; tnconfigIsEdited answers a flag instead.
enum FileOperation : int32_t
{
    kOpen,
    kClose,
    kSave,
    kReload,
    kServerReload,
};
constexpr ereturnvalue (ConfigManager::*kFileOperations[])() = {
    &ConfigManager::open,   &ConfigManager::close,        &ConfigManager::save,
    &ConfigManager::reload, &ConfigManager::serverReload,
};

ereturnvalue fileOperation(SysCall& call)
{
    const auto operation = kFileOperations[call.variant()];
    return call.returnInt(ScriptStatus((ConfigManager::instance().*operation)()));
}

ereturnvalue isEdited(SysCall& call)
{
    return call.returnInt(ConfigManager::instance().isEdited() ? 1 : 0);
}

std::string_view trimmed(SysCall& call, int32_t i)
{
    return TrimBlanks(call.text(i));
}

// Arguments 1 to 3, each trimmed when [trim] is set.
SettingAddress addressOf(SysCall& call, bool trim)
{
    if (trim) return {trimmed(call, 1), trimmed(call, 2), trimmed(call, 3)};
    return {call.text(1), call.text(2), call.text(3)};
}

// Runs [read] on the store when one is loaded; the result stays null otherwise.
template <class Read> ereturnvalue readStore(Read read)
{
    return ConfigManager::instance().withStore([&](const ConfigStore* store)
                                               { return store ? read(*store) : ereturnvalue::OK; });
}

// Answers the status number of [change], 0 when no store is loaded.
template <class Change> ereturnvalue changeStore(SysCall& call, Change change)
{
    const ereturnvalue code = ConfigManager::instance().withStore(
        [&](ConfigStore* store) { return store ? change(*store) : ereturnvalue::Programing; });
    return call.returnInt(ScriptStatus(code));
}

ereturnvalue textArray(SysCall& call, const auto& texts)
{
    if (texts.empty()) return ereturnvalue::OK;
    ValueVector items;
    for (const auto& text : texts)
        items.push(Value::string(text));
    return call.returnArray(std::move(items));
}

// ---- Reads -------------------------------------------------------------------

ereturnvalue getContextList(SysCall& call)
{
    const std::string_view context = call.text(1);
    return readStore([&](const ConfigStore& store) { return textArray(call, store.contextValues(context)); });
}

// The index-th match (from 0), trimmed; empty when there are fewer.
ereturnvalue getTypeSetting(SysCall& call)
{
    const SettingAddress at = addressOf(call, false);
    const int32_t index = call.integer(4);
    call.returnText("");
    return readStore(
        [&](const ConfigStore& store)
        {
            const std::vector<const ConfigSetting*> found = store.matches(at);
            if (index < 0 || static_cast<size_t>(index) >= found.size()) return ereturnvalue::OK;
            return call.returnText(TrimBlanks(found[static_cast<size_t>(index)]->value));
        });
}

ereturnvalue getTypeSettingList(SysCall& call)
{
    const SettingAddress at = addressOf(call, true);
    return readStore(
        [&](const ConfigStore& store)
        {
            std::vector<std::string_view> values;
            for (const ConfigSetting* s : store.matches(at))
                values.push_back(s->value);
            return textArray(call, values);
        });
}

// Arguments 4 and 5 (by reference) receive the keys and the rests of the matches.
ereturnvalue getTypeSettingSplitList(SysCall& call)
{
    const SettingAddress at = addressOf(call, true);
    ValueVector keys;
    ValueVector rests;
    readStore(
        [&](const ConfigStore& store)
        {
            for (const ConfigSetting* s : store.matches(at))
            {
                const SplitValue split = SplitSettingValue(s->value);
                keys.push(Value::string(split.key));
                rests.push(Value::string(split.rest));
            }
            return ereturnvalue::OK;
        });
    const int32_t found = keys.count();
    call.arg(4) = Value::array(std::move(keys));
    call.arg(5) = Value::array(std::move(rests));
    return call.returnInt(found);
}

ereturnvalue getTypeSettingSplit(SysCall& call)
{
    const SettingAddress at = addressOf(call, false);
    const std::string_view key = call.text(4);
    call.returnText("");
    return readStore(
        [&](const ConfigStore& store)
        {
            const ConfigSetting* found = store.findByKey(at, key);
            return found ? call.returnText(SplitSettingValue(found->value).rest) : ereturnvalue::OK;
        });
}

// ---- Changes -----------------------------------------------------------------

ereturnvalue addContext(SysCall& call)
{
    const std::string_view context = trimmed(call, 1), value = trimmed(call, 2);
    return changeStore(call, [&](ConfigStore& store) { return store.addContext(context, value); });
}

ereturnvalue deleteContext(SysCall& call)
{
    const std::string_view context = call.text(1), value = call.text(2);
    return changeStore(call, [&](ConfigStore& store) { return store.deleteContext(context, value); });
}

// Rename and copy trim the context name and the new value, not the old value.
ereturnvalue renameContext(SysCall& call)
{
    const std::string_view context = trimmed(call, 1), value = call.text(2), newValue = trimmed(call, 3);
    return changeStore(call, [&](ConfigStore& store) { return store.renameContext(context, value, newValue); });
}

ereturnvalue copyContext(SysCall& call)
{
    const std::string_view context = trimmed(call, 1), value = call.text(2), newValue = trimmed(call, 3);
    return changeStore(call, [&](ConfigStore& store) { return store.copyContext(context, value, newValue); });
}

ereturnvalue setTypeSetting(SysCall& call)
{
    const SettingAddress at = addressOf(call, true);
    const std::string_view value = trimmed(call, 4);
    return changeStore(call, [&](ConfigStore& store) { return store.assign(at, value); });
}

ereturnvalue setTypeSettingSplit(SysCall& call)
{
    const SettingAddress at = addressOf(call, true);
    const std::string_view key = trimmed(call, 4), rest = trimmed(call, 5);
    return changeStore(call, [&](ConfigStore& store) { return store.assignByKey(at, key, rest); });
}

// With a fourth argument only the matches holding that value go.
ereturnvalue deleteTypeSetting(SysCall& call)
{
    const SettingAddress at = addressOf(call, true);
    const std::string_view value = call.argc == 4 ? trimmed(call, 4) : std::string_view();
    const std::string_view* onlyValue = call.argc == 4 ? &value : nullptr;
    return changeStore(call, [&](ConfigStore& store) { return store.erase(at, onlyValue); });
}

ereturnvalue deleteTypeSettingSplit(SysCall& call)
{
    const SettingAddress at = addressOf(call, true);
    const std::string_view key = trimmed(call, 4);
    return changeStore(call, [&](ConfigStore& store) { return store.eraseByKey(at, key); });
}

// Appends without looking for an equal name: that is how a setting gets several values.
ereturnvalue addTypeSetting(SysCall& call)
{
    const SettingAddress at = addressOf(call, true);
    const std::string_view value = trimmed(call, 4);
    return changeStore(call, [&](ConfigStore& store) { return store.append(at, value); });
}

constexpr const char* kFileOps = "tnconfigFileOps";
constexpr ArgRule kNone = ArgRule::exactly(0);

constexpr SysFunction kConfigFunctions[] = {
    Fn("tnconfigOpen", -16897, kNone, fileOperation).as(kOpen).message(kFileOps),
    Fn("tnconfigClose", -16898, kNone, fileOperation).as(kClose).message(kFileOps),
    Fn("tnconfigIsEdited", -16899, kNone, isEdited).message(kFileOps),
    Fn("tnconfigSave", -16900, kNone, fileOperation).as(kSave).message(kFileOps),
    Fn("tnconfigReload", -16901, kNone, fileOperation).as(kReload).message(kFileOps),
    Fn("tnconfigServerReload", -16902, kNone, fileOperation).as(kServerReload).message(kFileOps),
    {"tnconfigGetContextList", -16913, ArgRule::exactly(1), getContextList},
    {"tnconfigGetTypeSetting", -16914, ArgRule::exactly(4), getTypeSetting},
    {"tnconfigGetTypeSettingList", -16915, ArgRule::exactly(3), getTypeSettingList},
    Fn("tnconfigGetTypeSettingSplitList", -16916, ArgRule::exactly(5), getTypeSettingSplitList).declared(5, {4, 5}),
    {"tnconfigGetTypeSettingSplit", -16917, ArgRule::exactly(4), getTypeSettingSplit},
    {"tnconfigAddContext", -16929, ArgRule::exactly(2), addContext},
    {"tnconfigDeleteContext", -16930, ArgRule::exactly(2), deleteContext},
    {"tnconfigRenameContext", -16931, ArgRule::exactly(3), renameContext},
    {"tnconfigCopyContext", -16932, ArgRule::exactly(3), copyContext},
    {"tnconfigSetTypeSetting", -16945, ArgRule::exactly(4), setTypeSetting},
    {"tnconfigSetTypeSettingSplit", -16946, ArgRule::exactly(5), setTypeSettingSplit},
    {"tnconfigDeleteTypeSetting", -16947, ArgRule::either(3, 4, ArgRule::Message::Exact, 3), deleteTypeSetting},
    {"tnconfigDeleteTypeSettingSplit", -16948, ArgRule::exactly(4), deleteTypeSettingSplit},
    {"tnconfigAddTypeSetting", -16949, ArgRule::exactly(4), addTypeSetting},
};
} // namespace

std::span<const SysFunction> ConfigFunctions()
{
    return kConfigFunctions;
}

} // namespace tn
