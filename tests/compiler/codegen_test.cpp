// Code generation from hand-built syntax trees: instruction goldens for each
// construct, the scope rule, the generator's own error codes, and trees too
// deep to walk recursively.
#include "compiler/assembler.h"
#include "compiler/code_generator.h"
#include "compiler/compile_errors.h"
#include "compiler/node_builder.h"
#include "compiler/parser.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

namespace
{

// One output block around the statements added to it; all nodes on line 1.
class Generated
{
  public:
    Generated()
    {
        assembler_.reset(&image_);
        functions_.registerFunctions(assembler_);
        generator_.reset();
        assembler_.setSourceFile("t.tn");
        assembler_.emitBlockHeader(1, true);
        end_ = assembler_.newLabel();
        assembler_.emitInt(Op::JMP, end_);
    }

    Generated& add(NodePtr statement)
    {
        generator_.generate(statement.get(), nullptr);
        FreeSyntaxTree(std::move(statement));
        return *this;
    }

    // The code raised by generating [statement], 0 when none.
    int errorOf(NodePtr statement)
    {
        try
        {
            generator_.generate(statement.get(), nullptr);
        }
        catch (int code)
        {
            return code;
        }
        return 0;
    }

    ProgramImage& finish()
    {
        assembler_.defineLabel(end_);
        assembler_.finish();
        image_.scan();
        return image_;
    }

    std::string listing() { return Disassemble(finish()); }

    std::string run()
    {
        finish();
        VirtualMachine vm;
        vm.attach(&image_);
        std::string message;
        if (vm.run(message) != ereturnvalue::OK) return "run failed: " + message;
        return std::string(image_.outputBuffer(0)->view());
    }

    Assembler& assembler() { return assembler_; }
    CodeGenerator& generator() { return generator_; }

  private:
    ProgramImage image_;
    VirtualMachine functions_;
    Assembler assembler_;
    CodeGenerator generator_{assembler_};
    int32_t end_ = 0;
};

NodePtr Echo(NodePtr argument)
{
    return Stmt(Call("echo", std::move(argument)));
}

} // namespace

// ---- Goldens ----

TEST(CodegenGolden, CallsPushArgumentsThenCount)
{
    Generated g;
    g.add(Node(T_FUNCTION, Name("f"), Empty()));
    g.add(Stmt(Call("f", Args(Int(1), Int(2), Int(3)))));
    g.add(Stmt(Call("f")));
    g.add(Stmt(Call("echo", Args(Var("a"), Call("f")))));
    EXPECT_EQ(g.listing(), R"(0000 OUTBLOCK 1
0005 JMP 84
0010 LINE 16777217
0015 JMP 11
0020 ENTER 0
0025 PUSHINT 0
0030 RETURN
0031 PUSHINT 1
0036 PUSHINT 2
0041 PUSHINT 3
0046 PUSHINT 3
0051 CALL -36
0056 POP
0057 PUSHINT 0
0062 CALL -47
0067 POP
0068 PUSHGLOBALREF 1
0073 PUSHINT 0
0078 CALL -63
0083 PUSHINT 2
0088 CALLSYS -4097
0093 POP
)");
}

TEST(CodegenGolden, ForLoopReevaluatesTheEndAndStepsByOne)
{
    Generated g;
    g.add(Node(T_FOR, Var("i"), Int(1), Var("n"), Echo(Var("i"))));
    EXPECT_EQ(g.listing(), R"(0000 OUTBLOCK 1
0005 JMP 68
0010 LINE 16777217
0015 PUSHINT 1
0020 POPGLOBAL 1
0025 PUSHGLOBALREF 1
0030 PUSHGLOBALREF 2
0035 LE
0036 JMPFALSE 37
0041 PUSHGLOBALREF 1
0046 PUSHINT 1
0051 CALLSYS -4097
0056 POP
0057 PUSHGLOBALREF 1
0062 PUSHINT 1
0067 ADD
0068 POPGLOBAL 1
0073 JMP -53
)");
}

