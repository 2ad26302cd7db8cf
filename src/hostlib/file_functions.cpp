// File output: a script opens files by path and writes to them by handle.
// Failures are results, never script errors.
#include "hostlib/host_functions.h"

#include "hostlib/host_call.h"

namespace tn
{

namespace
{

enum OpenMode : int32_t
{
    kRead,
    kAppend,
    kCreate,
};

ereturnvalue openFile(SysCall& call)
{
    static constexpr const char* kModes[] = {"rb", "ab", "wb"};
    OpenFiles& files = HostOf(call).files;
    const std::string_view path = call.text(1);
    if (path.empty()) return call.returnInt(ScriptStatus(ereturnvalue::InvalidInput));
    return call.returnInt(files.open(std::string(path), kModes[call.variant()]));
}

ereturnvalue closeFile(SysCall& call)
{
    return call.returnInt(HostOf(call).files.close(call.integer(1)) ? 1 : 0);
}

ereturnvalue fileWrite(SysCall& call)
{
    std::FILE* file = HostOf(call).files.find(call.integer(1));
    if (!file) return call.returnInt(ScriptStatus(ereturnvalue::NotFound));
    const std::string_view text = call.text(2);
    if (text.empty()) return call.returnInt(1);
    return call.returnInt(std::fwrite(text.data(), 1, text.size(), file) == text.size() ? 1 : 0);
}

constexpr SysFunction kFileFunctions[] = {
    Fn("openfileread", -17185, ArgRule::exactly(1), openFile).as(kRead).message("openfilewrite"),
    Fn("openfilewrite", -17186, ArgRule::exactly(1), openFile).as(kAppend),
    Fn("openfilecreate", -17187, ArgRule::exactly(1), openFile).as(kCreate).message("openfilewrite"),
    {"closefile", -17188, ArgRule::exactly(1), closeFile},
    {"filewrite", -17189, ArgRule::exactly(2), fileWrite},
};

} // namespace

std::span<const SysFunction> FileFunctions()
{
    return kFileFunctions;
}

} // namespace tn
