// Language behaviour end to end: source compiled by the real front end and
// back end, run on a core virtual machine, output compared.
#include "compiler/compile_run.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

// ---- Loops ----

TEST(LanguageLoops, ForReevaluatesTheEndAndLeavesTheVariablePastIt)
{
    EXPECT_EQ(RunOutput("for ($i = 1 to 3) echo($i); echo(\" \", $i);"), "123 4");
    EXPECT_EQ(RunOutput("$n = 2; for ($i = 1 to $n) { echo($i); $n = 4; }"), "1234");
    EXPECT_EQ(RunOutput("for ($i = 5 to 1) echo($i); echo($i);"), "5");
    // The start is stored once; the loop variable may be changed by the body.
    EXPECT_EQ(RunOutput("for ($i = 1 to 10) { echo($i); $i = $i + 2; }"), "14710");
}

TEST(LanguageLoops, BreakAndContinue)
{
    EXPECT_EQ(RunOutput("for ($i = 1 to 6) { if ($i == 2) continue; if ($i == 5) break; echo($i); } echo($i);"),
              "1345");
    EXPECT_EQ(RunOutput("$i = 0; while ($i < 6) { $i++; if ($i % 2) continue; echo($i); }"), "246");
    EXPECT_EQ(RunOutput("$i = 0; while (1) { $i += 1; if ($i > 3) break; } echo($i);"), "4");
    // Inner loops have their own targets; the outer ones come back after them.
    EXPECT_EQ(RunOutput("for ($a = 1 to 2) { for ($b = 1 to 5) { if ($b == 2) break; echo($a, $b); } "
                        "if ($a == 1) continue; echo(\"!\"); }"),
              "1121!");
}

// ---- Switch ----

TEST(LanguageSwitch, FallsThroughUntilBreak)
{
    const char* program = "switch ($x) { case 1: echo(1); case 2: echo(2); break; case 3: echo(3); }";
    EXPECT_EQ(RunOutput(std::string("$x = 1; ") + program), "12");
    EXPECT_EQ(RunOutput(std::string("$x = 2; ") + program), "2");
    EXPECT_EQ(RunOutput(std::string("$x = 3; ") + program), "3");
    EXPECT_EQ(RunOutput(std::string("$x = 9; ") + program + " echo(\"after\");"), "after");
}

TEST(LanguageSwitch, FirstMatchWinsAndTheLastDefaultCounts)
{
    EXPECT_EQ(RunOutput("$x = 1; switch ($x) { case 1: echo(\"a\"); break; case 1: echo(\"b\"); }"), "a");
    EXPECT_EQ(RunOutput("$x = 7; switch ($x) { default: echo(\"d1\"); break; case 1: ; default: echo(\"d2\"); }"),
              "d2");
    // A default before the matching case does not take precedence.
    EXPECT_EQ(RunOutput("$x = 2; switch ($x) { default: echo(\"d\"); break; case 2: echo(\"two\"); }"), "two");
}

TEST(LanguageSwitch, ConstantsOfEachKind)
{
    EXPECT_EQ(RunOutput("$s = \"a\\tb\"; switch ($s) { case \"a b\": echo(1); break; case \"a\\tb\": echo(2); }"), "2");
    EXPECT_EQ(RunOutput("$f = -2.5; switch ($f) { case 2.5: echo(1); break; case -2.5: echo(2); }"), "2");
    EXPECT_EQ(RunOutput("$n = -2; switch ($n) { case TRUE: echo(1); break; case NOTFOUND: echo(2); }"), "2");
    EXPECT_EQ(RunOutput("$n = -5; switch ($n) { case -5: echo(\"neg\"); }"), "neg");
}

TEST(LanguageSwitch, NestsAndLetsContinueReachTheLoop)
{
    EXPECT_EQ(RunOutput("for ($i = 1 to 3) { switch ($i) { case 2: continue; } echo($i); }"), "13");
    EXPECT_EQ(RunOutput("$a = 1; $b = 2; switch ($a) { case 1: switch ($b) { case 2: echo(\"in\"); break; } "
                        "echo(\"out\"); break; case 2: echo(\"no\"); }"),
              "inout");
}

// ---- Expressions ----

TEST(LanguageExpressions, BothOperandsOfLogicAreEvaluated)
{
    const std::string f = "function f($r) { echo(\"f\"); return $r; } ";
    EXPECT_EQ(RunOutput(f + "$x = 0 && f(1); echo($x);"), "f0");
    EXPECT_EQ(RunOutput(f + "$x = 1 || f(0); echo($x);"), "f1");
}

TEST(LanguageExpressions, ConditionalEvaluatesOnlyTheChosenBranch)
{
    const std::string f = "function f($r) { echo($r); return $r; } ";
    EXPECT_EQ(RunOutput(f + "$x = 1 ? f(\"a\") : f(\"b\"); echo($x);"), "aa");
    EXPECT_EQ(RunOutput(f + "$x = 0 ? f(\"a\") : f(\"b\"); echo($x);"), "bb");
}

TEST(LanguageExpressions, IncrementYieldsTheNewValue)
{
    EXPECT_EQ(RunOutput("$a = 1; $b = $a++; echo($a, $b);"), "22");
    EXPECT_EQ(RunOutput("$a = 1; $b = $a--; echo($a, $b);"), "00");
    EXPECT_EQ(RunOutput("$a[2] = 5; $a[2]++; echo($a[2]);"), "6");
}

