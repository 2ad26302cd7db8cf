// Code generation goldens from source text: the instructions of each
// construct, which compiled files keep, so their layout must not drift.
#include "compiler/compile_run.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

TEST(CodegenGolden, InstructionsOfEachConstruct)
{
    // Each row is one block on line 1: its header, the jump over it and the first LINE are left out.
    const std::pair<const char*, const char*> rows[] = {
        // arguments are pushed first, then their count; echo(-5): the negation is not folded outside case labels
        {"function f() { ; } f(1, 2, 3); f(); echo($a, f()); echo(-5);",
         "JMP 11, ENTER 0, PUSHINT 0, RETURN, "
         "PUSHINT 1, PUSHINT 2, PUSHINT 3, PUSHINT 3, CALL -36, POP, PUSHINT 0, CALL -47, POP, "
         "PUSHGLOBALREF 1, PUSHINT 0, CALL -63, PUSHINT 2, CALLSYS -4097, POP, PUSHINT 5, NEG, PUSHINT 1, CALLSYS "
         "-4097, POP"},
        // the end is read every round; the step is one
        {"for ($i = 1 to $n) echo($i);",
         "PUSHINT 1, POPGLOBAL 1, PUSHGLOBALREF 1, PUSHGLOBALREF 2, LE, JMPFALSE 37, "
         "PUSHGLOBALREF 1, PUSHINT 1, CALLSYS -4097, POP, PUSHGLOBALREF 1, PUSHINT 1, ADD, POPGLOBAL 1, JMP -53"},
        // the dispatch follows the body, in case order, constant on the left of EQ; the last default counts
        {"switch ($x) { case 1: echo(\"one\"); case \"a\": default: case -2.5: break; default: }",
         "JMP 26, PUSHSTR \"one\", PUSHINT 1, CALLSYS -4097, POP, JMP 60, JMP 55, "
         "PUSHINT 1, PUSHGLOBALREF 1, EQ, JMPTRUE -42, PUSHSTR \"a\", PUSHGLOBALREF 1, EQ, JMPTRUE -40, "
         "PUSHFLOAT -2.5, PUSHGLOBALREF 1, EQ, JMPTRUE -60, JMP -60"},
        // by-reference flags pushed last parameter first
        {"function g($a, &$b, $c) { global $G; $G = $a; $b = $c; } g(1, $v, 3);",
         "JMP 46, PUSHINT 0, PUSHINT 1, PUSHINT 0, ENTER 3, PUSHLOCALREF 1, POPGLOBAL 1, PUSHLOCALREF 3, POPLOCAL 2, "
         "PUSHINT 0, RETURN, PUSHINT 1, PUSHGLOBALREF 2, PUSHINT 3, PUSHINT 3, CALL -71, POP"},
        {"if ($a) echo(1); else echo(2); if ($b) echo(3);",
         "PUSHGLOBALREF 1, JMPFALSE 21, PUSHINT 1, PUSHINT 1, CALLSYS -4097, POP, JMP 16, "
         "PUSHINT 2, PUSHINT 1, CALLSYS -4097, POP, PUSHGLOBALREF 2, JMPFALSE 16, PUSHINT 3, PUSHINT 1, CALLSYS -4097, "
         "POP"},
        // continue goes back to the condition, break past the loop
        {"while ($i < 10) { $i += 1; if ($i == 5) continue; if ($i == 8) break; }",
         "PUSHGLOBALREF 1, PUSHINT 10, LT, JMPFALSE 63, PUSHGLOBALREF 1, PUSHINT 1, ADD, POPGLOBAL 1, "
         "PUSHGLOBALREF 1, PUSHINT 5, EQ, JMPFALSE 5, JMP -53, PUSHGLOBALREF 1, PUSHINT 8, EQ, JMPFALSE 5, JMP 5, JMP "
         "-79"},
        // a LINE for each new line; the for statement adds none and its NOTE leaves nothing
        {"$a =\n1 +\n2; for ($i = 1 to 2) ;", "LINE 16777218, PUSHINT 1, LINE 16777219, PUSHINT 2, ADD, POPGLOBAL 1, "
                                              "PUSHINT 1, POPGLOBAL 2, PUSHGLOBALREF 2, PUSHINT 2, LE, JMPFALSE 21, "
                                              "PUSHGLOBALREF 2, PUSHINT 1, ADD, POPGLOBAL 2, JMP -37"},
        // in f, $q is local until declared global; in h the declaration no longer applies
        {"$q = 7; function f($p) { $q = $p; global $g, $q; $q = $p; } function h() { $g = $q; }",
         "PUSHINT 7, POPGLOBAL 1, JMP 36, PUSHINT 0, ENTER 1, PUSHLOCALREF 1, POPLOCAL 2, PUSHLOCALREF 1, POPGLOBAL 1, "
         "PUSHINT 0, RETURN, JMP 21, ENTER 0, PUSHLOCALREF 1, POPLOCAL 2, PUSHINT 0, RETURN"},
    };
    for (const auto& [code, expected] : rows)
    {
        const CompileRun r = CompileBlocks({{1, 1, true, code}}, "page.htm", Runs::None);
        ASSERT_EQ(r.compileResult, ereturnvalue::OK) << code << ": " << r.compileMessage();
        const std::string head = "OUTBLOCK 1, JMP ";
        ASSERT_EQ(r.code.rfind(head, 0), 0u) << r.code;
        const size_t body = r.code.find(", LINE 16777217, ");
        ASSERT_NE(body, std::string::npos) << r.code;
        EXPECT_EQ(r.code.substr(body + 17), expected) << code;
        // The compiler recycles its syntax nodes: a second compile must not
        // differ. That one runs, every way the machine can run it.
        EXPECT_EQ(CompileBlocks({{1, 1, true, code}}, "page.htm").code, r.code) << code;
    }
}
