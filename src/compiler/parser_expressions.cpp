#include "compiler/parser.h"

#include "compiler/tokens.h"

#include <utility>

namespace tn
{

namespace
{

// Binding strength of an infix operator token, 0 for any other token.
int precedence(int32_t token) noexcept
{
    switch (token)
    {
    case T_AND:
    case T_OR:
        return 2;
    case '<':
    case '>':
    case T_LE:
    case T_GE:
    case T_EQ:
    case T_NE:
        return 3;
    case '+':
    case '-':
        return 4;
    case '*':
    case '/':
    case T_PERCENT:
        return 5;
    case '.':
        return 6;
    default:
        return 0;
    }
}

bool isInfix(int32_t token) noexcept
{
    return precedence(token) > 0;
}

bool isAssignOperator(int32_t token) noexcept
{
    switch (token)
    {
    case '=':
    case T_ADD_ASSIGN:
    case T_SUB_ASSIGN:
    case T_MUL_ASSIGN:
    case T_DIV_ASSIGN:
    case T_CAT_ASSIGN:
    case T_MOD_ASSIGN:
        return true;
    default:
        return false;
    }
}

} // namespace

Parser::Step Parser::startExpression()
{
    const int32_t token = peek();
    if (isConstantToken(token))
    {
        return shift(Item::Expression, leafFromToken(token));
    }
    switch (token)
    {
    case '-':
        return shift(Item::Negate);
    case T_NOT:
        return shift(Item::Not);
    case '(':
        return shift(Item::ParenOpen);
    case T_IDENTIFIER:
        return shift(Item::Name, leafFromToken(token));
    case T_VARIABLE:
        return shift(Item::Variable, leafFromToken(token));
    default:
        return Step::SyntaxError;
    }
}

Parser::Step Parser::afterTarget()
{
    const int32_t token = peek();
    if (token == T_INC || token == T_DEC)
    {
        if (!consume())
        {
            return Step::Overflow;
        }
        return reduce(1, Item::Expression, makeOperator(token, lineAt(0), takeNode(0)), lineAt(0));
    }
    // Assignment is a statement: only a target that starts one takes it.
    if (isAssignOperator(token) && isStatementContext(itemAt(1)))
    {
        return shift(Item::Assign);
    }
    stack_.back().item = Item::Expression;
    return Step::Continue;
}

// Entries after which a statement may start.
bool Parser::isStatementContext(Item item) noexcept
{
    switch (item)
    {
    case Item::Program:
    case Item::Sequence:
    case Item::Block:
    case Item::SwitchBrace:
    case Item::FunctionBrace:
    case Item::IfClose:
    case Item::WhileClose:
    case Item::ForClose:
    case Item::Else:
        return true;
    default:
        return false;
    }
}

Parser::Step Parser::shiftOperator(int32_t token)
{
    return shift(token == '?' ? Item::Question : Item::Binary);
}

Parser::Step Parser::afterExpression()
{
    const Item below = itemAt(1);
    switch (below)
    {
    case Item::Negate:
    {
        // Unary minus binds tighter than every infix operator, so it reduces
        // on any token; above "case" it completes the label's constant.
        NodePtr node = makeOperator(T_NEGATE, lineAt(1), takeNode(0));
        const int32_t line = lineAt(1);
        const Item result = itemAt(2) == Item::Case ? Item::CaseConstant : Item::Expression;
        return reduce(2, result, std::move(node), line);
    }
    case Item::Not:
        return reduce(2, Item::Expression, makeOperator(T_NOT, lineAt(1), takeNode(0)), lineAt(1));
    case Item::Binary:
    {
        const int32_t token = peek();
        const int32_t op = opAt(1);
        if (precedence(token) > precedence(op))
        {
            return shiftOperator(token);
        }
        const int32_t code = op == T_PERCENT ? '%' : op;
        return reduce(3, Item::Expression, makeOperator(code, lineAt(2), takeNode(2), takeNode(0)), lineAt(2));
    }
    case Item::Colon:
    {
        const int32_t token = peek();
        if (isInfix(token))
        {
            return shiftOperator(token);
        }
        if (token == '?')
        {
            return Step::SyntaxError; // the conditional does not associate
        }
        return reduce(5, Item::Expression, makeOperator('?', lineAt(4), takeNode(4), takeNode(2), takeNode(0)),
                      lineAt(4));
    }
    default:
        break;
    }

    const int32_t token = peek();
    if (isInfix(token) || token == '?')
    {
        return shiftOperator(token);
    }
    switch (below)
    {
    case Item::Question:
        return token == ':' ? shift(Item::Colon) : Step::SyntaxError;
    case Item::ParenOpen:
        if (token != ')')
        {
            return Step::SyntaxError;
        }
        if (!consume())
        {
            return Step::Overflow;
        }
        // The inner node stays as it is; the group starts at "(".
        return reduce(2, Item::Expression, takeNode(0), lineAt(1));
    case Item::CallOpen:
        stack_.back().item = Item::Arguments;
        return Step::Continue;
    case Item::ArgumentComma:
        return reduce(3, Item::Arguments, makeOperator(',', lineAt(2), takeNode(2), takeNode(0)), lineAt(2));
    case Item::IndexOpen:
        if (token != T_RBRACKET)
        {
            return Step::SyntaxError;
        }
        if (!consume())
        {
            return Step::Overflow;
        }
        return reduce(3, Item::Target, makeOperator(T_INDEX, lineAt(2), takeNode(2), takeNode(0)), lineAt(2));
    case Item::IfOpen:
        return token == ')' ? shift(Item::IfClose) : Step::SyntaxError;
    case Item::WhileOpen:
        return token == ')' ? shift(Item::WhileClose) : Step::SyntaxError;
    case Item::ForAssign:
        return token == T_TO ? shift(Item::ForTo) : Step::SyntaxError;
    case Item::ForTo:
        return token == ')' ? shift(Item::ForClose) : Step::SyntaxError;
    case Item::Assign:
        if (token != ';')
        {
            return Step::SyntaxError;
        }
        if (!consume())
        {
            return Step::Overflow;
        }
        return reduce(3, Item::Statement, makeOperator(opAt(1), lineAt(2), takeNode(2), takeNode(0)), lineAt(2));
    case Item::Return:
        if (token != ';')
        {
            return Step::SyntaxError;
        }
        if (!consume())
        {
            return Step::Overflow;
        }
        return reduce(2, Item::Statement, makeOperator(T_RETURN, lineAt(1), takeNode(0)), lineAt(1));
    default:
        // An expression at the start of a statement.
        if (token != ';')
        {
            return Step::SyntaxError;
        }
        if (!consume())
        {
            return Step::Overflow;
        }
        return reduce(1, Item::Statement, makeOperator(T_EXPRSTMT, lineAt(0), takeNode(0)), lineAt(0));
    }
}

} // namespace tn
