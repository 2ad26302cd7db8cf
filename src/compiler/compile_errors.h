// Compile error codes and their message texts, from compile_errors.def. Every
// compiler stage raises a failure as a CompileError holding one of these
// codes; the compile driver turns it into "{code} text".
#pragma once

#include <cstdint>
#include <string>

namespace tn
{

enum CompileErrorCode : int32_t
{
#define TN_COMPILE_ERROR(name, number, text) name = number,
#include "compiler/compile_errors.def"
#undef TN_COMPILE_ERROR
};

// Thrown by the generator and the assembler. Its own type keeps it apart
// from result codes, which may travel as plain integers.
struct CompileError
{
    int32_t code;
};

// Text of [code]; "error" for a code without an entry.
const char* CompileErrorText(int32_t code) noexcept;

// "{code} " — the prefix every coded message starts with.
std::string CompileErrorPrefix(int32_t code);

[[noreturn]] inline void RaiseCompileError(int32_t code)
{
    throw CompileError{code};
}

} // namespace tn
