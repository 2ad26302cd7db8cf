#include "compiler/lexer.h"

#include "common/ascii.h"

#include "compiler/tokens.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>

// The helpers on every token's way stay inside nextToken: a call per token
// costs more than the scan itself.
#define TN_TOKEN_PATH [[gnu::always_inline]] inline

namespace tn
{

namespace
{

struct Keyword
{
    std::string_view text;
    int32_t token;
    int32_t value;
};

// Any mixture of letter case.
constexpr Keyword kStatementKeywords[] = {
    {"while", T_WHILE, 0},
    {"if", T_IF, 0},
    {"else", T_ELSE, 0},
    {"break", T_BREAK, 0},
    {"continue", T_CONTINUE, 0},
    {"function", T_FUNCTION, 0},
    {"return", T_RETURN, 0},
    {"global", T_GLOBAL, 0},
    {"exit", T_EXIT, 0},
    {"for", T_FOR, 0},
    {"to", T_TO, 0},
    {"switch", T_SWITCH, 0},
    {"case", T_CASE, 0},
    {"default", T_DEFAULT, 0},
};

// All capitals or all small letters.
constexpr Keyword kConstantKeywords[] = {
    {"TRUE", T_TRUE, 1},
    {"FALSE", T_FALSE, 0},
    {"TIMEOUT", T_TIMEOUT, -1},
    {"NOTFOUND", T_NOTFOUND, -2},
    {"INVALIDINPUT", T_INVALIDINPUT, -3},
    {"EVENT", T_EVENT, -4},
    {"EVENTFAILED", T_EVENTFAILED, -5},
};

// Capitals only; they are integer literals.
constexpr Keyword kTypeConstants[] = {
    {"TYPE_NULL", T_INTEGER, 0},  {"TYPE_INT", T_INTEGER, 1},    {"TYPE_FLAGS32", T_INTEGER, 2},
    {"TYPE_ARRAY", T_INTEGER, 3}, {"TYPE_STRING", T_INTEGER, 4}, {"TYPE_REFERENCE", T_INTEGER, 5},
    {"TYPE_DATE", T_INTEGER, 6},  {"TYPE_FLOAT", T_INTEGER, 7},
};

constexpr size_t kLongestKeyword = 14;

inline bool isLetter(unsigned char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

inline bool isDigit(unsigned char c) noexcept
{
    return c >= '0' && c <= '9';
}

inline bool isNameStart(unsigned char c) noexcept
{
    return isLetter(c) || c == '_';
}

inline bool isNameChar(unsigned char c) noexcept
{
    return isLetter(c) || isDigit(c) || c == '_';
}

// `upper` is all capitals; `word` must equal it or its small-letter form.
bool equalsOneCase(std::string_view word, std::string_view upper) noexcept
{
    if (word == upper)
    {
        return true;
    }
    if (word.size() != upper.size())
    {
        return false;
    }
    for (size_t i = 0; i < word.size(); ++i)
    {
        if (word[i] != AsciiLower(upper[i]))
        {
            return false;
        }
    }
    return true;
}

// Keyword token of a scanned name, or T_IDENTIFIER.
int32_t classifyName(std::string_view word, int32_t& value) noexcept
{
    if (word.size() > kLongestKeyword)
    {
        return T_IDENTIFIER;
    }
    for (const Keyword& k : kStatementKeywords)
    {
        if (EqualsIgnoreCase(word, k.text))
        {
            return k.token;
        }
    }
    for (const Keyword& k : kConstantKeywords)
    {
        if (equalsOneCase(word, k.text))
        {
            value = k.value;
            return k.token;
        }
    }
    if (word.size() > 5 && word.substr(0, 5) == "TYPE_")
    {
        for (const Keyword& k : kTypeConstants)
        {
            if (word == k.text)
            {
                value = k.value;
                return k.token;
            }
        }
    }
    return T_IDENTIFIER;
}

} // namespace

void Lexer::setInput(std::string_view code)
{
    input_ = code;
    reset(line_);
}

void Lexer::reset(int32_t firstLine)
{
    line_ = firstLine;
    pos_ = 0;
    inComment_ = false;
    quotedFailEnd_ = 0;
    barFailEnd_ = 0;
    noLineFeedFrom_ = std::string_view::npos;
}

void Lexer::addLines(size_t count) noexcept
{
    // Wraps instead of overflowing on absurd inputs.
    line_ = static_cast<int32_t>(static_cast<uint32_t>(line_) + static_cast<uint32_t>(count));
}

void Lexer::countLines(size_t from, size_t to) noexcept
{
    const char* data = input_.data();
    addLines(static_cast<size_t>(std::count(data + from, data + to, '\n')));
}

bool Lexer::skipBlockComment() noexcept
{
    const size_t close = input_.find("*/", pos_);
    const size_t stop = close == std::string_view::npos ? input_.size() : close + 2;
    countLines(pos_, stop);
    pos_ = stop;
    if (close == std::string_view::npos)
    {
        return false;
    }
    inComment_ = false;
    return true;
}

bool Lexer::lineFeedAhead(size_t from, size_t& lineFeed) noexcept
{
    if (from >= noLineFeedFrom_ || from >= input_.size())
    {
        return false;
    }
    const void* hit = std::memchr(input_.data() + from, '\n', input_.size() - from);
    if (hit == nullptr)
    {
        noLineFeedFrom_ = from;
        return false;
    }
    lineFeed = static_cast<size_t>(static_cast<const char*>(hit) - input_.data());
    return true;
}

// A delimited string: the delimiter, items (a byte other than the delimiter
// and backslash, or a backslash with any byte except a line feed), the
// delimiter. [failEnd] remembers where a failed scan stopped, so that a run of
// unterminated strings stays linear.
bool Lexer::scanDelimited(size_t start, char delimiter, size_t& end, size_t& failEnd) noexcept
{
    if (start < failEnd)
    {
        return false;
    }
    const char* data = input_.data();
    const size_t size = input_.size();
    size_t i = start + 1;
    while (i < size)
    {
        const char c = data[i];
        if (c == delimiter)
        {
            end = i + 1;
            return true;
        }
        if (c == '\\')
        {
            if (i + 1 >= size || data[i + 1] == '\n')
            {
                break;
            }
            i += 2;
            continue;
        }
        ++i;
    }
    failEnd = i;
    return false;
}

bool Lexer::scanQuoted(size_t start, size_t& end) noexcept
{
    return scanDelimited(start, '"', end, quotedFailEnd_);
}

// A bar string needs at least one item, so "||" is never one.
bool Lexer::scanBarString(size_t start, size_t& end) noexcept
{
    if (start + 1 >= input_.size() || input_[start + 1] == '|')
    {
        return false;
    }
    return scanDelimited(start, '|', end, barFailEnd_);
}

TN_TOKEN_PATH int32_t Lexer::finish(int32_t token, size_t start, size_t end, TokenValue& value)
{
    value.text = std::string_view(input_.data() + start, std::min(end - start, kMaxTokenText));
    value.integer = 0;
    value.real = 0.0;
    value.byte = 0;
    value.line = line_;
    pos_ = end;
    return token;
}

int32_t Lexer::badChar(size_t start, TokenValue& value)
{
    finish(T_BADCHAR, start, start + 1, value);
    value.byte = static_cast<uint8_t>(input_[start]);
    return T_BADCHAR;
}

int32_t Lexer::scanName(size_t start, TokenValue& value)
{
    const char* data = input_.data();
    const size_t size = input_.size();
    size_t end = start + 1;
    while (end < size && isNameChar(static_cast<unsigned char>(data[end])))
    {
        ++end;
    }
    int32_t intValue = 0;
    const int32_t token = classifyName(std::string_view(data + start, end - start), intValue);
    finish(token, start, end, value);
    value.integer = intValue;
    return token;
}

int32_t Lexer::scanNumber(size_t start, TokenValue& value)
{
    const char* data = input_.data();
    const size_t size = input_.size();
    size_t end = start;
    uint32_t accumulated = 0;
    while (end < size && isDigit(static_cast<unsigned char>(data[end])))
    {
        accumulated = accumulated * 10u + static_cast<uint32_t>(data[end] - '0');
        ++end;
    }
    // A float needs digits on both sides of the point.
    if (end + 1 < size && data[end] == '.' && isDigit(static_cast<unsigned char>(data[end + 1])))
    {
        const size_t integerEnd = end;
        end += 2;
        while (end < size && isDigit(static_cast<unsigned char>(data[end])))
        {
            ++end;
        }
        finish(T_FLOAT, start, end, value);
        double real = 0.0;
        const auto result = std::from_chars(data + start, data + end, real);
        if (result.ec == std::errc::result_out_of_range)
        {
            // Too large for a double, or too small: the nearest value is
            // infinity or zero.
            const bool large = std::any_of(data + start, data + integerEnd, [](char c) { return c != '0'; });
            real = large ? std::numeric_limits<double>::infinity() : 0.0;
        }
        value.real = real;
        return T_FLOAT;
    }
    finish(T_INTEGER, start, end, value);
    value.integer = static_cast<int32_t>(accumulated);
    return T_INTEGER;
}

TN_TOKEN_PATH char Lexer::byteAfter(size_t start) const noexcept
{
    return start + 1 < input_.size() ? input_[start + 1] : '\0';
}

// A token that may span lines carries the line it starts on.
int32_t Lexer::finishSpanning(int32_t token, size_t start, size_t end, TokenValue& value)
{
    finish(token, start, end, value);
    countLines(start, end);
    return token;
}

TN_TOKEN_PATH void Lexer::skipWhiteSpace() noexcept
{
    // A local cursor: the member would be stored back on every byte.
    const char* data = input_.data();
    const size_t size = input_.size();
    size_t pos = pos_;
    for (; pos < size; ++pos)
    {
        const char c = data[pos];
        if (c == '\n')
        {
            addLines(1);
        }
        else if (c != ' ' && c != '\t' && c != '\r' && c != '\f')
        {
            break;
        }
    }
    pos_ = pos;
}

// A line comment runs up to its line feed; without one ahead it is no comment.
bool Lexer::skipLineComment(size_t bodyStart) noexcept
{
    size_t lineFeed = 0;
    if (!lineFeedAhead(bodyStart, lineFeed))
    {
        return false;
    }
    // The comment's line feed is counted, given back and counted again as
    // white space: once in all.
    pos_ = lineFeed;
    addLines(1);
    if (line_ > 1)
    {
        --line_;
    }
    return true;
}

// "/*" opens a block comment, "//" a line comment; else an operator.
int32_t Lexer::slashToken(size_t start, TokenValue& value)
{
    const char next = byteAfter(start);
    if (next == '*')
    {
        pos_ = start + 2;
        inComment_ = true;
        return kNoToken;
    }
    if (next == '/' && skipLineComment(start + 2))
    {
        return kNoToken;
    }
    return operatorToken(start, value);
}

int32_t Lexer::quotedToken(size_t start, TokenValue& value)
{
    size_t end = 0;
    if (scanQuoted(start, end))
    {
        return finishSpanning(T_STRING, start, end, value);
    }
    return badChar(start, value);
}

// A bar string, or "||".
int32_t Lexer::barToken(size_t start, TokenValue& value)
{
    size_t end = 0;
    if (scanBarString(start, end))
    {
        return finishSpanning(T_RAWSTRING, start, end, value);
    }
    return byteAfter(start) == '|' ? finish(T_OR, start, start + 2, value) : badChar(start, value);
}

// "&&" or a reference variable.
int32_t Lexer::ampersandToken(size_t start, TokenValue& value)
{
    const char next = byteAfter(start);
    if (next == '&')
    {
        return finish(T_AND, start, start + 2, value);
    }
    if (next == '$')
    {
        return variableToken(start, 2, T_REFVARIABLE, value);
    }
    return badChar(start, value);
}

// "$name" or "&$name": [sigils] bytes, then a name.
int32_t Lexer::variableToken(size_t start, size_t sigils, int32_t token, TokenValue& value)
{
    const char* data = input_.data();
    const size_t size = input_.size();
    size_t end = start + sigils;
    if (end >= size || !isNameStart(static_cast<unsigned char>(data[end])))
    {
        return badChar(start, value);
    }
    ++end;
    while (end < size && isNameChar(static_cast<unsigned char>(data[end])))
    {
        ++end;
    }
    return finish(token, start, end, value);
}

// Operators and punctuation: the byte alone, doubled ("++", "--") or
// followed by "=".
TN_TOKEN_PATH int32_t Lexer::operatorToken(size_t start, TokenValue& value)
{
    const char c = input_[start];
    int32_t alone = c;
    int32_t withEquals = 0;
    int32_t doubled = 0;
    switch (c)
    {
    case '>':
        withEquals = T_GE;
        break;
    case '<':
        withEquals = T_LE;
        break;
    case '=':
        withEquals = T_EQ;
        break;
    case '!':
        alone = T_NOT;
        withEquals = T_NE;
        break;
    case '+':
        withEquals = T_ADD_ASSIGN;
        doubled = T_INC;
        break;
    case '-':
        withEquals = T_SUB_ASSIGN;
        doubled = T_DEC;
        break;
    case '*':
        withEquals = T_MUL_ASSIGN;
        break;
    case '/':
        withEquals = T_DIV_ASSIGN;
        break;
    case '.':
        withEquals = T_CAT_ASSIGN;
        break;
    case '%':
        alone = T_PERCENT;
        withEquals = T_MOD_ASSIGN;
        break;
    case '[':
        alone = T_LBRACKET;
        break;
    case ']':
        alone = T_RBRACKET;
        break;
    case '(':
    case ')':
    case ',':
    case ':':
    case ';':
    case '?':
    case '{':
    case '}':
        break;
    default:
        return badChar(start, value);
    }
    const char next = byteAfter(start);
    if (doubled != 0 && next == c)
    {
        return finish(doubled, start, start + 2, value);
    }
    if (withEquals != 0 && next == '=')
    {
        return finish(withEquals, start, start + 2, value);
    }
    return finish(alone, start, start + 1, value);
}

// The token starting at [start], or kNoToken after a comment.
TN_TOKEN_PATH int32_t Lexer::scanToken(size_t start, TokenValue& value)
{
    const unsigned char c = static_cast<unsigned char>(input_[start]);
    switch (c)
    {
    case '/':
        return slashToken(start, value);
    case '#':
        return skipLineComment(start + 1) ? kNoToken : badChar(start, value);
    case '"':
        return quotedToken(start, value);
    case '|':
        return barToken(start, value);
    case '$':
        return variableToken(start, 1, T_VARIABLE, value);
    case '&':
        return ampersandToken(start, value);
    default:
        if (isNameStart(c))
        {
            return scanName(start, value);
        }
        if (isDigit(c))
        {
            return scanNumber(start, value);
        }
        return operatorToken(start, value);
    }
}

int32_t Lexer::nextToken(TokenValue& value)
{
    for (;;)
    {
        if (inComment_ && !skipBlockComment())
        {
            break;
        }
        skipWhiteSpace();
        if (pos_ >= input_.size())
        {
            break;
        }
        const int32_t token = scanToken(pos_, value);
        if (token != kNoToken)
        {
            return token;
        }
    }
    value = TokenValue{};
    value.line = line_;
    return T_END;
}

std::string DecodeStringLiteral(std::string_view tokenText)
{
    if (tokenText.size() >= 2)
    {
        const char first = tokenText.front();
        if ((first == '"' || first == '\'') && tokenText.back() == first)
        {
            tokenText = tokenText.substr(1, tokenText.size() - 2);
        }
    }
    std::string result;
    result.reserve(tokenText.size());
    size_t i = 0;
    while (i < tokenText.size())
    {
        const size_t backslash = tokenText.find('\\', i);
        if (backslash == std::string_view::npos || backslash + 1 >= tokenText.size())
        {
            result.append(tokenText.substr(i));
            break;
        }
        result.append(tokenText.substr(i, backslash - i));
        const char escaped = tokenText[backslash + 1];
        switch (escaped)
        {
        case 'n':
            result.push_back('\n');
            break;
        case 'r':
            result.push_back('\r');
            break;
        case 't':
            result.push_back('\t');
            break;
        default:
            result.push_back(escaped);
            break;
        }
        i = backslash + 2;
    }
    return result;
}

} // namespace tn
