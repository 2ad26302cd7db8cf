// The compile driver: turns all code blocks of one page into one program
// image. One process-wide instance, used under its lock.
#pragma once

#include "common/result_codes.h"
#include "vm/function_set.h"
#include "vm/program_image.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

// One code block of a page, in page order.
struct BlockSource
{
    int32_t firstLine = 1; // line of the page on which the code starts
    int32_t id = 0;        // block number, 1, 2, ...
    bool isOutput = true;  // OUTBLOCK (output block) or BLOCK header
    std::string_view code; // the text between the tags
};

// Per block: what the compile reported. A block that was not attempted keeps
// ok = true, an empty message and line 0.
struct BlockCompileResult
{
    bool attempted = false;
    bool ok = true;
    std::string message; // "{7} misplaced break", "parse error", ...
    int32_t errorLine = 0;
    std::string errorFile; // the file in which the error lies
};

class CompilerImpl;

class Compiler
{
  public:
    static Compiler& instance();

    // Compiles [blocks] into [image] (cleared first). [functions] holds the
    // system function names; [pagePath] resolves includes and is the default
    // error file. [results] gets one entry per block. [dropSymbols] leaves
    // the symbol tables out whatever setKeepSymbols says: a program that is
    // saved and not run has no use for them.
    ereturnvalue compile(const FunctionSets& functions, ProgramImage& image, const std::vector<BlockSource>& blocks,
                         std::vector<BlockCompileResult>& results, const std::string& pagePath,
                         bool dropSymbols = false);

    // Whether finishing copies the symbol tables into the image (default true).
    void setKeepSymbols(bool keep);

  private:
    Compiler();
    ~Compiler();
    CompilerImpl* impl_;
};

} // namespace tn
