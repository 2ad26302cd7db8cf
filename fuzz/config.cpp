// The configuration parser. A text it accepts is written out, and what it
// writes reads back with as many settings (values may lose blanks that the
// written form cannot keep); edits of the parsed store write out too.
#include "hostlib/config_store.h"

#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace tn;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ConfigStore store;
    std::string message;
    if (store.parse(text, message) != ereturnvalue::OK) return 0;
    std::string written;
    store.serialize(written);
    ConfigStore again;
    if (again.parse(written, message) != ereturnvalue::OK || again.settings().size() != store.settings().size())
        std::abort();

    for (const ConfigSetting& setting : again.settings())
    {
        SplitSettingValue(setting.value);
        const SettingAddress at{setting.context, setting.contextValue, setting.name};
        store.matches(at);
        store.contextValues(setting.context);
    }
    if (!again.settings().empty())
    {
        const ConfigSetting first = again.settings().front();
        const SettingAddress at{first.context, first.contextValue, first.name};
        again.assignByKey(at, SplitSettingValue(first.value).key, "changed");
        again.copyContext(first.context, first.contextValue, "copy");
        again.renameContext(first.context, first.contextValue, "renamed");
        again.erase(at);
        again.serialize(written);
    }
    return 0;
}
