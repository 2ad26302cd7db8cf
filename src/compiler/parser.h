// Shift-reduce parser of one source unit. It keeps an explicit stack that
// holds the same symbols, in the same order, as an LALR(1) table parser for
// the language's grammar would, and it reads a token only where such a parser
// needs one to decide. That fixes the lexer line seen by the sink when a
// statement is compiled or an error is reported, and it makes the stack limit
// count the same entries. Nothing recurses, so no input can exhaust the
// machine stack while parsing.
#pragma once

#include "compiler/lexer.h"
#include "compiler/syntax_tree.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace tn
{

// Holds the nodes of the statement being parsed. Memory is taken in blocks
// and handed out in order; clear() drops every node at once and keeps one
// block, so parsing a long page costs no allocation per node.
class SyntaxArena
{
  public:
    SyntaxArena() = default;
    SyntaxArena(const SyntaxArena&) = delete;
    SyntaxArena& operator=(const SyntaxArena&) = delete;

    // A node with every field at its default.
    SyntaxNode* node();
    // An operator node over [children] (copied; a child may be null).
    SyntaxNode* operatorNode(int32_t op, int32_t line, std::span<SyntaxNode* const> children);
    void clear() noexcept;

  private:
    static constexpr size_t kBlockBytes = size_t(64) << 10;
    void* allocate(size_t bytes);

    std::vector<std::unique_ptr<std::byte[]>> blocks_;
    size_t used_ = 0; // bytes taken from the last block
};

class Parser
{
  public:
    // A table parser's stack grows to 10000 entries, its start state
    // included, and refuses the push that would fill it. Here the start state
    // is not stored, so a push is refused when the stack already holds 9998
    // entries (the statement list at the bottom among them). Shifting a token
    // that completes a rule at once (";", ")", "]", "}", ":", "++", "--")
    // counts as such a push too, as it does for the table parser.
    static constexpr size_t kStackLimit = 10000;

    Parser(Lexer& lexer, ParserSink& sink);
    ~Parser();
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // 0 accepted, 1 syntax error or a failed statement, 2 parser stack overflow.
    int parse();

  private:
    // Stack symbols. Tokens that start or continue a construct are kept as
    // their own entries; tokens that complete a rule are reduced at once.
    enum class Item : uint8_t
    {
        Program, // the statement list at the bottom
        Statement,
        Sequence, // statements between braces
        Block,    // "{" of a braced statement
        If,
        IfOpen,
        IfClose,
        Else,
        While,
        WhileOpen,
        WhileClose,
        For,
        ForOpen,
        ForVariable,
        ForAssign,
        ForTo,
        ForClose,
        Switch,
        SwitchOpen,
        SwitchVariable,
        SwitchClose,
        SwitchBrace,
        Case,
        CaseConstant,
        Default,
        Jump, // break, exit or continue
        Return,
        Function,
        FunctionName,
        FunctionOpen,
        Parameters,
        ParameterComma,
        FunctionClose,
        FunctionBrace,
        Global,
        Globals,
        GlobalComma,
        Variable, // may still take an index
        Target,
        IndexOpen,
        Assign,
        Expression,
        Name,
        CallOpen,
        Arguments,
        ArgumentComma,
        ParenOpen,
        Binary,
        Negate,
        Not,
        Question,
        Colon,
    };

    struct Entry
    {
        Item item;
        int32_t op;   // token of an operator or keyword entry
        int32_t line; // line of the first token of the entry's text
        SyntaxNode* node;
    };

    enum class Step : uint8_t
    {
        Continue,
        Accept,
        SyntaxError,
        Overflow,
        Failed, // a statement's compilation failed
    };

    // One move of the machine, chosen by the entry on top of the stack.
    Step step();
    Step startStatement();
    Step startExpression();
    Step afterStatement();
    Step afterSequence();
    Step afterCase();
    Step afterFunctionOpen();
    Step afterTarget();
    Step afterExpression();

    // Moves shared by the rules.
    Step shiftOperator(int32_t token);
    Step expect(int32_t token, Item item);
    Step expectLeaf(int32_t token, Item item);
    Step shift(Item item, SyntaxNode* node = nullptr);
    Step readCloser(int32_t closer);
    Step closeRule(int32_t closer, size_t count, Item item, int32_t op, std::initializer_list<size_t> children);
    Step closeList(Item list, bool referencesAllowed);
    Step reduceRule(size_t count, Item item, int32_t op, std::initializer_list<size_t> children);
    Step reduce(size_t count, Item item, SyntaxNode* node);
    static bool isStatementContext(Item item) noexcept;

    static bool isConstantToken(int32_t token) noexcept;

    int32_t peek();
    bool canPush() const noexcept;
    bool consume() noexcept;
    SyntaxNode* leafFromToken(int32_t token);
    Item itemAt(size_t fromTop) const;
    int32_t lineAt(size_t fromTop) const;
    int32_t opAt(size_t fromTop) const;
    SyntaxNode* takeNode(size_t fromTop);
    void clearStack();

    Lexer& lexer_;
    ParserSink& sink_;
    TokenValue value_;
    int32_t lookahead_ = -1;
    std::vector<Entry> stack_;
    SyntaxArena arena_;
};

// The stack accessors run for every token, so they are inline.

inline int32_t Parser::peek()
{
    if (lookahead_ < 0)
    {
        lookahead_ = lexer_.nextToken(value_);
    }
    return lookahead_;
}

// The table parser counts its start state as well; the entry that would make
// kStackLimit is refused.
inline bool Parser::canPush() const noexcept
{
    return stack_.size() + 2 < kStackLimit;
}

inline bool Parser::consume() noexcept
{
    if (!canPush())
    {
        return false;
    }
    lookahead_ = -1;
    return true;
}

inline Parser::Item Parser::itemAt(size_t fromTop) const
{
    return stack_[stack_.size() - 1 - fromTop].item;
}

inline int32_t Parser::lineAt(size_t fromTop) const
{
    return stack_[stack_.size() - 1 - fromTop].line;
}

inline int32_t Parser::opAt(size_t fromTop) const
{
    return stack_[stack_.size() - 1 - fromTop].op;
}

inline SyntaxNode* Parser::takeNode(size_t fromTop)
{
    return stack_[stack_.size() - 1 - fromTop].node;
}

} // namespace tn
