#include "compiler/assembler.h"

#include "compiler/compile_errors.h"

#include <algorithm>
#include <cstring>

namespace tn
{

namespace
{

// Room for the system function ids, so that registering them does not rehash.

// Sizing of the label and patch-site lists for a given amount of code.
constexpr size_t kCodeBytesPerSite = 16;

// Past this much code, ordinary growth is cheap next to compiling it.
constexpr size_t kMaxReservedCode = size_t(64) << 20;

// Image code is addressed with 32-bit offsets.
constexpr size_t kMaxCodeSize = 0x7FFFFFF0;

} // namespace

void Assembler::reset(ProgramImage* image)
{
    labels_.clear();
    jumpSites_.clear();
    callSites_.clear();
    functionNames_.clear();
    userFunctions_.clear();
    userEntries_.clear();
    systemIds_.clear();
    globals_.clear();
    locals_.clear();
    lastLineFile_ = -1;
    lastLine_ = -1;
    undefinedFunctionName_.clear();
    code_.clear();
    image_ = image;
    base_ = image_ ? image_->codeSize() : 0;
    fileIndex_ = -1;
    if (!image_) throw ereturnvalue::Error;
}

void Assembler::reserveCode(size_t bytes)
{
    bytes = std::min(bytes, kMaxReservedCode);
    // Only an empty buffer is sized; a failed allocation just leaves growth to later appends.
    if (code_.empty() && bytes > static_cast<size_t>(code_.capacity())) code_.allocate(static_cast<int32_t>(bytes));
    // Typical code has a label and a jump every 30 or so bytes; room for one
    // every 16 covers denser code too.
    const size_t sites = bytes / kCodeBytesPerSite;
    labels_.reserve(sites);
    jumpSites_.reserve(sites);
    callSites_.reserve(sites / 4);
}

void Assembler::flush()
{
    if (!image_ || code_.empty()) return;
    if (image_->codeSize() == 0)
        image_->adoptCode(std::move(code_));
    else
        image_->appendCode(code_.data(), code_.length());
    base_ = image_->codeSize();
    code_.clear();
}

// ---- Emission ----

uint8_t* Assembler::extend(size_t count)
{
    if (static_cast<size_t>(code_.length()) + count + static_cast<size_t>(base_) > kMaxCodeSize)
        throw ereturnvalue::MemAlloc;
    return reinterpret_cast<uint8_t*>(code_.extend(static_cast<int32_t>(count)));
}

void Assembler::emit(Op op)
{
    *extend(1) = static_cast<uint8_t>(op);
}

void Assembler::emitInt(Op op, int32_t value)
{
    const int32_t operandAt = offset() + 1;
    uint8_t* at = extend(5);
    at[0] = static_cast<uint8_t>(op);
    writeInt32LE(at + 1, value);
    if (isJumpOpcode(at[0]))
        jumpSites_.push_back(operandAt);
    else if (op == Op::CALL)
        callSites_.push_back(operandAt);
}

void Assembler::emitDouble(Op op, double value)
{
    uint8_t* at = extend(9);
    at[0] = static_cast<uint8_t>(op);
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (int i = 0; i < 8; ++i)
        at[1 + i] = static_cast<uint8_t>(bits >> (8 * i));
}

void Assembler::emitString(Op op, std::string_view text)
{
    if (op == Op::NOTE) return;
    // A zero byte inside the text would end the operand early and turn the
    // rest of the text into instructions.
    if (const size_t zero = text.find('\0'); zero != std::string_view::npos) text = text.substr(0, zero);
    uint8_t* at = extend(text.size() + 2);
    at[0] = static_cast<uint8_t>(op);
    if (!text.empty()) std::memcpy(at + 1, text.data(), text.size());
    at[text.size() + 1] = 0;
}

void Assembler::emitBlockHeader(int32_t blockId, bool isOutputBlock)
{
    lastLineFile_ = -1;
    lastLine_ = -1;
    emitInt(isOutputBlock ? Op::OUTBLOCK : Op::BLOCK, blockId);
    image_->registerBlock();
}

void Assembler::noteLine(int32_t line)
{
    if (fileIndex_ == lastLineFile_ && line == lastLine_) return;
    const uint32_t operand = (static_cast<uint32_t>(fileIndex_) << 24) | (static_cast<uint32_t>(line) & 0xFFFFFFu);
    emitInt(Op::LINE, static_cast<int32_t>(operand));
    lastLineFile_ = fileIndex_;
    lastLine_ = line;
}

void Assembler::setSourceFile(std::string_view name)
{
    fileIndex_ = image_->addSourceFile(name);
}

// ---- Labels ----

int32_t Assembler::newLabel()
{
    labels_.push_back(-1);
    return static_cast<int32_t>(labels_.size());
}

void Assembler::defineLabel(int32_t label)
{
    if (label < 1 || label > static_cast<int32_t>(labels_.size())) RaiseCompileError(kInternalError);
    labels_[static_cast<size_t>(label) - 1] = offset();
}

int32_t Assembler::labelOffset(int32_t label) const
{
    if (label < 1 || label > static_cast<int32_t>(labels_.size())) RaiseCompileError(kInternalError);
    return labels_[static_cast<size_t>(label) - 1];
}

// ---- Names ----

int32_t Assembler::functionNumber(std::string_view name)
{
    bool added = false;
    const auto number = static_cast<int32_t>(kFirstUserFunction + userFunctions_.size());
    const int32_t at = functionNames_.insert(name, number, added);
    if (!added) return functionNames_.value(at);
    userFunctions_.push_back(at);
    userEntries_.push_back(-1);
    return number;
}

bool Assembler::bindFunction(int32_t number, int32_t entryOffset)
{
    const int64_t user = int64_t(number) - kFirstUserFunction;
    if (user >= 0 && user < static_cast<int64_t>(userEntries_.size()))
    {
        int32_t& entry = userEntries_[static_cast<size_t>(user)];
        if (entry >= 0) return false;
        entry = entryOffset;
        return true;
    }
    // Any other number is a system id, which registration bound to itself.
    return systemIds_.insert(number);
}

void Assembler::SystemIds::clear()
{
    bits.assign(kBitmapIds / 64, 0);
    others.clear();
}

bool Assembler::SystemIds::insert(int32_t id)
{
    if (id >= 0 || id < -kBitmapIds) return others.insert(id).second;
    if (bits.empty()) clear();
    const auto bit = static_cast<uint32_t>(-(id + 1));
    uint64_t& word = bits[bit / 64];
    const uint64_t mask = uint64_t(1) << (bit % 64);
    const bool fresh = (word & mask) == 0;
    word |= mask;
    return fresh;
}

void Assembler::registerSystemFunction(std::string_view name, int32_t id)
{
    if (!systemIds_.insert(id)) RaiseCompileError(kInternalAssemblyError);
    bool added = false;
    const int32_t at = functionNames_.insert(name, id, added);
    if (!added) functionNames_.setValue(at, id);
}

void Assembler::reserveSystemFunctions(const FunctionSets& sets)
{
    size_t names = 0;
    for (const FunctionSet* set : sets)
        names += set->rows().size();
    // User functions come on top; a few dozen is the common case. Names
    // average well under 16 bytes.
    names += 64;
    functionNames_.reserve(names, names * 16);
}

// Slots count from 1 in the order the names first appear.
int32_t Assembler::slotOf(NameTable& table, std::string_view name)
{
    bool added = false;
    const int32_t at = table.insert(name, table.size() + 1, added);
    return table.value(at);
}

int32_t Assembler::localSlot(std::string_view name)
{
    return slotOf(locals_, name);
}

int32_t Assembler::globalSlot(std::string_view name)
{
    return slotOf(globals_, name);
}

void Assembler::resetLocals()
{
    locals_.clear();
}

// ---- Finishing ----

void Assembler::finish()
{
    for (const int32_t bound : labels_)
        if (bound < 0) RaiseCompileError(kUnresolvedLabel);
    patchLabels();
    patchCalls();
    flush();
    if (keepSymbols_) copySymbols();
}

// The 4-byte operand at image offset [at], while it is still in code_.
uint8_t* Assembler::operandAt(int32_t at)
{
    const int64_t local = int64_t(at) - base_;
    if (local < 0 || local + 4 > code_.length()) RaiseCompileError(kInternalError);
    return reinterpret_cast<uint8_t*>(code_.at(static_cast<int32_t>(local)));
}

// Offsets count from the end of the 4-byte operand.
void Assembler::patchLabels()
{
    for (const int32_t at : jumpSites_)
    {
        uint8_t* operand = operandAt(at);
        const int32_t target = labelOffset(readInt32LE(operand));
        writeInt32LE(operand, target - (at + 4));
    }
    jumpSites_.clear();
}

void Assembler::patchCalls()
{
    for (const int32_t at : callSites_)
    {
        uint8_t* operand = operandAt(at);
        const int32_t number = readInt32LE(operand);
        const int64_t user = int64_t(number) - kFirstUserFunction;
        const bool known = user >= 0 && user < static_cast<int64_t>(userEntries_.size());
        if (!known || userEntries_[static_cast<size_t>(user)] < 0)
        {
            undefinedFunctionName_ =
                known ? std::string(functionNames_.name(userFunctions_[static_cast<size_t>(user)])) : std::string();
            RaiseCompileError(kUndefinedFunction);
        }
        writeInt32LE(operand, userEntries_[static_cast<size_t>(user)] - (at + 4));
    }
    callSites_.clear();
}

void Assembler::copySymbols()
{
    image_->functionNames() = functionNames_;
    auto& globals = image_->globalSymbols();
    for (int32_t i = 0; i < globals_.size(); ++i)
        globals[i + 1] = std::string(globals_.name(i));
}

} // namespace tn
