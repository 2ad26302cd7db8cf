// Short names for token codes, so token streams and syntax trees can be
// compared as text.
#pragma once

#include "compiler/tokens.h"

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace tn::test
{

// A character code is itself; the others are named from T_BADCHAR (258) up.
inline std::string TokenName(int32_t code)
{
    static_assert(T_BADCHAR == 258 && T_RBRACKET == 309, "the name list follows the token numbering");
    static const std::vector<std::string> names = []
    {
        std::istringstream in(
            "bad int TRUE FALSE TIMEOUT NOTFOUND INVALIDINPUT EVENT EVENTFAILED float str raw name var "
            "ref while for to switch case default if break continue function return global exit call "
            "t287 else += -= *= /= .= %= && || >= <= == != % expr idx ++ -- neg ! [ ]");
        return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
    }();
    if (code > 0 && code < 256) return std::string(1, static_cast<char>(code));
    if (code >= T_BADCHAR && code <= T_RBRACKET) return names.at(static_cast<size_t>(code - T_BADCHAR));
    return "t" + std::to_string(code);
}

} // namespace tn::test
