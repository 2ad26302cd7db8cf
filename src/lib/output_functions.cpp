// Output and position functions: echo, print, echohtml, echodebug, echolog,
// lineno, scriptpath, getscriptpath, yield.
#include "lib/core_functions.h"

#include "common/ascii.h"

#include "vm/virtual_machine.h"

namespace tn
{

namespace
{
OutputBuffer& requireOutput(SysCall& call)
{
    OutputBuffer* out = call.vm.outputBuffer();
    if (!out) call.fail("invalid output buffer");
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
    return call.returnInt(call.argc);
}

// echohtml: every argument as text, cut at its first zero byte.
ereturnvalue echoHtml(SysCall& call)
{
    OutputBuffer& out = requireOutput(call);
    for (int32_t i = 1; i <= call.argc; ++i)
    {
        out.append(UntilZero(call.text(i)));
    }
    return call.returnInt(call.argc);
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
    return call.returnInt(call.vm.currentLine());
}

ereturnvalue scriptPath(SysCall& call)
{
    const std::string* path = call.vm.image() ? call.vm.image()->findSourceFile(call.vm.currentFileIndex()) : nullptr;
    return call.returnText(path ? std::string_view(*path) : std::string_view());
}

ereturnvalue getScriptPath(SysCall& call)
{
    return call.returnText(std::string_view(call.vm.scriptPath()));
}

ereturnvalue yieldSlice(SysCall&)
{
    return ereturnvalue::Incomplete;
}

constexpr SysFunction kOutputFunctions[] = {
    {"echo", -4097, ArgRule::atLeast(1), echo},
    {"print", -4098, ArgRule::atLeast(1), echo},
    {"echohtml", -4099, ArgRule::atLeast(1), echoHtml},
    {"echodebug", -4100, ArgRule::exactly(1), echoDebug},
    Fn("echolog", -4101, ArgRule::exactly(1), echoDebug).message("echodebug"),
    {"lineno", -4145, ArgRule::exactly(0), lineNo},
    {"scriptpath", -4146, ArgRule::exactly(0), scriptPath},
    {"yield", -4177, ArgRule::any(), yieldSlice},
    {"getscriptpath", -4880, ArgRule::exactly(0), getScriptPath},
};
} // namespace

std::span<const SysFunction> OutputFunctions()
{
    return kOutputFunctions;
}

} // namespace tn