TEST(CodegenGolden, SwitchDispatchesAfterTheBodyInCaseOrder)
{
    Generated g;
    g.add(Node(T_SWITCH, Var("x"),
               Seq(Node(T_CASE, Int(1)), Echo(Str("\"one\"")), Node(T_CASE, Str("\"a\"")), Node(T_DEFAULT),
                   Node(T_CASE, Node(T_NEGATE, Float(2.5))), Node(T_BREAK), Node(T_DEFAULT))));
    // The second default replaces the first; the constant is the left operand of EQ.
    EXPECT_EQ(g.listing(), R"(0000 OUTBLOCK 1
0005 JMP 91
0010 LINE 16777217
0015 JMP 26
0020 PUSHSTR "one"
0025 PUSHINT 1
0030 CALLSYS -4097
0035 POP
0036 JMP 60
0041 JMP 55
0046 PUSHINT 1
0051 PUSHGLOBALREF 1
0056 EQ
0057 JMPTRUE -42
0062 PUSHSTR "a"
0065 PUSHGLOBALREF 1
0070 EQ
0071 JMPTRUE -40
0076 PUSHFLOAT -2.5
0085 PUSHGLOBALREF 1
0090 EQ
0091 JMPTRUE -60
0096 JMP -60
)");
}

TEST(CodegenGolden, FunctionDefinitionPushesFlagsLastParameterFirst)
{
    Generated g;
    g.add(Node(T_FUNCTION, Name("g"),
               Seq(Node(T_GLOBAL, Var("G")), Node('=', Var("G"), Var("a")), Node('=', Var("b"), Var("c"))),
               Args(Var("a"), Var("b", true), Var("c"))));
    g.add(Stmt(Call("g", Args(Int(1), Var("v"), Int(3)))));
    EXPECT_EQ(g.listing(), R"(0000 OUTBLOCK 1
0005 JMP 82
0010 LINE 16777217
0015 JMP 46
0020 PUSHINT 0
0025 PUSHINT 1
0030 PUSHINT 0
0035 ENTER 3
0040 PUSHLOCALREF 1
0045 POPGLOBAL 1
0050 PUSHLOCALREF 3
0055 POPLOCAL 2
0060 PUSHINT 0
0065 RETURN
0066 PUSHINT 1
0071 PUSHGLOBALREF 2
0076 PUSHINT 3
0081 PUSHINT 3
0086 CALL -71
0091 POP
)");
}

TEST(CodegenGolden, IfWithAndWithoutElse)
{
    Generated g;
    g.add(Node(T_IF, Var("a"), Echo(Int(1)), Echo(Int(2))));
    g.add(Node(T_IF, Var("b"), Echo(Int(3))));
    EXPECT_EQ(g.listing(), R"(0000 OUTBLOCK 1
0005 JMP 78
0010 LINE 16777217
0015 PUSHGLOBALREF 1
0020 JMPFALSE 21
0025 PUSHINT 1
0030 PUSHINT 1
0035 CALLSYS -4097
0040 POP
0041 JMP 16
0046 PUSHINT 2
0051 PUSHINT 1
0056 CALLSYS -4097
0061 POP
0062 PUSHGLOBALREF 2
0067 JMPFALSE 16
0072 PUSHINT 3
0077 PUSHINT 1
0082 CALLSYS -4097
0087 POP
)");
}

