// Scanner for the code of one source unit: longest match, rules tried in a
// fixed priority order, two modes (code and block comment).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tn
{

// Longest token text kept; longer tokens are still consumed whole.
inline constexpr size_t kMaxTokenText = 3072;

struct TokenValue
{
    // As written, delimiters included; at most kMaxTokenText bytes. A view of
    // the lexer's input, valid while that is.
    std::string_view text;
    int32_t integer = 0; // integer literals, TYPE_ constants and the constant keywords
    double real = 0.0;
    uint8_t byte = 0; // the offending byte of a T_BADCHAR
    int32_t line = 0; // line on which the token starts
};

class Lexer
{
  public:
    // The text is not copied; the caller keeps it alive while lexing.
    void setInput(std::string_view code);
    // Line counter := firstLine, back to the start of the input, code mode.
    void reset(int32_t firstLine);
    // Token code (tokens.h or a character code); 0 at the end of the input.
    // A NUL byte where a token starts is a T_BADCHAR; inside strings and
    // comments it is an ordinary byte.
    int32_t nextToken(TokenValue& value);
    int32_t line() const noexcept { return line_; }

  private:
    // What a scan returns when it skipped a comment instead of reading a token.
    static constexpr int32_t kNoToken = -1;

    void addLines(size_t count) noexcept;
    void countLines(size_t from, size_t to) noexcept;
    char byteAfter(size_t start) const noexcept;
    void skipWhiteSpace() noexcept;
    bool skipBlockComment() noexcept;
    bool skipLineComment(size_t bodyStart) noexcept;
    bool lineFeedAhead(size_t from, size_t& lineFeed) noexcept;
    bool scanQuoted(size_t start, size_t& end) noexcept;
    bool scanBarString(size_t start, size_t& end) noexcept;
    bool scanDelimited(size_t start, char delimiter, size_t& end, size_t& failEnd) noexcept;

    // One per kind of token, chosen by scanToken from the first byte.
    int32_t scanToken(size_t start, TokenValue& value);
    int32_t slashToken(size_t start, TokenValue& value);
    int32_t quotedToken(size_t start, TokenValue& value);
    int32_t barToken(size_t start, TokenValue& value);
    int32_t ampersandToken(size_t start, TokenValue& value);
    int32_t variableToken(size_t start, size_t sigils, int32_t token, TokenValue& value);
    int32_t operatorToken(size_t start, TokenValue& value);
    int32_t scanName(size_t start, TokenValue& value);
    int32_t scanNumber(size_t start, TokenValue& value);

    int32_t finish(int32_t token, size_t start, size_t end, TokenValue& value);
    int32_t finishSpanning(int32_t token, size_t start, size_t end, TokenValue& value);
    int32_t badChar(size_t start, TokenValue& value);

    std::string_view input_;
    size_t pos_ = 0;
    int32_t line_ = 1;
    bool inComment_ = false;
    // An unterminated string proves every string starting before the point
    // where its scan failed unterminated too; remembering that point keeps
    // runs of escaped quotes linear instead of quadratic.
    size_t quotedFailEnd_ = 0;
    size_t barFailEnd_ = 0;
    // Start of a search for a line feed that found none.
    size_t noLineFeedFrom_ = std::string_view::npos;
};

// Value of a double-quoted string token: the quotes are removed when both ends
// carry the same quote (" or '); then \n, \r and \t become line feed, carriage
// return and tab and a backslash before any other byte gives that byte. A
// lone trailing backslash (a string cut at the length limit) is kept.
std::string DecodeStringLiteral(std::string_view tokenText);

} // namespace tn
