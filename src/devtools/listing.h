// A program image as a listing: offset, opcode, operand, and as comments the
// jump targets, the names of called functions, the source line of each LINE
// and the bounds of user functions.
#pragma once

#include "vm/program_image.h"

#include <functional>
#include <string>

namespace tn::dev
{

// Text of line [line] (1-based) of source file [path]; empty when unknown.
using SourceLineReader = std::function<std::string(const std::string& path, int32_t line)>;

// Reads the files from disk, each once.
SourceLineReader FileSourceLines();

std::string ListProgram(const ProgramImage& image, const SourceLineReader& sourceLine);

} // namespace tn::dev
