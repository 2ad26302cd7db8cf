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
    return call.returnInt(static_cast<int32_t>(call.text(1).size()));
}

ereturnvalue subStr(SysCall& call)
{
    const std::string_view text = call.text(1);
    const int64_t start = std::max<int32_t>(call.integer(2), 0);
    const int32_t count = call.integer(3);
    std::string_view piece;
    if (start < static_cast<int64_t>(text.size()))
    {
        const size_t rest = text.size() - static_cast<size_t>(start);
        piece = text.substr(static_cast<size_t>(start), count < 0 ? rest : std::min<size_t>(rest, size_t(count)));
    }
    return call.returnText(piece);
}

constexpr SysFunction kStringFunctions[] = {
    {"strlen", -5377, ArgRule::exactly(1), strLen},
    {"substr", -5408, ArgRule::exactly(3), subStr},
};
} // namespace

std::span<const SysFunction> StringFunctions()
{
    return kStringFunctions;
}

} // namespace tn
