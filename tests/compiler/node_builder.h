// Builds syntax trees by hand, so the code generator can be tested without
// the parser, including trees the parser would never produce.
#pragma once

#include "compiler/syntax_tree.h"
#include "compiler/tokens.h"

#include <memory>
#include <string>
#include <utility>

namespace tn::test
{

inline NodePtr Leaf(NodeKind kind, int32_t line = 1)
{
    auto node = std::make_unique<SyntaxNode>();
    node->kind = kind;
    node->line = line;
    return node;
}

inline NodePtr Text(NodeKind kind, std::string text)
{
    NodePtr node = Leaf(kind);
    node->text = std::move(text);
    return node;
}

inline NodePtr Int(int32_t value, int32_t line = 1)
{
    NodePtr node = Leaf(NodeKind::IntLiteral, line);
    node->intValue = value;
    return node;
}

inline NodePtr Float(double value)
{
    NodePtr node = Leaf(NodeKind::FloatLiteral);
    node->floatValue = value;
    return node;
}

// [tokenText] as the lexer keeps it: quotes included.
inline NodePtr Str(std::string tokenText)
{
    return Text(NodeKind::StringLiteral, std::move(tokenText));
}

inline NodePtr Raw(std::string text)
{
    return Text(NodeKind::RawStringLiteral, std::move(text));
}

inline NodePtr Name(std::string name)
{
    return Text(NodeKind::FunctionName, std::move(name));
}

inline NodePtr Var(std::string name, bool byRef = false)
{
    NodePtr node = Text(NodeKind::Variable, std::move(name));
    node->byRef = byRef;
    return node;
}

template <class... Children> NodePtr Node(int32_t op, Children&&... children)
{
    NodePtr node = Leaf(NodeKind::Operator);
    node->op = op;
    (node->children.push_back(std::forward<Children>(children)), ...);
    return node;
}

inline NodePtr AtLine(int32_t line, NodePtr node)
{
    node->line = line;
    return node;
}

inline NodePtr Empty()
{
    return Node(';', NodePtr(), NodePtr());
}

inline NodePtr Stmt(NodePtr expression)
{
    return Node(T_EXPRSTMT, std::move(expression));
}

template <class... Arguments> NodePtr Call(std::string name, Arguments&&... arguments)
{
    return Node(T_CALL, Name(std::move(name)), std::forward<Arguments>(arguments)...);
}

// Left-nested list ((a, b), c) as the parser builds it.
template <class... Rest> NodePtr List(int32_t op, NodePtr first, Rest&&... rest)
{
    NodePtr list = std::move(first);
    ((list = Node(op, std::move(list), std::forward<Rest>(rest))), ...);
    return list;
}

template <class... Rest> NodePtr Args(NodePtr first, Rest&&... rest)
{
    return List(',', std::move(first), std::forward<Rest>(rest)...);
}

template <class... Rest> NodePtr Seq(NodePtr first, Rest&&... rest)
{
    return List(';', std::move(first), std::forward<Rest>(rest)...);
}

} // namespace tn::test
