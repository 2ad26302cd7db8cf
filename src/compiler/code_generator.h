// CodeGenerator: walks the syntax tree of one top-level statement and emits
// its instructions through the Assembler. Expressions (values, calls,
// operators, case-label folding) are in codegen_expressions.cpp, statements
// in codegen_statements.cpp.
//
// Failures are raised as integer compile error codes (compile_errors.h); the
// statement that raised one is abandoned along with the whole compile, so no
// state is restored on the way out.
//
// Left-nested chains (statement sequences, argument lists, runs of infix
// operators such as 1+1+...+1) are walked iteratively: the parser builds them
// without growing its own stack, so their depth is bounded only by the code.
#pragma once

#include "compiler/assembler.h"
#include "compiler/syntax_tree.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace tn
{

class CodeGenerator
{
  public:
    explicit CodeGenerator(Assembler& assembler) : asm_(assembler) {}

    // Forgets everything of a previous compile.
    void reset();

    // Emits [node]; returns the function number for a FunctionName node, else 0.
    // [argumentCounter], when given, is raised by one per "," list node.
    int32_t generate(const SyntaxNode* node, int32_t* argumentCounter);

    bool inFunction() const noexcept { return inFunction_; }

  private:
    // A variable resolved by the scope rule.
    struct Slot
    {
        int32_t number = 0; // 0: none
        bool local = false;
    };

    // A case label's folded constant.
    struct CaseConstant
    {
        enum class Kind : uint8_t
        {
            None, // default label
            Integer,
            Float,
            String,
        };
        Kind kind = Kind::None;
        int32_t integer = 0;
        double real = 0.0;
        std::string text;
    };

    struct CaseEntry
    {
        int32_t label;
        CaseConstant constant;
    };

    // ---- Expressions ----
    void generateLeaf(const SyntaxNode& node);
    void generateOperator(const SyntaxNode& node, int32_t* argumentCounter);
    template <class Continues, class After>
    void generateLeftChain(const SyntaxNode& node, Continues continues, After after);
    void generateInfixChain(const SyntaxNode& node);
    void generateList(const SyntaxNode& node, int32_t* argumentCounter);
    void generateCall(const SyntaxNode& node);
    void generateConditional(const SyntaxNode& node);
    void generateElement(const SyntaxNode& node);
    void generateStep(const SyntaxNode& node, Op op);
    void emitStringLiteral(std::string_view tokenText);
    CaseConstant foldConstant(const SyntaxNode* node);
    Slot resolve(const SyntaxNode* variable);
    void pushReference(Slot slot);

    // ---- Statements ----
    // Handles a statement operator; false when [node]'s code is not one.
    bool generateStatement(const SyntaxNode& node);
    void generateSequence(const SyntaxNode& node);
    void generateAssignment(const SyntaxNode& node);
    void generateCompoundAssignment(const SyntaxNode& node, Op op);
    void store(const SyntaxNode* target);
    void generateIf(const SyntaxNode& node);
    void generateWhile(const SyntaxNode& node);
    void generateFor(const SyntaxNode& node);
    void generateSwitch(const SyntaxNode& node);
    void generateCaseLabel(const SyntaxNode& node);
    void generateFunction(const SyntaxNode& node);
    void generateGlobal(const SyntaxNode& node);
    void generateReturn(const SyntaxNode& node);

    // Appends the items of a left-nested [op] list to spine_, in source order.
    void collectList(const SyntaxNode* list, int32_t op);
    static void expectChildren(const SyntaxNode& node, size_t count);
    static void expectChildren(const SyntaxNode& node, size_t least, size_t most);

    Assembler& asm_;
    bool inFunction_ = false;
    std::unordered_set<std::string, NameHash, std::equal_to<>> functionGlobals_;
    int32_t continueLabel_ = -1;
    int32_t breakLabel_ = -1;
    Slot switchSubject_;
    std::vector<CaseEntry> cases_;
    // Scratch stack of the iterative walks; each walk works above the size it
    // found, so nested walks share the storage.
    std::vector<const SyntaxNode*> spine_;
};

} // namespace tn
