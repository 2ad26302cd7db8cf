// Code generation from hand-built syntax trees: instruction goldens for each
// construct, the scope rule, the generator's own error codes, and trees too
// deep to walk recursively.
#include "compiler/assembler.h"
#include "hostlib/host_functions.h"
#include "compiler/code_generator.h"
#include "compiler/compile_errors.h"
#include "compiler/compile_run.h"
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
        for (const FunctionSet* set : functions_)
            set->registerAll(assembler_);
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
        catch (const CompileError& error)
        {
            return error.code;
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

    std::string code() { return Instructions(finish()); }

    std::string run()
    {
        finish();
        VirtualMachine vm{HostFunctionSets()};
        vm.attach(&image_);
        std::string message;
        if (vm.run(message) != ereturnvalue::OK) return "run failed: " + message;
        return std::string(image_.outputBuffer(0)->view());
    }

    CodeGenerator& generator() { return generator_; }

  private:
    ProgramImage image_;
    const FunctionSets& functions_ = HostFunctionSets();
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
    g.add(Echo(Node(T_NEGATE, Int(5))));
    EXPECT_EQ(g.code(),
              "OUTBLOCK 1, JMP 101, LINE 16777217, "
              "JMP 11, ENTER 0, PUSHINT 0, RETURN, "                                  // function f() { ; }
              "PUSHINT 1, PUSHINT 2, PUSHINT 3, PUSHINT 3, CALL -36, POP, "           // f(1, 2, 3);
              "PUSHINT 0, CALL -47, POP, "                                            // f();
              "PUSHGLOBALREF 1, PUSHINT 0, CALL -63, PUSHINT 2, CALLSYS -4097, POP, " // echo($a, f());
              "PUSHINT 5, NEG, PUSHINT 1, CALLSYS -4097, POP"); // echo(-5): negation stays outside case labels
}

TEST(CodegenGolden, ForLoopReevaluatesTheEndAndStepsByOne)
{
    Generated g;
    g.add(Node(T_FOR, Var("i"), Int(1), Var("n"), Echo(Var("i"))));
    EXPECT_EQ(g.code(), "OUTBLOCK 1, JMP 68, LINE 16777217, "
                        "PUSHINT 1, POPGLOBAL 1, "                                // $i = 1
                        "PUSHGLOBALREF 1, PUSHGLOBALREF 2, LE, JMPFALSE 37, "     // $i <= $n, read every round
                        "PUSHGLOBALREF 1, PUSHINT 1, CALLSYS -4097, POP, "        // echo($i);
                        "PUSHGLOBALREF 1, PUSHINT 1, ADD, POPGLOBAL 1, JMP -53"); // $i = $i + 1, back to the test
}

TEST(CodegenGolden, SwitchDispatchesAfterTheBodyInCaseOrder)
{
    Generated g;
    g.add(Node(T_SWITCH, Var("x"),
               Seq(Node(T_CASE, Int(1)), Echo(Str("\"one\"")), Node(T_CASE, Str("\"a\"")), Node(T_DEFAULT),
                   Node(T_CASE, Node(T_NEGATE, Float(2.5))), Node(T_BREAK), Node(T_DEFAULT))));
    // The second default replaces the first; the constant is the left operand of EQ.
    EXPECT_EQ(g.code(), "OUTBLOCK 1, JMP 91, LINE 16777217, "
                        "JMP 26, "                                         // over the body to the dispatch
                        "PUSHSTR \"one\", PUSHINT 1, CALLSYS -4097, POP, " // case 1: echo("one");
                        "JMP 60, "                                         // case "a": default: case -2.5: break;
                        "JMP 55, "                                         // default: the body ends past the dispatch
                        "PUSHINT 1, PUSHGLOBALREF 1, EQ, JMPTRUE -42, "
                        "PUSHSTR \"a\", PUSHGLOBALREF 1, EQ, JMPTRUE -40, "
                        "PUSHFLOAT -2.5, PUSHGLOBALREF 1, EQ, JMPTRUE -60, " // the negation is folded
                        "JMP -60");
}

TEST(CodegenGolden, FunctionDefinitionPushesFlagsLastParameterFirst)
{
    Generated g;
    g.add(Node(T_FUNCTION, Name("g"),
               Seq(Node(T_GLOBAL, Var("G")), Node('=', Var("G"), Var("a")), Node('=', Var("b"), Var("c"))),
               Args(Var("a"), Var("b", true), Var("c"))));
    g.add(Stmt(Call("g", Args(Int(1), Var("v"), Int(3)))));
    EXPECT_EQ(g.code(), "OUTBLOCK 1, JMP 82, LINE 16777217, "
                        "JMP 46, PUSHINT 0, PUSHINT 1, PUSHINT 0, ENTER 3, " // function g($a, &$b, $c)
                        "PUSHLOCALREF 1, POPGLOBAL 1, "                      // global $G; $G = $a;
                        "PUSHLOCALREF 3, POPLOCAL 2, "                       // $b = $c;
                        "PUSHINT 0, RETURN, "
                        "PUSHINT 1, PUSHGLOBALREF 2, PUSHINT 3, PUSHINT 3, CALL -71, POP"); // g(1, $v, 3);
}

