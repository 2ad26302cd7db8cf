// Assembler: the compiler's back end. The code generator never writes bytes
// itself; it asks the assembler to append instructions to the target image,
// to hand out and bind labels, and to number functions and variables.
//
// Until finish() runs, jump operands hold label numbers and CALL operands hold
// user function numbers (1001, ...). Both are recorded where they are emitted,
// so finishing patches them in place without decoding the code again.
//
// Instructions are assembled in the assembler's own buffer and reach the
// image when the code is complete (flush): an image without code takes the
// buffer itself, so the code is never copied. Appending each instruction to
// the image directly cost more than the code generation itself.
//
// Labels, function numbers and global slots live for a whole compile, so a
// function defined in one block may be called from any other block and a
// global is the same slot everywhere.
#pragma once

#include "common/name_table.h"
#include "vm/function_set.h"
#include "vm/opcodes.h"
#include "vm/program_image.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace tn
{

// Hash that lets string-keyed maps be searched with a string_view (no copy).
struct NameHash
{
    using is_transparent = void;
    size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

class Assembler final : public FunctionRegistry
{
  public:
    static constexpr int32_t kFirstUserFunction = 1001;

    // Starts a compile into [image] (null raises ereturnvalue::Error): drops
    // labels, names, slots and patch sites, and resets the line pair.
    void reset(ProgramImage* image);

    // Room for about [bytes] of code and its labels and patch sites, so that
    // a big program is not moved as it grows. Call after reset(); everything
    // still grows past it.
    void reserveCode(size_t bytes);

    // Whether finish() copies the symbol tables into the image.
    void setKeepSymbols(bool keep) noexcept { keepSymbols_ = keep; }
    bool keepSymbols() const noexcept { return keepSymbols_; }

    // ---- Emission ----
    // Offset of the next instruction in the image's code.
    int32_t offset() const noexcept { return base_ + code_.length(); }
    void emit(Op op);
    // Jump opcodes take a label number, CALL a function number.
    void emitInt(Op op, int32_t value);
    void emitDouble(Op op, double value);
    // Writes the text up to its first zero byte, then the terminator; NOTE is dropped.
    void emitString(Op op, std::string_view text);
    void emitBlockHeader(int32_t blockId, bool isOutputBlock);
    // Emits LINE when (current file, [line]) differs from the last LINE.
    void noteLine(int32_t line);
    void setSourceFile(std::string_view name);
    int32_t currentFileIndex() const noexcept { return fileIndex_; }

    // ---- Labels (numbered from 1 across the compile) ----
    int32_t newLabel();
    void defineLabel(int32_t label);
    int32_t labelOffset(int32_t label) const;

    // ---- Names ----
    // The number of [name]: a system id, or a user number given on first mention.
    int32_t functionNumber(std::string_view name);
    // Binds a function number to its entry offset; false when already bound.
    bool bindFunction(int32_t number, int32_t entryOffset);
    void registerSystemFunction(std::string_view name, int32_t id) override;
    // Room for every name of [sets] at once: a compile registers them all.
    void reserveSystemFunctions(const FunctionSets& sets);
    int32_t localSlot(std::string_view name);
    int32_t globalSlot(std::string_view name);
    void resetLocals();

    // ---- Finishing ----
    // Resolves labels and calls, then copies the symbols. Raises 1002 for an
    // unbound label and 1003 for a call to an undefined user function.
    void finish();
    // The name reported with 1003.
    const std::string& undefinedFunctionName() const noexcept { return undefinedFunctionName_; }

    // Appends the code assembled so far to the image. finish() flushes on
    // success; after a failure the driver flushes what was generated.
    void flush();

  private:
    uint8_t* extend(size_t count);
    uint8_t* operandAt(int32_t at);
    void patchLabels();
    void patchCalls();
    void copySymbols();
    static int32_t slotOf(NameTable& table, std::string_view name);

    ProgramImage* image_ = nullptr;
    bool keepSymbols_ = true;
    ByteBuffer code_;  // not yet in the image
    int32_t base_ = 0; // image code size when code_ starts

    std::vector<int32_t> labels_;    // label n at n-1; -1 while unbound
    std::vector<int32_t> jumpSites_; // offsets of jump operands holding label numbers
    std::vector<int32_t> callSites_; // offsets of CALL operands holding function numbers

    NameTable functionNames_;            // system and user names -> number
    std::vector<int32_t> userFunctions_; // user number - 1001 -> position in functionNames_
    std::vector<int32_t> userEntries_;   // user number - 1001 -> entry offset or -1
    // System ids bound to themselves: a bitmap over the range the function
    // sets use (registration enters a few hundred per compile), a set beyond it.
    struct SystemIds
    {
        static constexpr int32_t kBitmapIds = 1 << 16;
        std::vector<uint64_t> bits;
        std::unordered_set<int32_t> others;
        void clear();
        bool insert(int32_t id); // false when already there
    };
    SystemIds systemIds_;

    NameTable globals_; // slot n at position n - 1
    NameTable locals_;  // likewise

    int32_t fileIndex_ = -1;
    int32_t lastLineFile_ = -1;
    int32_t lastLine_ = -1;
    std::string undefinedFunctionName_;
};

} // namespace tn
