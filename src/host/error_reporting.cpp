#include "host/error_reporting.h"

#include "host/script_engine.h"

namespace tn
{

namespace
{

constexpr std::string_view kErrorPageHead =
    "Content-type: text/html\n"
    "\n"
    "<HTML>\n<HEAD>\n<TITLE>Tarnwell</TITLE>\n</HEAD>\n"
    "<BODY BGCOLOR=\"#FFFFFF\" TEXT=\"#000000\" LINK=\"#800080\" VLINK=\"#800080\" ALINK=\"#FF0000\">\n";
constexpr std::string_view kErrorPageTail = "\n</BODY>\n</HTML>";

} // namespace

void FormatErrorLocation(std::string& out, bool html, int32_t line, std::string_view kind, std::string_view message,
                         std::string_view fileName, std::string_view scriptPath)
{
    out.clear();
    const std::string lineText = line > 0 ? std::to_string(line) : std::string();
    if (!html)
    {
        out.append(message);
        if (line > 0)
        {
            out.append(" on line ").append(lineText);
        }
        out.append("\n");
        return;
    }
    out.append("<b>").append(kind).append("</b>: &acute;").append(message).append("&acute; in <b>");
    if (!fileName.empty())
    {
        out.append(fileName);
    }
    else if (!scriptPath.empty())
    {
        out.append(scriptPath);
    }
    else
    {
        out.append("unknown script location");
    }
    out.append("</b>");
    if (line > 0)
    {
        out.append(" on line <b>").append(lineText).append("</b>");
    }
    out.append("<br>\n");
}

ereturnvalue CompileErrorText(const ScriptEngine& engine, int32_t block, std::string& out)
{
    const BlockCompileResult* record = engine.compileRecord(block);
    if (!record)
    {
        out = "Script id not found";
        return ereturnvalue::Error;
    }
    // A message counts even on a block marked ok: errors found while finishing
    // the whole program are appended to the last block.
    if (record->ok && record->message.empty())
    {
        return ereturnvalue::OK;
    }
    FormatErrorLocation(out, engine.htmlFormatting(), record->errorLine, kCompileErrorKind, record->message,
                        record->errorFile, engine.scriptPath());
    return ereturnvalue::Error;
}

void WriteErrorPage(ByteBuffer& out, std::string_view message)
{
    out.clear();
    out.append(kErrorPageHead);
    out.append(message);
    out.append(kErrorPageTail);
}

void PlaceRuntimeError(std::span<ByteBuffer* const> blockOutputs, std::string_view message)
{
    for (ByteBuffer* output : blockOutputs)
    {
        if (output)
        {
            output->clear();
        }
    }
    if (!blockOutputs.empty() && blockOutputs.back())
    {
        blockOutputs.back()->append(message);
    }
}

bool IsRunFailure(ereturnvalue result) noexcept
{
    switch (result)
    {
    case ereturnvalue::OK:
    case ereturnvalue::Incomplete:
    case ereturnvalue::Wait:
    case ereturnvalue::SpecialError:
        return false;
    default:
        return true;
    }
}

} // namespace tn
