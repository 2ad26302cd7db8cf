// Token codes shared by the lexer, the parser and the syntax tree (operator
// nodes reuse them as operator codes). Single characters are their own code.
#pragma once

#include <cstdint>

namespace tn
{

enum Token : int32_t
{
    T_END = 0,
    T_BADCHAR = 258,
    T_INTEGER = 259,
    T_TRUE = 260,
    T_FALSE = 261,
    T_TIMEOUT = 262,
    T_NOTFOUND = 263,
    T_INVALIDINPUT = 264,
    T_EVENT = 265,
    T_EVENTFAILED = 266,
    T_FLOAT = 267,
    T_STRING = 268,
    T_RAWSTRING = 269,
    T_IDENTIFIER = 270,
    T_VARIABLE = 271,
    T_REFVARIABLE = 272,
    T_WHILE = 273,
    T_FOR = 274,
    T_TO = 275,
    T_SWITCH = 276,
    T_CASE = 277,
    T_DEFAULT = 278,
    T_IF = 279,
    T_BREAK = 280,
    T_CONTINUE = 281,
    T_FUNCTION = 282,
    T_RETURN = 283,
    T_GLOBAL = 284,
    T_EXIT = 285,
    T_CALL = 286, // parser only
    T_ELSE = 288,
    T_ADD_ASSIGN = 289,
    T_SUB_ASSIGN = 290,
    T_MUL_ASSIGN = 291,
    T_DIV_ASSIGN = 292,
    T_CAT_ASSIGN = 293,
    T_MOD_ASSIGN = 294,
    T_AND = 295,
    T_OR = 296,
    T_GE = 297,
    T_LE = 298,
    T_EQ = 299,
    T_NE = 300,
    T_PERCENT = 301,
    T_EXPRSTMT = 302, // parser only
    T_INDEX = 303,    // parser only
    T_INC = 304,
    T_DEC = 305,
    T_NEGATE = 306, // parser only
    T_NOT = 307,
    T_LBRACKET = 308,
    T_RBRACKET = 309,
};

} // namespace tn
