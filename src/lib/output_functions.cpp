// Output and position functions: echo, print, echohtml, echodebug, echolog,
// lineno, scriptpath, getscriptpath, yield.
#include "lib/core_functions.h"

#include "vm/virtual_machine.h"

#include <cstring>

namespace tn
{

namespace
{
OutputBuffer& requireOutput(SysCall& call)
{
    OutputBuffer* out = call.vm.outputBuffer();
    if (!out)
        call.fail("invalid output buffer");
    return *out;
}

// echo and print: strings verbatim (zero bytes included), other types as text, null as nothing.
ereturnvalue echo(SysCall& call)
{
    OutputBuffer& out = requireOutput(call);
    std::string text;
    for (int32_t i = 1; i <= call.argc; ++i)
    {
        const Value& v = call.arg(i);
        if (v.isString())
            out.append(v.stringView());
        else if (!v.isNull())
        {
            text.clear();
            call.vm.appendText(v, text);
            out.append(text);
        }
    }
    call.result.setInteger(call.argc);
    return ereturnvalue::OK;
}

// echohtml: every argument as text, cut at its first zero byte.
ereturnvalue echoHtml(SysCall& call)
{
    OutputBuffer& out = requireOutput(call);
    std::string scratch;
    for (int32_t i = 1; i <= call.argc; ++i)
    {
        std::string_view text = call.arg(i).textView(scratch, &call.vm.dateSettings());
        if (const void* zero = std::memchr(text.data(), 0, text.size()))
            text = text.substr(0, static_cast<size_t>(static_cast<const char*>(zero) - text.data()));
        out.append(text);
    }
    call.result.setInteger(call.argc);
    return ereturnvalue::OK;
}

// This host has no debug or log channel: the text is formed and dropped.
ereturnvalue echoDebug(SysCall& call)
{
    std::string text = call.vm.toText(call.arg(1));
    text += '\n';
    return ereturnvalue::OK;
}

ereturnvalue lineNo(SysCall& call)
{
    call.result.setInteger(call.vm.currentLine());
    return ereturnvalue::OK;
}

ereturnvalue scriptPath(SysCall& call)
{
    const std::string* path =
        call.vm.image() ? call.vm.image()->findSourceFile(call.vm.currentFileIndex()) : nullptr;
    call.result.setString(path ? std::string_view(*path) : std::string_view());
    return ereturnvalue::OK;
}

ereturnvalue getScriptPath(SysCall& call)
{
    call.result.setString(call.vm.scriptPath());
    return ereturnvalue::OK;
}

ereturnvalue yieldSlice(SysCall&)
{
    return ereturnvalue::Incomplete;
}

constexpr SysFunction kOutputFunctions[] = {
    {"echo", -4097, ArgRule::atLeast(1), "echo", echo},
    {"print", -4098, ArgRule::atLeast(1), "print", echo},
    {"echohtml", -4099, ArgRule::atLeast(1), "echohtml", echoHtml},
    {"echodebug", -4100, ArgRule::exactly(1), "echodebug", echoDebug},
    {"echolog", -4101, ArgRule::exactly(1), "echodebug", echoDebug},
    {"lineno", -4145, ArgRule::exactly(0), "lineno", lineNo},
    {"scriptpath", -4146, ArgRule::exactly(0), "scriptpath", scriptPath},
    {"yield", -4177, ArgRule::any(), "yield", yieldSlice},
    {"getscriptpath", -4880, ArgRule::exactly(0), "getscriptpath", getScriptPath},
};
} // namespace

std::span<const SysFunction> OutputFunctions()
{
    return kOutputFunctions;
}

} // namespace tn
