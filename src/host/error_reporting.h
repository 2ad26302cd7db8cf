// How errors reach the user: the framing of compile messages (HTML in a page,
// plain text on the console), the HTML error page of a compiled script that
// cannot load or run, and where a runtime error stands in the page.
#pragma once

#include "common/byte_buffer.h"
#include "common/result_codes.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tn
{

class ScriptEngine;

inline constexpr std::string_view kCompileErrorKind = "Compilation error";

// Replaces [out] with the framed message. HTML form:
//   <b>kind</b>: &acute;message&acute; in <b>location</b>[ on line <b>N</b>]<br>\n
// where the location is [fileName], else [scriptPath], else
// "unknown script location". Plain form: message[ on line N]\n.
void FormatErrorLocation(std::string& out, bool html, int32_t line, std::string_view kind, std::string_view message,
                         std::string_view fileName, std::string_view scriptPath);

// The framed compile message of block [block] (from 1), in the engine's form.
// OK with [out] unchanged when the block compiled; Error otherwise, with
// "Script id not found" when the block has no compile record.
ereturnvalue CompileErrorText(const ScriptEngine& engine, int32_t block, std::string& out);

// Replaces [out] with the HTML error page around [message] (not escaped).
void WriteErrorPage(ByteBuffer& out, std::string_view message);

// A failed run: no block keeps what it printed, and the error text goes to
// the last block, so the page shows it where the last block stood.
void PlaceRuntimeError(std::span<ByteBuffer* const> blockOutputs, std::string_view message);

// Whether a run that ended with [result] failed. Incomplete (a yield) and Wait
// leave the page as it is; SpecialError is a deliberate end.
bool IsRunFailure(ereturnvalue result) noexcept;

} // namespace tn
