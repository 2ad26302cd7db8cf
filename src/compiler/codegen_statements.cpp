// Statement half of the code generator: assignments, control flow, switch
// dispatch, function definitions and global declarations.
#include "compiler/code_generator.h"

#include "compiler/compile_errors.h"
#include "compiler/tokens.h"

#include <algorithm>

namespace tn
{

namespace
{

// Remembers the break and continue targets of an enclosing construct and
// gives them back when the inner one is complete. After a failure the
// compile is abandoned and the generator reset, so nothing relies on the
// restore happening then.
class LabelScope
{
  public:
    LabelScope(int32_t& continueLabel, int32_t& breakLabel)
        : continueRef_(continueLabel), breakRef_(breakLabel), continueSaved_(continueLabel), breakSaved_(breakLabel)
    {
    }
    void restore() noexcept
    {
        continueRef_ = continueSaved_;
        breakRef_ = breakSaved_;
    }

  private:
    int32_t& continueRef_;
    int32_t& breakRef_;
    int32_t continueSaved_;
    int32_t breakSaved_;
};

Op compoundOpcode(int32_t op) noexcept
{
    switch (op)
    {
    case T_ADD_ASSIGN:
        return Op::ADD;
    case T_SUB_ASSIGN:
        return Op::SUB;
    case T_MUL_ASSIGN:
        return Op::MUL;
    case T_DIV_ASSIGN:
        return Op::DIV;
    case T_CAT_ASSIGN:
        return Op::CONCAT;
    default:
        return Op::MOD;
    }
}

} // namespace

bool CodeGenerator::generateStatement(const SyntaxNode& node)
{
    switch (node.op)
    {
    case T_EXPRSTMT:
        expectChildren(node, 1);
        generate(node.child(0), nullptr);
        asm_.emit(Op::POP);
        return true;
    case '=':
        generateAssignment(node);
        return true;
    case T_ADD_ASSIGN:
    case T_SUB_ASSIGN:
    case T_MUL_ASSIGN:
    case T_DIV_ASSIGN:
    case T_CAT_ASSIGN:
    case T_MOD_ASSIGN:
        generateCompoundAssignment(node, compoundOpcode(node.op));
        return true;
    case T_EXIT:
        expectChildren(node, 0);
        asm_.emit(Op::END);
        return true;
    case T_RETURN:
        generateReturn(node);
        return true;
    case T_BREAK:
        expectChildren(node, 0);
        if (breakLabel_ == -1) RaiseCompileError(kMisplacedBreak);
        asm_.emitInt(Op::JMP, breakLabel_);
        return true;
    case T_CONTINUE:
        expectChildren(node, 0);
        if (continueLabel_ == -1) RaiseCompileError(kMisplacedContinue);
        asm_.emitInt(Op::JMP, continueLabel_);
        return true;
    case T_GLOBAL:
        generateGlobal(node);
        return true;
    case T_IF:
        generateIf(node);
        return true;
    case T_WHILE:
        generateWhile(node);
        return true;
    case T_FOR:
        generateFor(node);
        return true;
    case T_SWITCH:
        generateSwitch(node);
        return true;
    case T_CASE:
    case T_DEFAULT:
        generateCaseLabel(node);
        return true;
    case T_FUNCTION:
        generateFunction(node);
        return true;
    default:
        return false;
    }
}

void CodeGenerator::collectList(const SyntaxNode* list, int32_t op)
{
    const size_t base = spine_.size();
    while (list && list->kind == NodeKind::Operator && list->op == op)
    {
        expectChildren(*list, 2);
        spine_.push_back(list->child(1));
        list = list->child(0);
    }
    spine_.push_back(list);
    std::reverse(spine_.begin() + static_cast<std::ptrdiff_t>(base), spine_.end());
}

void CodeGenerator::store(const SyntaxNode* target)
{
    if (target && target->kind == NodeKind::Variable)
    {
        const Slot slot = resolve(target);
        asm_.emitInt(slot.local ? Op::POPLOCAL : Op::POPGLOBAL, slot.number);
        return;
    }
    if (target && target->kind == NodeKind::Operator && target->op == T_INDEX)
    {
        expectChildren(*target, 2);
        const Slot slot = resolve(target->child(0));
        // The value is already on the stack, below the index.
        generate(target->child(1), nullptr);
        asm_.emitInt(slot.local ? Op::POPLOCALELEM : Op::POPGLOBALELEM, slot.number);
        return;
    }
    RaiseCompileError(kInvalidNode);
}

void CodeGenerator::generateAssignment(const SyntaxNode& node)
{
    expectChildren(node, 2);
    generate(node.child(1), nullptr);
    store(node.child(0));
}

// The target is read and stored separately, so an element's index is
// evaluated twice ("$a[f()] += 1" calls f twice).
void CodeGenerator::generateCompoundAssignment(const SyntaxNode& node, Op op)
{
    expectChildren(node, 2);
    generate(node.child(0), nullptr);
    generate(node.child(1), nullptr);
    asm_.emit(op);
    store(node.child(0));
}

// Allowed at top level too: the machine rejects it when it runs there.
void CodeGenerator::generateReturn(const SyntaxNode& node)
{
    expectChildren(node, 0, 1);
    if (const SyntaxNode* value = node.child(0))
        generate(value, nullptr);
    else
        asm_.emitInt(Op::PUSHINT, 0);
    asm_.emit(Op::RETURN);
}

void CodeGenerator::generateIf(const SyntaxNode& node)
{
    expectChildren(node, 2, 3);
    generate(node.child(0), nullptr);
    const int32_t elseLabel = asm_.newLabel();
    asm_.emitInt(Op::JMPFALSE, elseLabel);
    generate(node.child(1), nullptr);
    const SyntaxNode* elseStatement = node.child(2);
    if (!elseStatement)
    {
        asm_.defineLabel(elseLabel);
        return;
    }
    const int32_t endLabel = asm_.newLabel();
    asm_.emitInt(Op::JMP, endLabel);
    asm_.defineLabel(elseLabel);
    generate(elseStatement, nullptr);
    asm_.defineLabel(endLabel);
}

void CodeGenerator::generateWhile(const SyntaxNode& node)
{
    expectChildren(node, 2);
    const int32_t top = asm_.newLabel();
    const int32_t end = asm_.newLabel();
    LabelScope scope(continueLabel_, breakLabel_);
    continueLabel_ = top;
    breakLabel_ = end;
    asm_.defineLabel(top);
    generate(node.child(0), nullptr);
    asm_.emitInt(Op::JMPFALSE, end);
    generate(node.child(1), nullptr);
    asm_.emitInt(Op::JMP, top);
    asm_.defineLabel(end);
    scope.restore();
}

// The end expression is evaluated before every iteration; the step is +1.
void CodeGenerator::generateFor(const SyntaxNode& node)
{
    expectChildren(node, 4);
    const Slot variable = resolve(node.child(0));
    const Op storeOp = variable.local ? Op::POPLOCAL : Op::POPGLOBAL;
    asm_.emitString(Op::NOTE, "FOR");
    generate(node.child(1), nullptr);
    asm_.emitInt(storeOp, variable.number);

    const int32_t test = asm_.newLabel();
    const int32_t increment = asm_.newLabel();
    const int32_t end = asm_.newLabel();
    LabelScope scope(continueLabel_, breakLabel_);
    continueLabel_ = increment;
    breakLabel_ = end;

    asm_.emitString(Op::NOTE, "FOR TEST COND");
    asm_.defineLabel(test);
    pushReference(variable);
    generate(node.child(2), nullptr);
    asm_.emit(Op::LE);
    asm_.emitInt(Op::JMPFALSE, end);

    generate(node.child(3), nullptr);

    asm_.emitString(Op::NOTE, "FOR INC");
    asm_.defineLabel(increment);
    pushReference(variable);
    asm_.emitInt(Op::PUSHINT, 1);
    asm_.emit(Op::ADD);
    asm_.emitInt(storeOp, variable.number);
    asm_.emitInt(Op::JMP, test);
    asm_.defineLabel(end);
    scope.restore();
}

// The body comes first and collects its case labels; the dispatch after it
// compares the subject with each constant in order, so the first match wins
// and a later default replaces an earlier one.
void CodeGenerator::generateSwitch(const SyntaxNode& node)
{
    expectChildren(node, 2);
    asm_.emitString(Op::NOTE, "SWITCH");
    const Slot savedSubject = switchSubject_;
    const Slot subject = resolve(node.child(0));
    switchSubject_ = subject;
    const size_t firstCase = cases_.size();

    const int32_t dispatch = asm_.newLabel();
    const int32_t end = asm_.newLabel();
    // "continue" inside a switch still belongs to the enclosing loop.
    LabelScope scope(continueLabel_, breakLabel_);
    breakLabel_ = end;

    asm_.emitInt(Op::JMP, dispatch);
    generate(node.child(1), nullptr);
    asm_.emitInt(Op::JMP, end);

    asm_.defineLabel(dispatch);
    asm_.emitString(Op::NOTE, "CASE BLOCK");
    int32_t defaultLabel = -1;
    for (size_t i = firstCase; i < cases_.size(); ++i)
    {
        const CaseEntry& entry = cases_[i];
        switch (entry.constant.kind)
        {
        case CaseConstant::Kind::None:
            defaultLabel = entry.label;
            continue;
        case CaseConstant::Kind::Integer:
            asm_.emitInt(Op::PUSHINT, entry.constant.integer);
            break;
        case CaseConstant::Kind::String:
            asm_.emitString(Op::PUSHSTR, entry.constant.text);
            break;
        case CaseConstant::Kind::Float:
            asm_.emitDouble(Op::PUSHFLOAT, entry.constant.real);
            break;
        default:
            RaiseCompileError(kMisplacedCase);
        }
        pushReference(subject);
        asm_.emit(Op::EQ);
        asm_.emitInt(Op::JMPTRUE, entry.label);
    }
    if (defaultLabel != -1) asm_.emitInt(Op::JMP, defaultLabel);

    cases_.resize(firstCase);
    asm_.defineLabel(end);
    scope.restore();
    switchSubject_ = savedSubject;
}

// Labels emit no code; execution flows through them until a break.
void CodeGenerator::generateCaseLabel(const SyntaxNode& node)
{
    const bool isCase = node.op == T_CASE;
    expectChildren(node, isCase ? 1 : 0);
    asm_.emitString(Op::NOTE, isCase ? "CASE" : "DEFAULT");
    if (switchSubject_.number == 0 || breakLabel_ == -1) RaiseCompileError(kMisplacedCase);
    const int32_t label = asm_.newLabel();
    asm_.defineLabel(label);
    CaseEntry entry{label, {}};
    if (isCase) entry.constant = foldConstant(node.child(0));
    cases_.push_back(std::move(entry));
}

// Layout: JMP over; PUSHINT flag per parameter, last first; ENTER n; body;
// PUSHINT 0; RETURN. A call enters at the first PUSHINT.
void CodeGenerator::generateFunction(const SyntaxNode& node)
{
    expectChildren(node, 2, 3);
    if (inFunction_) RaiseCompileError(kNestedFunctionDefinition);
    inFunction_ = true;
    asm_.resetLocals();
    functionGlobals_.clear();

    const int32_t after = asm_.newLabel();
    asm_.emitInt(Op::JMP, after);

    const SyntaxNode* name = node.child(0);
    if (!name || name->kind != NodeKind::FunctionName) RaiseCompileError(kInvalidNode);
    const int32_t function = generate(name, nullptr);
    if (!asm_.bindFunction(function, asm_.offset())) RaiseCompileError(kFunctionAlreadyDefined);

    const size_t base = spine_.size();
    if (const SyntaxNode* parameters = node.child(2)) collectList(parameters, ',');
    // Parameters take slots 1..n in order; a repeated name keeps its first slot.
    for (size_t i = base; i < spine_.size(); ++i)
    {
        const SyntaxNode* parameter = spine_[i];
        if (!parameter || parameter->kind != NodeKind::Variable) RaiseCompileError(kInvalidNode);
        asm_.localSlot(parameter->text());
    }
    // The first parameter's flag ends on top of the stack.
    for (size_t i = spine_.size(); i-- > base;)
        asm_.emitInt(Op::PUSHINT, spine_[i]->byRef ? 1 : 0);
    asm_.emitInt(Op::ENTER, static_cast<int32_t>(spine_.size() - base));
    spine_.resize(base);

    generate(node.child(1), nullptr);
    asm_.emitInt(Op::PUSHINT, 0);
    asm_.emit(Op::RETURN);
    asm_.defineLabel(after);
    inFunction_ = false;
    functionGlobals_.clear();
}

void CodeGenerator::generateGlobal(const SyntaxNode& node)
{
    expectChildren(node, 1);
    if (!inFunction_) RaiseCompileError(kStatementOutsideFunction);
    const size_t base = spine_.size();
    collectList(node.child(0), ',');
    for (size_t i = base; i < spine_.size(); ++i)
    {
        const SyntaxNode* variable = spine_[i];
        if (!variable || variable->kind != NodeKind::Variable) RaiseCompileError(kInvalidNode);
        asm_.globalSlot(variable->text());
        functionGlobals_.emplace(variable->text());
    }
    spine_.resize(base);
}

} // namespace tn
