// Expression half of the code generator: the node dispatcher, literals,
// variables and elements, calls, operators, and the case-label folder.
#include "compiler/code_generator.h"

#include "compiler/compile_errors.h"
#include "compiler/lexer.h"
#include "compiler/tokens.h"

namespace tn
{

namespace
{

// Infix operators that leave one value from two: the opcode each becomes,
// or 0 for any other operator code.
uint8_t infixOpcode(int32_t op) noexcept
{
    switch (op)
    {
    case '+':
        return uint8_t(Op::ADD);
    case '-':
        return uint8_t(Op::SUB);
    case '*':
        return uint8_t(Op::MUL);
    case '/':
        return uint8_t(Op::DIV);
    case '%': // the grammar uses the character, not T_PERCENT
        return uint8_t(Op::MOD);
    case '.':
        return uint8_t(Op::CONCAT);
    case '<':
        return uint8_t(Op::LT);
    case '>':
        return uint8_t(Op::GT);
    case T_LE:
        return uint8_t(Op::LE);
    case T_GE:
        return uint8_t(Op::GE);
    case T_NE:
        return uint8_t(Op::NE);
    case T_EQ:
        return uint8_t(Op::EQ);
    case T_AND:
        return uint8_t(Op::AND);
    case T_OR:
        return uint8_t(Op::OR);
    default:
        return 0;
    }
}

bool isInfixNode(const SyntaxNode* node) noexcept
{
    return node && node->kind == NodeKind::Operator && infixOpcode(node->op) != 0;
}

} // namespace

void CodeGenerator::reset()
{
    inFunction_ = false;
    functionGlobals_.clear();
    continueLabel_ = -1;
    breakLabel_ = -1;
    switchSubject_ = {};
    cases_.clear();
    spine_.clear();
}

void CodeGenerator::expectChildren(const SyntaxNode& node, size_t count)
{
    if (node.childCount() != count) RaiseCompileError(kInvalidParameters);
}

void CodeGenerator::expectChildren(const SyntaxNode& node, size_t least, size_t most)
{
    if (node.childCount() < least || node.childCount() > most) RaiseCompileError(kInvalidParameters);
}

int32_t CodeGenerator::generate(const SyntaxNode* node, int32_t* argumentCounter)
{
    if (!node) return 0;
    if (node->kind == NodeKind::FunctionName) return asm_.functionNumber(node->text());
    asm_.noteLine(node->line);
    if (node->kind == NodeKind::Operator)
        generateOperator(*node, argumentCounter);
    else
        generateLeaf(*node);
    return 0;
}

void CodeGenerator::generateLeaf(const SyntaxNode& node)
{
    switch (node.kind)
    {
    case NodeKind::BadChar:
        RaiseCompileError(kSyntaxError);
    case NodeKind::IntLiteral:
        asm_.emitInt(Op::PUSHINT, node.intValue);
        break;
    case NodeKind::FloatLiteral:
        asm_.emitDouble(Op::PUSHFLOAT, node.floatValue);
        break;
    case NodeKind::StringLiteral:
        emitStringLiteral(node.text());
        break;
    case NodeKind::RawStringLiteral:
        asm_.emitString(Op::PUSHSTR, node.text());
        break;
    case NodeKind::Variable:
        pushReference(resolve(&node));
        break;
    default:
        RaiseCompileError(kInvalidNode);
    }
}

void CodeGenerator::emitStringLiteral(std::string_view tokenText)
{
    // Most literals hold no escapes: their value is a view of the token text.
    if (tokenText.find('\\') != std::string_view::npos)
    {
        asm_.emitString(Op::PUSHSTR, DecodeStringLiteral(tokenText));
        return;
    }
    if (tokenText.size() >= 2 && (tokenText.front() == '"' || tokenText.front() == '\'') &&
        tokenText.back() == tokenText.front())
        tokenText = tokenText.substr(1, tokenText.size() - 2);
    asm_.emitString(Op::PUSHSTR, tokenText);
}

CodeGenerator::Slot CodeGenerator::resolve(const SyntaxNode* variable)
{
    if (!variable || variable->kind != NodeKind::Variable) RaiseCompileError(kInvalidNode);
    // Most functions declare no globals: skip hashing the name then.
    if (inFunction_ && (functionGlobals_.empty() || !functionGlobals_.contains(variable->text())))
        return {asm_.localSlot(variable->text()), true};
    return {asm_.globalSlot(variable->text()), false};
}

void CodeGenerator::pushReference(Slot slot)
{
    asm_.emitInt(slot.local ? Op::PUSHLOCALREF : Op::PUSHGLOBALREF, slot.number);
}

void CodeGenerator::generateOperator(const SyntaxNode& node, int32_t* argumentCounter)
{
    if (infixOpcode(node.op) != 0)
    {
        generateInfixChain(node);
        return;
    }
    switch (node.op)
    {
    case T_NOT:
        expectChildren(node, 1);
        generate(node.child(0), nullptr);
        asm_.emit(Op::NOT);
        return;
    case T_NEGATE:
        expectChildren(node, 1);
        generate(node.child(0), nullptr);
        asm_.emit(Op::NEG);
        return;
    case '?':
        generateConditional(node);
        return;
    case T_INDEX:
        generateElement(node);
        return;
    case T_INC:
        generateStep(node, Op::ADD);
        return;
    case T_DEC:
        generateStep(node, Op::SUB);
        return;
    case T_CALL:
        generateCall(node);
        return;
    case ',':
        generateList(node, argumentCounter);
        return;
    case ';':
        generateSequence(node);
        return;
    default:
        if (!generateStatement(node)) RaiseCompileError(kUnknownOperator);
    }
}

// Left-nested chains ((a op b) op c) op d: infix operators, argument lists
// and statement sequences nest as deep as they are long, so they are walked
// without recursion, in the order recursion would give: every node's line is
// noted on the way down, then the leftmost operand is generated and each
// right operand follows, with [after] for its node, on the way back up.
template <class Continues, class After>
void CodeGenerator::generateLeftChain(const SyntaxNode& node, Continues continues, After after)
{
    const size_t base = spine_.size();
    expectChildren(node, 2);
    spine_.push_back(&node);
    const SyntaxNode* left = node.child(0);
    while (continues(left))
    {
        asm_.noteLine(left->line);
        expectChildren(*left, 2);
        spine_.push_back(left);
        left = left->child(0);
    }
    generate(left, nullptr);
    for (size_t i = spine_.size(); i-- > base;)
    {
        const SyntaxNode* current = spine_[i];
        generate(current->child(1), nullptr);
        after(*current);
    }
    spine_.resize(base);
}

void CodeGenerator::generateInfixChain(const SyntaxNode& node)
{
    generateLeftChain(node, isInfixNode,
                      [this](const SyntaxNode& n) { asm_.emit(static_cast<Op>(infixOpcode(n.op))); });
}

// An argument list ((a, b), c): items left to right, one count per ",".
void CodeGenerator::generateList(const SyntaxNode& node, int32_t* argumentCounter)
{
    generateLeftChain(
        node, [](const SyntaxNode* n) { return n && n->kind == NodeKind::Operator && n->op == ','; },
        [argumentCounter](const SyntaxNode&)
        {
            if (argumentCounter) ++*argumentCounter;
        });
}

// A statement sequence ((s1; s2); s3).
void CodeGenerator::generateSequence(const SyntaxNode& node)
{
    generateLeftChain(
        node, [](const SyntaxNode* n) { return n && n->kind == NodeKind::Operator && n->op == ';'; },
        [](const SyntaxNode&) {});
}

void CodeGenerator::generateCall(const SyntaxNode& node)
{
    expectChildren(node, 1, 2);
    const SyntaxNode* name = node.child(0);
    if (!name || name->kind != NodeKind::FunctionName) RaiseCompileError(kInvalidNode);
    const int32_t function = generate(name, nullptr);
    int32_t count = 0;
    if (const SyntaxNode* arguments = node.child(1))
    {
        count = 1;
        generate(arguments, &count);
    }
    asm_.emitInt(Op::PUSHINT, count);
    // System ids are -2 and below; everything else is a user function number.
    asm_.emitInt(function >= -1 ? Op::CALL : Op::CALLSYS, function);
}

// Only the chosen branch is evaluated.
void CodeGenerator::generateConditional(const SyntaxNode& node)
{
    expectChildren(node, 3);
    generate(node.child(0), nullptr);
    const int32_t elseLabel = asm_.newLabel();
    asm_.emitInt(Op::JMPFALSE, elseLabel);
    generate(node.child(1), nullptr);
    const int32_t endLabel = asm_.newLabel();
    asm_.emitInt(Op::JMP, endLabel);
    asm_.defineLabel(elseLabel);
    generate(node.child(2), nullptr);
    asm_.defineLabel(endLabel);
}

void CodeGenerator::generateElement(const SyntaxNode& node)
{
    expectChildren(node, 2);
    const Slot slot = resolve(node.child(0));
    generate(node.child(1), nullptr);
    asm_.emitInt(slot.local ? Op::PUSHLOCALELEM : Op::PUSHGLOBALELEM, slot.number);
}

// The value of "$a++" is the value after the change: read, step, store, read again.
void CodeGenerator::generateStep(const SyntaxNode& node, Op op)
{
    expectChildren(node, 1);
    const SyntaxNode* target = node.child(0);
    generate(target, nullptr);
    asm_.emitInt(Op::PUSHINT, 1);
    asm_.emit(op);
    store(target);
    generate(target, nullptr);
}

CodeGenerator::CaseConstant CodeGenerator::foldConstant(const SyntaxNode* node)
{
    if (!node) RaiseCompileError(kInvalidNode);
    CaseConstant constant;
    switch (node->kind)
    {
    case NodeKind::IntLiteral:
        constant.kind = CaseConstant::Kind::Integer;
        constant.integer = node->intValue;
        return constant;
    case NodeKind::FloatLiteral:
        constant.kind = CaseConstant::Kind::Float;
        constant.real = node->floatValue;
        return constant;
    case NodeKind::StringLiteral:
        constant.kind = CaseConstant::Kind::String;
        constant.text = DecodeStringLiteral(node->text());
        return constant;
    case NodeKind::Operator:
    {
        const SyntaxNode* operand = node->childCount() == 1 ? node->child(0) : nullptr;
        if (node->op != T_NEGATE || !operand) RaiseCompileError(kNonConstantExpression);
        if (operand->kind == NodeKind::IntLiteral)
        {
            constant.kind = CaseConstant::Kind::Integer;
            constant.integer = static_cast<int32_t>(0u - static_cast<uint32_t>(operand->intValue));
            return constant;
        }
        if (operand->kind == NodeKind::FloatLiteral)
        {
            constant.kind = CaseConstant::Kind::Float;
            constant.real = operand->floatValue * -1.0;
            return constant;
        }
        RaiseCompileError(kNonConstantExpression);
    }
    default:
        RaiseCompileError(kInvalidNode);
    }
}

} // namespace tn
