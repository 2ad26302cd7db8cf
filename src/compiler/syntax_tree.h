// Syntax tree of one top-level statement. The parser builds it, hands it to
// the compile driver and frees it; operator nodes carry token codes (or
// character codes) as operator codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tn
{

enum class NodeKind : int32_t
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

// The parser reuses nodes: a field added here must also be reset in
// recycle() (parser.cpp).
struct SyntaxNode
{
    NodeKind kind = NodeKind::Operator;
    int32_t line = 0;
    int32_t op = 0;          // Operator: token or character code
    int32_t intValue = 0;    // IntLiteral
    double floatValue = 0.0; // FloatLiteral
    uint8_t badByte = 0;     // BadChar
    bool byRef = false;      // Variable: written as a reference variable
    std::string text;        // literals, names, variables (at most 3072 bytes)
    // Operator children in grammar order; a child may be null (the empty statement).
    std::vector<std::unique_ptr<SyntaxNode>> children;

    size_t childCount() const noexcept { return children.size(); }
    SyntaxNode* child(size_t i) const noexcept { return i < children.size() ? children[i].get() : nullptr; }
};

using NodePtr = std::unique_ptr<SyntaxNode>;

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