TEST(LanguageExpressions, CompoundAssignments)
{
    EXPECT_EQ(RunOutput("$x = 17; $x %= 5; echo($x);"), "2");
    EXPECT_EQ(RunOutput("$x = 7; $x -= 2; $x *= 3; $x /= 4; echo($x);"), "3");
    EXPECT_EQ(RunOutput("$x = \"a\"; $x .= 1; $x .= \"b\"; echo($x);"), "a1b");
    EXPECT_EQ(RunOutput("$a[1] = 1; $a[1] += 41; echo($a[1]);"), "42");
}

TEST(LanguageExpressions, ElementIndexOfACompoundAssignmentRunsTwice)
{
    EXPECT_EQ(RunOutput("function f() { global $calls; $calls++; return 1; } $a[1] = 10; $a[f()] += 1; "
                        "echo($calls, \" \", $a[1]);"),
              "2 11");
}

TEST(LanguageExpressions, StringsAndNumbers)
{
    EXPECT_EQ(RunOutput("echo(\"a\\tb\\\\c\\\"\", |x\\ty|);"), "a\tb\\c\"x\\ty");
    EXPECT_EQ(RunOutput("echo(-5, \" \", 1 + 2 * 3 . 4, \" \", 7 / 2, \" \", 7 % 0);"), "-5 69 3 0");
    EXPECT_EQ(RunOutput("echo(1.5 . \"\", \" \", TRUE, FALSE, TIMEOUT, EVENTFAILED);"), "1.500000 10-1-5");
}

// ---- Functions ----

TEST(LanguageFunctions, ByReferenceAndByValueParameters)
{
    const std::string f = "function set(&$r, $v) { $r = $v; $v = 0; } ";
    EXPECT_EQ(RunOutput(f + "$a = 1; $b = 2; set($a, $b); echo($a, $b);"), "22");
    EXPECT_EQ(RunOutput("function swap(&$x, &$y) { $t = $x; $x = $y; $y = $t; } $p = 1; $q = 2; swap($p, $q); "
                        "echo($p, $q);"),
              "21");
}

TEST(LanguageFunctions, RecursionAndDefaultResult)
{
    EXPECT_EQ(RunOutput("function fib($n) { if ($n < 2) return $n; return fib($n - 1) + fib($n - 2); } echo(fib(15));"),
              "610");
    EXPECT_EQ(RunOutput("function nothing() { ; } echo(nothing());"), "0");
    EXPECT_EQ(RunOutput("function early() { return; echo(\"x\"); } echo(early());"), "0");
}

TEST(LanguageFunctions, LocalsAndGlobals)
{
    EXPECT_EQ(RunOutput("$g = 5; function f() { return $g; } echo(f());"), "");
    EXPECT_EQ(RunOutput("$g = 5; function f() { global $g; $g++; return $g; } echo(f(), $g);"), "66");
    // Locals are per call.
    EXPECT_EQ(RunOutput("function f($n) { $local = $n * 10; if ($n > 0) f($n - 1); echo($local, \",\"); } f(2);"),
              "0,10,20,");
}

TEST(LanguageFunctions, DefinitionsAreJumpedOverWhereTheyStand)
{
    EXPECT_EQ(RunOutput("echo(\"a\"); function f() { echo(\"in\"); } echo(\"b\"); f();"), "abin");
}

TEST(LanguageFunctions, ExitStopsTheRun)
{
    EXPECT_EQ(RunOutput("function f() { echo(1); exit; } f(); echo(2);"), "1");
}

// ---- Blocks ----

TEST(LanguageBlocks, FunctionsAndGlobalsSpanBlocks)
{
    const CompileRun run =
        CompileAndRun({"$g = 40; echo(twice($g));", "function twice($v) { return $v * 2; }", "echo(\"/\", $g + 2);"});
    ASSERT_EQ(run.compileResult, ereturnvalue::OK) << run.compileMessage();
    EXPECT_EQ(run.runResult, ereturnvalue::OK) << run.runMessage;
    EXPECT_EQ(run.output, "80/42");
}

TEST(LanguageBlocks, PlainBlocksOnlyDefine)
{
    std::vector<std::string> codes{"function f() { return \"from plain\"; } echo(\"never\");", "echo(f());"};
    const CompileRun run = CompileAndRunBlocks({{1, 1, false, codes[0]}, {3, 2, true, codes[1]}});
    ASSERT_EQ(run.compileResult, ereturnvalue::OK) << run.compileMessage();
    EXPECT_EQ(run.output, "from plain");
}

TEST(LanguageBlocks, RuntimeErrorNamesTheLineAndThePage)
{
    std::vector<std::string> codes{"$a = 1;\n\n$b = count(1, 2);"};
    const CompileRun run = CompileAndRunBlocks({{7, 1, true, codes[0]}}, "site/page.htm");
    ASSERT_EQ(run.compileResult, ereturnvalue::OK);
    EXPECT_EQ(run.runResult, ereturnvalue::RuntimeError);
    EXPECT_NE(run.runMessage.find(", on line 9 of site/page.htm"), std::string::npos) << run.runMessage;
}
