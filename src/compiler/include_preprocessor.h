// Include preprocessing: turns a block's code into an ordered list of compile
// units by expanding "#include \"path\"" directive lines. Each unit records the
// file its text comes from and the line of that file on which it starts, so
// errors name the right place. Included files hold plain code (no tags).
//
// Units are views: the block's own text belongs to the caller and must outlive
// the units; included file texts are owned here until the next preprocess().
#pragma once

#include "common/result_codes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tn
{

struct CompileUnit
{
    std::string path;      // the file the text comes from
    int32_t startLine = 1; // line of that file on which the text starts
    std::string_view code;
};

class IncludePreprocessor
{
  public:
    // Bounds that make a file including itself (directly or through others)
    // fail instead of expanding forever: nesting depth of includes, number of
    // units of one block, and bytes of included text per block.
    static constexpr int32_t kMaxDepth = 64;
    static constexpr size_t kMaxUnits = 4096;
    static constexpr size_t kMaxIncludedBytes = size_t(64) << 20;

    // Splits [code] (from [path], starting on [startLine]) into units.
    // OK, or Reject with the error message, unit, line and path set.
    ereturnvalue preprocess(std::string_view code, std::string_view path, int32_t startLine);

    size_t unitCount() const noexcept { return units_.size(); }
    const CompileUnit& unit(size_t index) const { return units_[index]; }

    const std::string& errorMessage() const noexcept { return errorMessage_; }
    // Index the failing unit would have had, and the directive's line in that unit's file.
    int32_t errorUnit() const noexcept { return errorUnit_; }
    int32_t errorLine() const noexcept { return errorLine_; }
    const std::string& errorPath() const noexcept { return errorPath_; }

    // Drops units and included texts.
    void clear() noexcept;

  private:
    struct Pending
    {
        std::string path;
        int32_t startLine;
        std::string_view code;
        int32_t depth;
    };

    ereturnvalue fail(const Pending& unit, int32_t directiveLine, std::string message);
    // Reads [path] once per preprocess; null when it is not a readable regular file.
    const std::string* loadFile(const std::string& path);

    std::vector<CompileUnit> units_;
    std::unordered_map<std::string, std::unique_ptr<std::string>> files_;
    size_t includedBytes_ = 0;
    std::string errorMessage_;
    std::string errorPath_;
    int32_t errorUnit_ = -1;
    int32_t errorLine_ = -1;
};

} // namespace tn