TEST(CodegenGolden, WhileWithBreakAndContinue)
{
    Generated g;
    g.add(Node(T_WHILE, Node('<', Var("i"), Int(10)),
               Seq(Node(T_ADD_ASSIGN, Var("i"), Int(1)), Node(T_IF, Node(T_EQ, Var("i"), Int(5)), Node(T_CONTINUE)),
                   Node(T_IF, Node(T_EQ, Var("i"), Int(8)), Node(T_BREAK)))));
    // continue goes back to the condition, break past the loop.
    EXPECT_EQ(g.listing(), R"(0000 OUTBLOCK 1
0005 JMP 84
0010 LINE 16777217
0015 PUSHGLOBALREF 1
0020 PUSHINT 10
0025 LT
0026 JMPFALSE 63
0031 PUSHGLOBALREF 1
0036 PUSHINT 1
0041 ADD
0042 POPGLOBAL 1
0047 PUSHGLOBALREF 1
0052 PUSHINT 5
0057 EQ
0058 JMPFALSE 5
0063 JMP -53
0068 PUSHGLOBALREF 1
0073 PUSHINT 8
0078 EQ
0079 JMPFALSE 5
0084 JMP 5
0089 JMP -79
)");
}

TEST(CodegenGolden, LineNotedOncePerLineAndNoteTextsDropped)
{
    Generated g;
    g.add(AtLine(1, Node('=', Var("a", false, 1), AtLine(2, Node('+', Int(1, 2), Int(2, 3))))));
    g.add(AtLine(3, Node(T_FOR, Var("i"), Int(1, 3), Int(2, 3), AtLine(3, Empty()))));
    // Line 1 for the assignment, 2 for the sum, 3 for its right operand; the
    // for statement stays on line 3 and adds no LINE; the NOTEs leave nothing.
    EXPECT_EQ(g.listing(), R"(0000 OUTBLOCK 1
0005 JMP 78
0010 LINE 16777217
0015 LINE 16777218
0020 PUSHINT 1
0025 LINE 16777219
0030 PUSHINT 2
0035 ADD
0036 POPGLOBAL 1
0041 PUSHINT 1
0046 POPGLOBAL 2
0051 PUSHGLOBALREF 2
0056 PUSHINT 2
0061 LE
0062 JMPFALSE 21
0067 PUSHGLOBALREF 2
0072 PUSHINT 1
0077 ADD
0078 POPGLOBAL 2
0083 JMP -37
)");
}

TEST(CodegenGolden, StringTextStopsAtAZeroByte)
{
    Generated g;
    g.add(Echo(Raw(std::string("ab\0cd", 5))));
    EXPECT_EQ(g.run(), "ab");
}

// ---- Scope rule ----