TEST(CodegenGolden, IfWithAndWithoutElse)
{
    Generated g;
    g.add(Node(T_IF, Var("a"), Echo(Int(1)), Echo(Int(2))));
    g.add(Node(T_IF, Var("b"), Echo(Int(3))));
    EXPECT_EQ(g.code(),
              "OUTBLOCK 1, JMP 78, LINE 16777217, "
              "PUSHGLOBALREF 1, JMPFALSE 21, PUSHINT 1, PUSHINT 1, CALLSYS -4097, POP, JMP 16, " // if ($a) echo(1);
              "PUSHINT 2, PUSHINT 1, CALLSYS -4097, POP, "                                       // else echo(2);
              "PUSHGLOBALREF 2, JMPFALSE 16, PUSHINT 3, PUSHINT 1, CALLSYS -4097, POP");         // if ($b) echo(3);
}

TEST(CodegenGolden, WhileWithBreakAndContinue)
{
    Generated g;
    g.add(Node(T_WHILE, Node('<', Var("i"), Int(10)),
               Seq(Node(T_ADD_ASSIGN, Var("i"), Int(1)), Node(T_IF, Node(T_EQ, Var("i"), Int(5)), Node(T_CONTINUE)),
                   Node(T_IF, Node(T_EQ, Var("i"), Int(8)), Node(T_BREAK)))));
    // continue goes back to the condition, break past the loop.
    EXPECT_EQ(g.code(), "OUTBLOCK 1, JMP 84, LINE 16777217, "
                        "PUSHGLOBALREF 1, PUSHINT 10, LT, JMPFALSE 63, "        // while ($i < 10)
                        "PUSHGLOBALREF 1, PUSHINT 1, ADD, POPGLOBAL 1, "        // $i += 1;
                        "PUSHGLOBALREF 1, PUSHINT 5, EQ, JMPFALSE 5, JMP -53, " // if ($i == 5) continue;
                        "PUSHGLOBALREF 1, PUSHINT 8, EQ, JMPFALSE 5, JMP 5, "   // if ($i == 8) break;
                        "JMP -79");
}

TEST(CodegenGolden, LineNotedOncePerLineAndNoteTextsDropped)
{
    Generated g;
    g.add(AtLine(1, Node('=', Var("a"), AtLine(2, Node('+', Int(1, 2), Int(2, 3))))));
    g.add(AtLine(3, Node(T_FOR, Var("i"), Int(1, 3), Int(2, 3), AtLine(3, Empty()))));
    // Line 1 for the assignment, 2 for the sum, 3 for its right operand; the
    // for statement stays on line 3 and adds no LINE; the NOTEs leave nothing.
    EXPECT_EQ(g.code(), "OUTBLOCK 1, JMP 78, LINE 16777217, "
                        "LINE 16777218, PUSHINT 1, LINE 16777219, PUSHINT 2, ADD, POPGLOBAL 1, " // $a = 1 + 2
                        "PUSHINT 1, POPGLOBAL 2, PUSHGLOBALREF 2, PUSHINT 2, LE, JMPFALSE 21, "  // for ($i = 1 to 2)
                        "PUSHGLOBALREF 2, PUSHINT 1, ADD, POPGLOBAL 2, JMP -37");
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
    // Top level: $q is global 1. In f: $p is local 1, $q local 2 until the
    // global declaration, then global 1; $g becomes global 2. In h the
    // declaration of f no longer applies and locals restart at 1.
    EXPECT_EQ(g.code(), "OUTBLOCK 1, JMP 82, LINE 16777217, "
                        "PUSHINT 7, POPGLOBAL 1, "      // $q = 7;
                        "JMP 36, PUSHINT 0, ENTER 1, "  // function f($p)
                        "PUSHLOCALREF 1, POPLOCAL 2, "  // $q = $p;
                        "PUSHLOCALREF 1, POPGLOBAL 1, " // global $g, $q; $q = $p;
                        "PUSHINT 0, RETURN, "
                        "JMP 21, ENTER 0, PUSHLOCALREF 1, POPLOCAL 2, PUSHINT 0, RETURN"); // function h() { $g = $q; }
    EXPECT_EQ(g.generator().inFunction(), false);
}

// ---- Errors raised by the generator ----
// Trees the parser never builds; the others are checked with their messages
// and lines through the compile driver.

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
        {"variable as case constant", Node(T_SWITCH, Var("x"), Node(T_CASE, Var("y"))), kInvalidNode},
        {"call without a name node", Stmt(Node(T_CALL, Int(1))), kInvalidNode},
        {"while with one operand", Node(T_WHILE, Int(1)), kInvalidParameters},
        {"sum with one operand", Stmt(Node('+', Int(1))), kInvalidParameters},
        {"break with an operand", Node(T_WHILE, Int(1), Node(T_BREAK, Int(1))), kInvalidParameters},
        {"percent token code", Stmt(Node(T_PERCENT, Int(1), Int(2))), kUnknownOperator},
        {"unheard-of code", Stmt(Node(999, Int(1))), kUnknownOperator},
        {"default inside a loop only", Node(T_WHILE, Int(1), Node(T_DEFAULT)), kMisplacedCase},
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
