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
        return closeRule(token, 1, Item::Expression, token, {0});
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
        const Item result = itemAt(2) == Item::Case ? Item::CaseConstant : Item::Expression;
        return reduceRule(2, result, T_NEGATE, {0});
    }
    case Item::Not:
        return reduceRule(2, Item::Expression, T_NOT, {0});
    case Item::Binary:
    {
        const int32_t token = peek();
        const int32_t op = opAt(1);
        if (precedence(token) > precedence(op))
        {
            return shiftOperator(token);
        }
        return reduceRule(3, Item::Expression, op == T_PERCENT ? '%' : op, {2, 0});
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
        return reduceRule(5, Item::Expression, '?', {4, 2, 0});
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
    {
        const Step read = readCloser(')');
        if (read != Step::Continue)
        {
            return read;
        }
        // The inner node stays as it is; the group starts at "(".
        return reduce(2, Item::Expression, takeNode(0));
    }
    case Item::CallOpen:
        stack_.back().item = Item::Arguments;
        return Step::Continue;
    case Item::ArgumentComma:
        return reduceRule(3, Item::Arguments, ',', {2, 0});
    case Item::IndexOpen:
        return closeRule(T_RBRACKET, 3, Item::Target, T_INDEX, {2, 0});
    case Item::IfOpen:
        return token == ')' ? shift(Item::IfClose) : Step::SyntaxError;
    case Item::WhileOpen:
        return token == ')' ? shift(Item::WhileClose) : Step::SyntaxError;
    case Item::ForAssign:
        return token == T_TO ? shift(Item::ForTo) : Step::SyntaxError;
    case Item::ForTo:
        return token == ')' ? shift(Item::ForClose) : Step::SyntaxError;
    case Item::Assign:
        return closeRule(';', 3, Item::Statement, opAt(1), {2, 0});
    case Item::Return:
        return closeRule(';', 2, Item::Statement, T_RETURN, {0});
    default:
        // An expression at the start of a statement.
        return closeRule(';', 1, Item::Statement, T_EXPRSTMT, {0});
    }
}

} // namespace tn
