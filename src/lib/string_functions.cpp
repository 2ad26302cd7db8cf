// String functions: strlen, substr. Texts are byte strings; positions are
// zero-based byte offsets.
#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

#include <algorithm>

namespace tn
{

namespace
{
ereturnvalue strLen(SysCall& call)
{
    const Value& v = call.arg(1);
    int32_t length = 0;
    if (v.isString())
        length = static_cast<int32_t>(v.stringView().size());
    else if (!v.isNull())
        length = static_cast<int32_t>(call.vm.toText(v).size());
    call.result.setInteger(length);
    return ereturnvalue::OK;
}

ereturnvalue subStr(SysCall& call)
{
    std::string scratch;
    const std::string_view text = call.arg(1).textView(scratch, &call.vm.dateSettings());
    const int64_t start = std::max<int32_t>(call.arg(2).toInt(), 0);
    const int32_t count = call.arg(3).toInt();
    std::string_view piece;
    if (start < static_cast<int64_t>(text.size()))
    {
        const size_t rest = text.size() - static_cast<size_t>(start);
        piece = text.substr(static_cast<size_t>(start), count < 0 ? rest : std::min<size_t>(rest, size_t(count)));
    }
    call.result.setString(piece);
    return ereturnvalue::OK;
}

constexpr SysFunction kStringFunctions[] = {
    {"strlen", -5377, ArgRule::exactly(1), "strlen", strLen},
    {"substr", -5408, ArgRule::exactly(3), "substr", subStr},
};
} // namespace

std::span<const SysFunction> StringFunctions()
{
    return kStringFunctions;
}

} // namespace tn