TEST(CodegenScope, FunctionBodiesUseLocalsUnlessDeclaredGlobal)
{
    Generated g;
    g.add(Node('=', Var("q"), Int(7)));
    g.add(Node(
        T_FUNCTION, Name("f"),
        Seq(Node('=', Var("q"), Var("p")), Node(T_GLOBAL, Args(Var("g"), Var("q"))), Node('=', Var("q"), Var("p"))),
        Var("p")));
    g.add(Node(T_FUNCTION, Name("h"), Node('=', Var("g"), Var("q"))));
    const std::string listing = g.listing();
    // Top level: $q is global 1. In f: $p is local 1, $q local 2 until the
    // global declaration, then global 1; $g becomes global 2. In h the
    // declaration of f no longer applies and locals restart at 1.
    EXPECT_NE(listing.find("PUSHLOCALREF 1\n0045 POPLOCAL 2\n0050 PUSHLOCALREF 1\n0055 POPGLOBAL 1\n"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find("ENTER 0\n0076 PUSHLOCALREF 1\n0081 POPLOCAL 2\n"), std::string::npos) << listing;
    EXPECT_EQ(g.generator().inFunction(), false);
}

// ---- Errors raised by the generator ----

TEST(CodegenErrors, EachMistakeRaisesItsCode)
{
    struct Case
    {
        const char* what;
        NodePtr tree;
        int code;
    };
    Case cases[] = {
        {"constant as assignment target", Node('=', Int(1), Int(2)), kInvalidNode},
        {"raw string as case constant", Node(T_SWITCH, Var("x"), Node(T_CASE, Raw("x"))), kInvalidNode},
        {"variable as case constant", Node(T_SWITCH, Var("x"), Node(T_CASE, Var("y"))), kInvalidNode},
        {"call without a name node", Stmt(Node(T_CALL, Int(1))), kInvalidNode},
        {"while with one operand", Node(T_WHILE, Int(1)), kInvalidParameters},
        {"sum with one operand", Stmt(Node('+', Int(1))), kInvalidParameters},
        {"break with an operand", Node(T_WHILE, Int(1), Node(T_BREAK, Int(1))), kInvalidParameters},
        {"percent token code", Stmt(Node(T_PERCENT, Int(1), Int(2))), kUnknownOperator},
        {"unheard-of code", Stmt(Node(999, Int(1))), kUnknownOperator},
        {"break at top level", Node(T_BREAK), kMisplacedBreak},
        {"continue in a switch outside loops", Node(T_SWITCH, Var("x"), Node(T_CONTINUE)), kMisplacedContinue},
        {"bad character", Bad('@'), kSyntaxError},
        {"defining a system function", Node(T_FUNCTION, Name("echo"), Empty()), kFunctionAlreadyDefined},
        {"nested definition", Node(T_FUNCTION, Name("outer"), Node(T_FUNCTION, Name("inner"), Empty())),
         kNestedFunctionDefinition},
        {"global at top level", Node(T_GLOBAL, Var("g")), kStatementOutsideFunction},
        {"case outside a switch", Node(T_CASE, Int(1)), kMisplacedCase},
        {"default inside a loop only", Node(T_WHILE, Int(1), Node(T_DEFAULT)), kMisplacedCase},
        {"negated sum as case", Node(T_SWITCH, Var("x"), Node(T_CASE, Node(T_NEGATE, Node('+', Int(1), Int(1))))),
         kNonConstantExpression},
        {"sum as case", Node(T_SWITCH, Var("x"), Node(T_CASE, Node('+', Int(1), Int(1)))), kNonConstantExpression},
        {"double negation as case", Node(T_SWITCH, Var("x"), Node(T_CASE, Node(T_NEGATE, Node(T_NEGATE, Int(1))))),
         kNonConstantExpression},
    };
    for (Case& c : cases)
    {
        Generated g;
        EXPECT_EQ(g.errorOf(std::move(c.tree)), c.code) << c.what;
    }
}

TEST(CodegenErrors, SecondDefinitionOfANameFails)
{
    Generated g;
    g.add(Node(T_FUNCTION, Name("f"), Empty()));
    EXPECT_EQ(g.errorOf(Node(T_FUNCTION, Name("f"), Empty())), kFunctionAlreadyDefined);
}

TEST(CodegenErrors, CaseInsideALoopInsideASwitchBelongsToTheSwitch)
{
    Generated g;
    EXPECT_EQ(g.errorOf(Node(T_SWITCH, Var("x"), Node(T_WHILE, Int(0), Node(T_CASE, Int(1))))), 0);
    // After the switch, the loop alone does not make a case legal.
    EXPECT_EQ(g.errorOf(Node(T_WHILE, Int(0), Node(T_CASE, Int(1)))), kMisplacedCase);
}

// ---- Depth ----

TEST(CodegenDepth, LongLeftNestedChainsDoNotRecurse)
{
    constexpr int kTerms = 200000;
    NodePtr sum = Int(1);
    for (int i = 1; i < kTerms; ++i)
        sum = Node('+', std::move(sum), Int(1));
    NodePtr statements = Empty();
    for (int i = 0; i < kTerms; ++i)
        statements = Node(';', std::move(statements), Node(T_ADD_ASSIGN, Var("n"), Int(2)));
    NodePtr arguments = Str("\"a\"");
    for (int i = 1; i < 5000; ++i)
        arguments = Node(',', std::move(arguments), Str("\"a\""));

    Generated g;
    g.add(Echo(std::move(sum)));
    g.add(Echo(Str("\" \"")));
    g.add(std::move(statements));
    g.add(Echo(Var("n")));
    g.add(Echo(Str("\" \"")));
    g.add(Stmt(Call("echo", std::move(arguments))));
    EXPECT_EQ(g.run(), "200000 400000 " + std::string(5000, 'a'));
}
