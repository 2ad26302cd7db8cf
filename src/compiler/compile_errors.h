// Compile error codes and their message texts. Every compiler stage raises a
// failure as one of these integer codes (thrown as a plain int); the compile
// driver turns it into "{code} text".
#pragma once

#include <cstdint>
#include <string>

namespace tn
{

enum CompileErrorCode : int32_t
{
    kFatalError = 1,
    kParserError = 2,
    kLexicalError = 3,
    kInvalidNode = 4,
    kInvalidParameters = 5,
    kUnknownOperator = 6,
    kMisplacedBreak = 7,
    kMisplacedContinue = 8,
    kSyntaxError = 9,
    kFunctionAlreadyDefined = 10,
    kNestedFunctionDefinition = 11,
    kStatementOutsideFunction = 12,
    kMisplacedCase = 13,
    kUnableToOpenInclude = 14,
    kNonConstantExpression = 15,
    kInternalError = 1000,
    kInternalAssemblyError = 1001,
    kUnresolvedLabel = 1002,
    kUndefinedFunction = 1003,
};

// Text of [code]; "error" for a code without an entry.
const char* CompileErrorText(int32_t code) noexcept;

// "{code} " — the prefix every coded message starts with.
std::string CompileErrorPrefix(int32_t code);

// Raises [code] the way the generator and the assembler report failures.
[[noreturn]] inline void RaiseCompileError(int32_t code)
{
    throw static_cast<int>(code);
}

} // namespace tn
