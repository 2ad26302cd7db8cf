// Syntax tree of one top-level statement. The parser builds it, hands it to
// the compile driver and frees it; operator nodes carry token codes (or
// character codes) as operator codes.
#pragma once

#include <cstdint>
#include <string_view>

namespace tn
{

enum class NodeKind : uint8_t
{
    BadChar = 0,
    IntLiteral = 1,
    FloatLiteral = 2,
    StringLiteral = 3,    // token text, quotes included
    RawStringLiteral = 4, // text with the bars removed
    FunctionName = 5,
    Variable = 6, // name without "&" and "$"
    Operator = 7,
};

// Nodes are small and live in the parser's arena (parser.h) until their
// statement has been compiled: an expression as long as the page costs a few
// dozen bytes per operator. Texts are views of the code being parsed.
struct SyntaxNode
{
    NodeKind kind = NodeKind::Operator;
    uint8_t badByte = 0; // BadChar
    bool byRef = false;  // Variable: written as a reference variable
    uint8_t count = 0;   // Operator: number of children
    int32_t line = 0;
    int32_t op = 0; // Operator: token or character code
    union
    {
        int32_t intValue = 0; // IntLiteral
        uint32_t textSize;    // literals, names, variables (at most 3072 bytes)
    };
    union
    {
        double floatValue = 0.0; // FloatLiteral
        const char* textData;
        // Operator children in grammar order; a child may be null (the empty statement).
        SyntaxNode* const* children;
    };

    std::string_view text() const noexcept { return {textData, textSize}; }
    void setText(std::string_view view) noexcept
    {
        textData = view.data();
        textSize = static_cast<uint32_t>(view.size());
    }
    size_t childCount() const noexcept { return count; }
    SyntaxNode* child(size_t i) const noexcept { return i < count ? children[i] : nullptr; }
};

// What the parser talks to: the compile driver.
class ParserSink
{
  public:
    virtual ~ParserSink() = default;
    // Called for each completed top-level statement; 0 on success, else the
    // compile error code (its message already recorded). The parser frees the
    // tree afterwards either way.
    virtual int compileStatement(SyntaxNode& node) = 0;
    // Records a message without a code ("parse error", "parser stack overflow").
    virtual void recordParseError(const char* text) = 0;
};

} // namespace tn
