#include "compiler/parser.h"

#include "compiler/tokens.h"

#include <algorithm>
#include <new>

namespace tn
{

void* SyntaxArena::allocate(size_t bytes)
{
    // Every request is a multiple of the pointer size, so blocks stay aligned.
    if (blocks_.empty() || used_ + bytes > kBlockBytes)
    {
        blocks_.push_back(std::make_unique_for_overwrite<std::byte[]>(kBlockBytes));
        used_ = 0;
    }
    void* at = blocks_.back().get() + used_;
    used_ += bytes;
    return at;
}

SyntaxNode* SyntaxArena::node()
{
    return new (allocate(sizeof(SyntaxNode))) SyntaxNode;
}

SyntaxNode* SyntaxArena::operatorNode(int32_t op, int32_t line, std::span<SyntaxNode* const> children)
{
    SyntaxNode* node = this->node();
    node->op = op;
    node->line = line;
    node->count = static_cast<uint8_t>(children.size());
    auto** list = static_cast<SyntaxNode**>(allocate(children.size() * sizeof(SyntaxNode*)));
    std::copy(children.begin(), children.end(), list);
    node->children = list;
    return node;
}

void SyntaxArena::clear() noexcept
{
    if (blocks_.size() > 1) blocks_.resize(1);
    used_ = 0;
}

bool Parser::isConstantToken(int32_t token) noexcept
{
    switch (token)
    {
    case T_INTEGER:
    case T_FLOAT:
    case T_STRING:
    case T_RAWSTRING:
    case T_TRUE:
    case T_FALSE:
    case T_TIMEOUT:
    case T_NOTFOUND:
    case T_INVALIDINPUT:
    case T_EVENT:
    case T_EVENTFAILED:
        return true;
    default:
        return false;
    }
}

Parser::Parser(Lexer& lexer, ParserSink& sink) : lexer_(lexer), sink_(sink)
{
    stack_.reserve(200);
}

Parser::~Parser()
{
    clearStack();
}

int Parser::parse()
{
    clearStack();
    lookahead_ = -1;
    // The empty statement list is reduced before any token is read.
    stack_.push_back(Entry{Item::Program, 0, lexer_.line(), nullptr});
    Step result = Step::Continue;
    while (result == Step::Continue)
    {
        result = step();
    }
    clearStack();
    // The token text views the lexer's input, which may go away after the parse.
    value_ = TokenValue{};
    switch (result)
    {
    case Step::Accept:
        return 0;
    case Step::Overflow:
        sink_.recordParseError("parser stack overflow");
        return 2;
    case Step::Failed:
        return 1;
    default:
        sink_.recordParseError("parse error");
        return 1;
    }
}

Parser::Step Parser::shift(Item item, SyntaxNode* node)
{
    const int32_t token = lookahead_;
    const int32_t line = value_.line;
    if (!consume())
    {
        return Step::Overflow;
    }
    stack_.push_back(Entry{item, token, line, node});
    return Step::Continue;
}

Parser::Step Parser::expect(int32_t token, Item item)
{
    if (peek() != token)
    {
        return Step::SyntaxError;
    }
    return shift(item);
}

// As expect(), with the token's own node on the entry.
Parser::Step Parser::expectLeaf(int32_t token, Item item)
{
    if (peek() != token)
    {
        return Step::SyntaxError;
    }
    return shift(item, leafFromToken(token));
}

// A token that completes a rule is reduced at once rather than pushed, but a
// table parser pushes it first, so reading it can overflow all the same.
Parser::Step Parser::readCloser(int32_t closer)
{
    if (peek() != closer)
    {
        return Step::SyntaxError;
    }
    return consume() ? Step::Continue : Step::Overflow;
}

// The common rule: [closer] ends it and the result is an operator node.
Parser::Step Parser::closeRule(int32_t closer, size_t count, Item item, int32_t op,
                               std::initializer_list<size_t> children)
{
    const Step read = readCloser(closer);
    return read == Step::Continue ? reduceRule(count, item, op, children) : read;
}

// "list , variable": the variable token completes the rule.
Parser::Step Parser::closeList(Item list, bool referencesAllowed)
{
    const int32_t token = peek();
    if (token != T_VARIABLE && !(referencesAllowed && token == T_REFVARIABLE))
    {
        return Step::SyntaxError;
    }
    const Step read = readCloser(token);
    if (read != Step::Continue)
    {
        return read;
    }
    // The token's value is still there after the read.
    SyntaxNode* const children[] = {takeNode(1), leafFromToken(token)};
    return reduce(2, list, arena_.operatorNode(',', lineAt(1), children));
}

SyntaxNode* Parser::leafFromToken(int32_t token)
{
    SyntaxNode* node = arena_.node();
    node->line = value_.line;
    switch (token)
    {
    case T_INTEGER:
    case T_TRUE:
    case T_FALSE:
    case T_TIMEOUT:
    case T_NOTFOUND:
    case T_INVALIDINPUT:
    case T_EVENT:
    case T_EVENTFAILED:
        // The lexer gives the constant keywords their values too.
        node->kind = NodeKind::IntLiteral;
        node->intValue = value_.integer;
        break;
    case T_FLOAT:
        node->kind = NodeKind::FloatLiteral;
        node->floatValue = value_.real;
        break;
    case T_STRING:
        node->kind = NodeKind::StringLiteral;
        node->setText(value_.text);
        break;
    case T_RAWSTRING:
    {
        // Each bar only if present: a text cut at the length limit has lost its closing bar.
        std::string_view text = value_.text;
        if (!text.empty() && text.front() == '|')
        {
            text.remove_prefix(1);
        }
        if (!text.empty() && text.back() == '|')
        {
            text.remove_suffix(1);
        }
        node->kind = NodeKind::RawStringLiteral;
        node->setText(text);
        break;
    }
    case T_IDENTIFIER:
        node->kind = NodeKind::FunctionName;
        node->setText(value_.text);
        break;
    case T_VARIABLE:
        node->kind = NodeKind::Variable;
        node->setText(value_.text.substr(1));
        break;
    case T_REFVARIABLE:
        node->kind = NodeKind::Variable;
        node->byRef = true;
        node->setText(value_.text.substr(2));
        break;
    default:
        node->kind = NodeKind::BadChar;
        node->badByte = value_.byte;
        break;
    }
    return node;
}

// Replaces the top [count] entries with [item], whose node is the operator
// [op] over the nodes of the entries [children] (counted from the top).
Parser::Step Parser::reduceRule(size_t count, Item item, int32_t op, std::initializer_list<size_t> children)
{
    SyntaxNode* nodes[4];
    size_t n = 0;
    for (const size_t fromTop : children)
    {
        nodes[n++] = takeNode(fromTop);
    }
    return reduce(count, item, arena_.operatorNode(op, lineAt(count - 1), std::span(nodes, n)));
}

// The result takes the place, and the line, of the first entry reduced
// (count is at least 1).
Parser::Step Parser::reduce(size_t count, Item item, SyntaxNode* node)
{
    const size_t first = stack_.size() - count;
    const int32_t line = stack_[first].line;
    stack_.resize(first + 1);
    stack_[first] = Entry{item, 0, line, node};
    return Step::Continue;
}

void Parser::clearStack()
{
    stack_.clear();
    arena_.clear();
}

Parser::Step Parser::step()
{
    switch (itemAt(0))
    {
    case Item::Program:
        return peek() == T_END ? Step::Accept : startStatement();
    case Item::Statement:
        return afterStatement();
    case Item::Sequence:
        return afterSequence();
    case Item::Block:
    case Item::SwitchBrace:
    case Item::FunctionBrace:
    case Item::IfClose:
    case Item::WhileClose:
    case Item::ForClose:
    case Item::Else:
        return startStatement();
    case Item::If:
        return expect('(', Item::IfOpen);
    case Item::While:
        return expect('(', Item::WhileOpen);
    case Item::For:
        return expect('(', Item::ForOpen);
    case Item::Switch:
        return expect('(', Item::SwitchOpen);
    case Item::IfOpen:
    case Item::WhileOpen:
    case Item::ForAssign:
    case Item::ForTo:
    case Item::Assign:
    case Item::IndexOpen:
    case Item::ArgumentComma:
    case Item::ParenOpen:
    case Item::Binary:
    case Item::Negate:
    case Item::Not:
    case Item::Question:
    case Item::Colon:
        return startExpression();
    case Item::ForOpen:
        return expectLeaf(T_VARIABLE, Item::ForVariable);
    case Item::ForVariable:
        return expect('=', Item::ForAssign);
    case Item::SwitchOpen:
        return expectLeaf(T_VARIABLE, Item::SwitchVariable);
    case Item::SwitchVariable:
        return expect(')', Item::SwitchClose);
    case Item::SwitchClose:
        return expect('{', Item::SwitchBrace);
    case Item::Case:
        return afterCase();
    case Item::CaseConstant:
        return closeRule(':', 2, Item::Statement, T_CASE, {0});
    case Item::Default:
        return closeRule(':', 1, Item::Statement, T_DEFAULT, {});
    case Item::Jump:
        return closeRule(';', 1, Item::Statement, opAt(0), {});
    case Item::Return:
        return peek() == ';' ? closeRule(';', 1, Item::Statement, T_RETURN, {}) : startExpression();
    case Item::Function:
        return expectLeaf(T_IDENTIFIER, Item::FunctionName);
    case Item::FunctionName:
        return expect('(', Item::FunctionOpen);
    case Item::FunctionOpen:
        return afterFunctionOpen();
    case Item::Parameters:
        return peek() == ',' ? shift(Item::ParameterComma) : expect(')', Item::FunctionClose);
    case Item::ParameterComma:
        return closeList(Item::Parameters, true);
    case Item::FunctionClose:
        return expect('{', Item::FunctionBrace);
    case Item::Global:
        return expectLeaf(T_VARIABLE, Item::Globals);
    case Item::Globals:
        return peek() == ',' ? shift(Item::GlobalComma) : closeRule(';', 2, Item::Statement, T_GLOBAL, {0});
    case Item::GlobalComma:
        return closeList(Item::Globals, false);
    case Item::Variable:
        if (peek() == T_LBRACKET)
        {
            return shift(Item::IndexOpen);
        }
        stack_.back().item = Item::Target;
        return Step::Continue;
    case Item::Target:
        return afterTarget();
    case Item::Expression:
        return afterExpression();
    case Item::Name:
        return expect('(', Item::CallOpen);
    case Item::CallOpen:
        return peek() == ')' ? closeRule(')', 2, Item::Expression, T_CALL, {1}) : startExpression();
    case Item::Arguments:
        return peek() == ',' ? shift(Item::ArgumentComma) : closeRule(')', 3, Item::Expression, T_CALL, {2, 0});
    }
    return Step::SyntaxError;
}

Parser::Step Parser::startStatement()
{
    const int32_t token = peek();
    switch (token)
    {
    case ';':
    {
        const Step read = readCloser(';');
        if (read != Step::Continue)
        {
            return read;
        }
        SyntaxNode* const nothing[] = {nullptr, nullptr};
        stack_.push_back(Entry{Item::Statement, 0, value_.line, arena_.operatorNode(';', value_.line, nothing)});
        return Step::Continue;
    }
    case T_BADCHAR:
        return shift(Item::Statement, leafFromToken(token));
    case '{':
        return shift(Item::Block);
    case T_IF:
        return shift(Item::If);
    case T_WHILE:
        return shift(Item::While);
    case T_FOR:
        return shift(Item::For);
    case T_SWITCH:
        return shift(Item::Switch);
    case T_CASE:
        return shift(Item::Case);
    case T_DEFAULT:
        return shift(Item::Default);
    case T_BREAK:
    case T_EXIT:
    case T_CONTINUE:
        return shift(Item::Jump);
    case T_RETURN:
        return shift(Item::Return);
    case T_FUNCTION:
        return shift(Item::Function);
    case T_GLOBAL:
        return shift(Item::Global);
    default:
        return startExpression();
    }
}

Parser::Step Parser::afterStatement()
{
    switch (itemAt(1))
    {
    case Item::Program:
    {
        SyntaxNode* statement = takeNode(0);
        stack_.pop_back();
        const int result = statement ? sink_.compileStatement(*statement) : 0;
        // The statement's nodes were the only ones left.
        arena_.clear();
        return result == 0 ? Step::Continue : Step::Failed;
    }
    case Item::Block:
    case Item::SwitchBrace:
    case Item::FunctionBrace:
        // A single statement is the list itself.
        stack_.back().item = Item::Sequence;
        return Step::Continue;
    case Item::Sequence:
        return reduceRule(2, Item::Sequence, ';', {1, 0});
    case Item::WhileClose:
        return reduceRule(5, Item::Statement, T_WHILE, {2, 0});
    case Item::ForClose:
        return reduceRule(9, Item::Statement, T_FOR, {6, 4, 2, 0});
    case Item::IfClose:
        // Only the next token tells whether an else follows.
        if (peek() == T_ELSE)
        {
            return shift(Item::Else);
        }
        return reduceRule(5, Item::Statement, T_IF, {2, 0});
    case Item::Else:
        return reduceRule(7, Item::Statement, T_IF, {4, 2, 0});
    default:
        return Step::SyntaxError;
    }
}

Parser::Step Parser::afterSequence()
{
    if (peek() != '}')
    {
        return startStatement();
    }
    const Step read = readCloser('}');
    if (read != Step::Continue)
    {
        return read;
    }
    switch (itemAt(1))
    {
    case Item::Block:
        return reduce(2, Item::Statement, takeNode(0));
    case Item::SwitchBrace:
        return reduceRule(6, Item::Statement, T_SWITCH, {3, 0});
    case Item::FunctionBrace:
        if (itemAt(3) == Item::Parameters)
        {
            return reduceRule(7, Item::Statement, T_FUNCTION, {5, 0, 3});
        }
        return reduceRule(6, Item::Statement, T_FUNCTION, {4, 0});
    default:
        return Step::SyntaxError;
    }
}

// A case label's constant, or the minus before one.
Parser::Step Parser::afterCase()
{
    const int32_t token = peek();
    if (isConstantToken(token))
    {
        return shift(Item::CaseConstant, leafFromToken(token));
    }
    if (token == '-')
    {
        return shift(Item::Negate);
    }
    return Step::SyntaxError;
}

Parser::Step Parser::afterFunctionOpen()
{
    const int32_t token = peek();
    if (token == ')')
    {
        return shift(Item::FunctionClose);
    }
    if (token == T_VARIABLE || token == T_REFVARIABLE)
    {
        return shift(Item::Parameters, leafFromToken(token));
    }
    return Step::SyntaxError;
}

} // namespace tn
