#include "compiler/compile_errors.h"

#include <cstdio>

namespace tn
{

const char* CompileErrorText(int32_t code) noexcept
{
    switch (code)
    {
    case kFatalError:
        return "fatal error";
    case kParserError:
        return "parser error";
    case kLexicalError:
        return "lexical error";
    case kInvalidNode:
        return "invalid node error";
    case kInvalidParameters:
        return "invalid parameters";
    case kUnknownOperator:
        return "unknown operator";
    case kMisplacedBreak:
        return "misplaced break";
    case kMisplacedContinue:
        return "misplaced continue";
    case kSyntaxError:
        return "syntax error";
    case kFunctionAlreadyDefined:
        return "function already defined";
    case kNestedFunctionDefinition:
        return "nested function definition";
    case kStatementOutsideFunction:
        return "statement outside function definition";
    case kMisplacedCase:
        return "misplaced case";
    case kUnableToOpenInclude:
        return "Unable to open include file";
    case kNonConstantExpression:
        return "non constant expresion"; // sic: scripts and tests match this text
    case kInternalError:
        return "internal error";
    case kInternalAssemblyError:
        return "internal assembly error";
    case kUnresolvedLabel:
        return "internal assembly unresolved label";
    case kUndefinedFunction:
        return "undefined function";
    default:
        return "error";
    }
}

std::string CompileErrorPrefix(int32_t code)
{
    char text[24];
    std::snprintf(text, sizeof text, "{%d} ", static_cast<int>(code));
    return text;
}

} // namespace tn
