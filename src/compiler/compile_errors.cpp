#include "compiler/compile_errors.h"

#include <cstdio>

namespace tn
{

const char* CompileErrorText(int32_t code) noexcept
{
    switch (code)
    {
#define TN_COMPILE_ERROR(name, number, text)                                                                           \
    case name:                                                                                                         \
        return text;
#include "compiler/compile_errors.def"
#undef TN_COMPILE_ERROR
    default:
        return "error";
    }
}

std::string CompileErrorPrefix(int32_t code)
{
    char text[24];
    std::snprintf(text, sizeof text, "{%d} ", static_cast<int>(code));
    return text;
}

} // namespace tn
