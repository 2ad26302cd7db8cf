// VirtualMachine: runs one ProgramImage. Owns the operand stack, globals and
// call frames; CALLSYS goes to the function sets it was given.
#pragma once

#include "common/result_codes.h"
#include "vm/call_frame.h"
#include "vm/function_set.h"
#include "vm/program_image.h"
#include "vm/value.h"

#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tn
{

// Defined by the host layer: what its functions work on (the response, ...).
struct HostContext;
class FastCode;
class IntFunctions;
class StatementCode;
struct Statement;
struct FastSegment;
struct FastInstr;

class VirtualMachine
{
  public:
    static constexpr int32_t kMaxInstructions = 0x70000000;
    static constexpr int32_t kMaxCallDepth = 1000000;
    static constexpr int32_t kMaxReferenceHops = 1000000;
    static constexpr int32_t kStatementStack = 16; // the deepest a decoded statement goes

    explicit VirtualMachine(FunctionSets sets = {});
    virtual ~VirtualMachine();
    VirtualMachine(const VirtualMachine&) = delete;
    VirtualMachine& operator=(const VirtualMachine&) = delete;

    // Resets the machine and makes [image] the one to run (not owned).
    ereturnvalue attach(ProgramImage* image);
    ProgramImage* image() const noexcept { return image_; }

    // Runs the program from its start to its end.
    ereturnvalue run(std::string& message);
    // Runs at most [slice] instructions (<= 0: no limit), from the start when
    // [restart] is set, else from where the previous call stopped.
    ereturnvalue continueRun(int32_t slice, bool restart, std::string& message);

    // Composes "Runtime Error: <text>[, on line N of <path>]" and throws RuntimeError.
    [[noreturn]] void raiseRuntimeError(std::string_view text);
    const std::string& errorMessage() const noexcept { return errorMessage_; }

    // ---- State the system functions work on ----
    OutputBuffer* outputBuffer() noexcept { return output_; }
    int32_t currentLine() const noexcept { return line_; }
    int32_t currentFileIndex() const noexcept { return fileIndex_; }
    int32_t instructionCount() const noexcept { return instructionCounter_; }
    // Register code is made only once a run has gone this far: a page's
    // run-once code would not pay back the bookkeeping.
    static constexpr int32_t kRegisterCodeWarmup = 100000;
    // Tests and tools: count on from [n]; use register code from the first
    // instruction, or never.
    void setInstructionCount(int32_t n) noexcept { instructionCounter_ = n; }
    void setRegisterCode(bool on) noexcept { registerCodeFrom_ = intCallsFrom_ = on ? 0 : INT32_MAX; }
    // Whole integer functions pay back sooner: their translation is small.
    static constexpr int32_t kIntCallWarmup = 20000;
    // Tests: take the general call paths only (frames and copies for every call).
    void setFastCalls(bool on) noexcept { fastCalls_ = on; }
    DateDisplaySettings& dateSettings() noexcept { return dateSettings_; }
    const DateDisplaySettings& dateSettings() const noexcept { return dateSettings_; }
    void setStop() noexcept { stop_ = true; }
    bool stopped() const noexcept { return stop_; }
    bool noWait() const noexcept { return noWait_; }
    void setWaitedScript(int32_t id) noexcept { waitedScriptId_ = id; }
    int32_t waitedScript() const noexcept { return waitedScriptId_; }
    int32_t callDepth() const noexcept { return depth_; }

    // Script environment: name -> text, names made identifier-safe when stored.
    using Environment = std::map<std::string, std::string>;
    Environment& environment() noexcept { return environment_; }
    void setEnvironmentVariable(std::string_view name, std::string_view value);
    static std::string SafeEnvironmentName(std::string_view name);

    const std::string& scriptPath() const noexcept { return scriptPath_; }
    void setScriptPath(std::string path) { scriptPath_ = std::move(path); }

    HostContext* host() const noexcept { return host_; }
    void setHost(HostContext* host) noexcept { host_ = host; }

    ValueVector& globals() noexcept { return globals_; }
    ValueVector& stack() noexcept { return stack_; }

    // Text of a value as the script sees it (dates in the display settings).
    void appendText(const Value& v, std::string& out) const { v.appendText(out, &dateSettings_); }
    std::string toText(const Value& v) const { return v.toText(&dateSettings_); }

    // ---- System functions ----
    const FunctionSets& functionSets() const noexcept { return sets_; }
    // The row of [id] in any set; ids never overlap between sets.
    const SysFunction* findFunction(int32_t id) const noexcept
    {
        for (const FunctionSet* set : sets_)
            if (const SysFunction* row = set->find(id)) return row;
        return nullptr;
    }

  private:
    template <bool Sliced> ereturnvalue execute(int32_t slice);
    ereturnvalue continueRunImpl(int32_t slice, bool restart, bool synchronous, std::string& message);
    void resetState() noexcept;
    void selectOutput(int32_t blockId);

    // Calls and references
    CallFrame& pushFrame(int32_t returnAddress);
    int32_t popFrame() noexcept;
    CallFrame* callerFrame() noexcept { return depth_ >= 2 ? frame_ - 1 : nullptr; }
    CallFrame* currentFrame() noexcept { return frame_; }
    // Follows references for reading, in [frame]'s view; never grows a vector
    // (a slot not yet created reads as Null).
    const Value& peek(const Value& v, CallFrame* frame);
    // The common case inline: a value, or a reference straight to a plain variable.
    const Value& peekFast(const Value& v)
    {
        if (!v.isReference()) return v;
        const int32_t p = v.rawInt();
        if (p >= 0)
        {
            if (const Value* g = globals_.find(p); g && !g->isReference()) return *g;
        }
        else if (CallFrame* frame = frame_; frame && p != INT32_MIN)
        {
            if (const Value* l = frame->locals.find(-p); l && !l->isReference()) return *l;
        }
        return peek(v, currentFrame());
    }
    Value& globalSlot(int32_t slot);
    Value& localSlot(int32_t slot); // raises "invalid pop local " without a frame
    // [lendByReference]: move a by-reference argument's value out of the
    // caller's variable instead of sharing it (system calls only; see callSystem).
    // Returns the argument count the callee sees.
    int32_t bindArguments(CallFrame& frame, int32_t declared, bool lendByReference = false);
    void bindValues(CallFrame& frame, Value* arguments, int32_t count);
    Value* directVariable(int32_t reference, CallFrame* caller);
    void returnLent(CallFrame& frame, CallFrame* caller); // gives lent values back after a failure
    void copyBack(CallFrame& frame);
    // [storeRunsNext]: the instruction at [returnAddress] surely runs right
    // after the call when it succeeds (no stop, slice end or instruction limit between).
    ereturnvalue callSystem(int32_t id, int32_t returnAddress, bool storeRunsNext);
    // [store]: where the instruction that surely runs next is, or -1.
    ereturnvalue callInPlace(const SysFunction& row, int32_t below, int32_t count, int32_t store);
    __attribute__((noinline)) ereturnvalue callWithFrame(const SysFunction* row, int32_t returnAddress);
    Value* lendFirst(Value& argument, int32_t store);
    // [row]'s handler on [count] arguments at [args], references among them
    // read here, last first; the first may be lent (see lendFirst).
    // [countChecked]: the row is known to accept [count] arguments. [target]:
    // the variable a row that reuses its target stores the result into.
    ereturnvalue invokeOn(const SysFunction& row, Value* args, int32_t count, int32_t store, Value& result,
                          bool countChecked, Value* target = nullptr);
    // Runs a decoded statement; [counter] follows it. OK: done, or a call
    // stopped the run; Incomplete or Wait: a call suspended it. [pc] is where
    // the plain loop goes on, with what it would have on the stack there.
    ereturnvalue runStatement(const Statement& statement, int32_t budget, int32_t& counter, int32_t& pc);
    void storeResult(Value& value, bool local, int32_t slot);
    void enter(int32_t count);
    bool enterByValue(int32_t count); // the common ENTER; false: take enter()
    // The parameter count of a function at [entry] that starts with the plain
    // by-value ENTER and is called with that many arguments; -1 otherwise.
    int32_t plainEntry(const uint8_t* code, int32_t size, int32_t entry) const noexcept;
    int32_t returnFromCall(); // returns the address to continue at

    // Operators
    Value popOperand(); // the top, dereferenced, popped (moved when it is not a reference)
    void popInto(ValueVector& vars, int32_t slot, bool local);
    void storeInto(ValueVector& vars, int32_t slot, bool local, Value&& v);
    int32_t popInt();
    int32_t intOf(const Value& v); // dereferenced and converted
    // The operators on the two values ending at [top]; top[-1] takes the result.
    void operateOn(Value* top, uint8_t op);
    void compareOn(Value* top, CompareOp op);
    const Value& stringConstant(int32_t pc, const char* text, int32_t length);
    void binaryInt(uint8_t op);
    void compare(CompareOp op);
    void concat(const uint8_t* code, int32_t pc, int32_t size);
    // "$s .= x" with [left] the Reference to $s: x goes onto the end of the
    // variable's text, and the reference stays for the store, which assigns
    // the variable to itself. False when the variable holds no text.
    bool appendToVariable(const Value& left, const Value& right);
    // [left] . [right] into [left].
    // [reuse]: the variable the joined text is stored into once the chain
    // is done; its old text, when nothing else holds it, takes the head.
    void joinTexts(Value& left, const Value& right, Value* reuse = nullptr);
    void appendPiece(Value& to, const Value& piece);
    static constexpr int32_t kChainCapacity = 48;
    static constexpr int32_t kMaxCapacity = 0x7FFFFFF0;
    void pushElement(Value& var, int32_t index);
    void popElement(Value& var, int32_t index, Value&& value);
    [[noreturn]] void raiseStackUnderflow() { raiseRuntimeError("stack underflow"); }

    // Runs [segment] as a whole within [budget] instructions when its guards
    // hold, and the segments that follow while they fit: sets [pc] and the
    // instructions they stand for. False: nothing done.
    bool runSegment(FastSegment* segment, int32_t budget, int32_t& pc, int32_t& executed);
    bool enterSegment(const FastSegment& segment);
    int32_t leaveSegment(const FastSegment& segment, int32_t exitIndex, int32_t executed, int32_t budget, int32_t& pc);
    FastCode* fastCode();
    IntFunctions& intFunctions();
    bool runElement(const FastInstr& in, int32_t* r);
    // A call of the function at [entry] with [args] run whole as int register
    // code: the instructions it stands for from the flag pushes on, or -1
    // when it did not run (the function does not qualify, or the run would
    // pass [budget] or the call depth limit). On success the result is pushed.
    int32_t callInteger(int32_t entry, const int32_t* args, int32_t count, int32_t budget);
    // The same with the arguments where CALL finds them: [.. args, k]; they
    // are replaced by the result.
    int32_t callIntegerFromStack(int32_t entry, int32_t budget);
    static constexpr int32_t kMaxIntArguments = 16;
    bool runAppend(const FastInstr& in, const int32_t* r);

    ereturnvalue resumeCheck(bool& done);
    WaitedScriptState waitedScriptState(int32_t scriptId);

    FunctionSets sets_;
    HostContext* host_ = nullptr;
    ProgramImage* image_ = nullptr;
    std::string errorMessage_;
    int32_t instructionCounter_ = 0;
    bool inlineBlocks_ = false;
    bool stop_ = false;
    bool noWait_ = false;
    int32_t waitedScriptId_ = 0;
    DateDisplaySettings dateSettings_;
    Environment environment_;
    std::string scriptPath_;
    std::string concatScratch_;
    ValueVector globals_;
    ValueVector stack_;
    OutputBuffer* output_ = nullptr;
    int32_t outputBlockId_ = -1;
    int32_t fileIndex_ = -1;
    int32_t line_ = -1;
    // Frames are kept for reuse; the first depth_ of them are live. Growing
    // moves them, so a frame pointer is taken afresh after every push.
    std::vector<CallFrame> frames_;
    int32_t depth_ = 0;
    CallFrame* frame_ = nullptr; // the current frame: frames_[depth_ - 1], or null

    // PUSHSTR texts made once per run and shared: a small table indexed by
    // the instruction's offset. Strings are copied on write, so sharing is safe.
    struct StringConstant
    {
        int32_t pc = -1;
        Value text;
    };
    static constexpr int32_t kStringConstants = 512;
    std::unique_ptr<StringConstant[]> stringConstants_;
    const ProgramImage* constantsImage_ = nullptr;
    uint32_t constantsVersion_ = 0;

    // Register code of the hot parts of the image, made when first needed.
    std::unique_ptr<FastCode> fast_;
    std::unique_ptr<IntFunctions> ints_;
    std::unique_ptr<StatementCode> statements_; // made with fast_
    // Off for the rest of an execute() once an int run was abandoned: the plain
    // loop is then about to meet a limit, and a retry at every level would waste.
    bool intCalls_ = true;
    int32_t registerCodeFrom_ = kRegisterCodeWarmup; // instruction count
    const ProgramImage* fastImage_ = nullptr;
    uint32_t fastVersion_ = 0;
    int32_t intCallsFrom_ = kIntCallWarmup;
    const ProgramImage* intsImage_ = nullptr;
    uint32_t intsVersion_ = 0;

    bool fastCalls_ = true;
    struct FoundRow
    {
        int32_t id = 0; // no function has id 0
        const SysFunction* row = nullptr;
    };
    static constexpr uint32_t kFoundRows = 64;
    FoundRow foundRows_[kFoundRows];
    CallFrame argFrame_; // what SysCall::frame names when the arguments stay on the stack
    // The values of a decoded statement while it runs (see runStatement),
    // Null between statements; a handler that ran the machine again would
    // find it busy and take the plain loop.
    Value statementStack_[kStatementStack];
    bool statementRunning_ = false;
};

} // namespace tn
