// Language behaviour end to end: source compiled by the real front end and
// back end, run on a core virtual machine, output compared.
#include "compiler/compile_run.h"

#include <gtest/gtest.h>

using namespace tn;
using namespace tn::test;

namespace
{
void expectOutputs(const std::vector<std::pair<std::string, std::string>>& cases)
{
    for (const auto& [code, output] : cases)
        EXPECT_EQ(RunOutput(code), output) << code;
}
} // namespace

TEST(Language, Loops)
{
    expectOutputs({
        // the end is evaluated each round; the variable is left past it
        {"for ($i = 1 to 3) echo($i); echo(\" \", $i);", "123 4"},
        {"$n = 2; for ($i = 1 to $n) { echo($i); $n = 4; }", "1234"},
        {"for ($i = 5 to 1) echo($i); echo($i);", "5"},
        // the start is stored once; the body may change the variable
        {"for ($i = 1 to 10) { echo($i); $i = $i + 2; }", "14710"},
        {"for ($i = 1 to 6) { if ($i == 2) continue; if ($i == 5) break; echo($i); } echo($i);", "1345"},
        {"$i = 0; while ($i < 6) { $i++; if ($i % 2) continue; echo($i); }", "246"},
        {"$i = 0; while (1) { $i += 1; if ($i > 3) break; } echo($i);", "4"},
        // inner loops have their own targets; the outer ones come back after them
        {"for ($a = 1 to 2) { for ($b = 1 to 5) { if ($b == 2) break; echo($a, $b); } "
         "if ($a == 1) continue; echo(\"!\"); }",
         "1121!"},
    });
}

TEST(Language, Switch)
{
    const std::string fallThrough = "switch ($x) { case 1: echo(1); case 2: echo(2); break; case 3: echo(3); }";
    expectOutputs({
        {"$x = 1; " + fallThrough, "12"},
        {"$x = 2; " + fallThrough, "2"},
        {"$x = 3; " + fallThrough, "3"},
        {"$x = 9; " + fallThrough + " echo(\"after\");", "after"},
        // the first match wins and the last default counts, wherever it stands
        {"$x = 1; switch ($x) { case 1: echo(\"a\"); break; case 1: echo(\"b\"); }", "a"},
        {"$x = 7; switch ($x) { default: echo(\"d1\"); break; case 1: ; default: echo(\"d2\"); }", "d2"},
        {"$x = 2; switch ($x) { default: echo(\"d\"); break; case 2: echo(\"two\"); }", "two"},
        // constants of each kind
        {"$s = \"a\\tb\"; switch ($s) { case \"a b\": echo(1); break; case \"a\\tb\": echo(2); }", "2"},
        {"$f = -2.5; switch ($f) { case 2.5: echo(1); break; case -2.5: echo(2); }", "2"},
        {"$n = -2; switch ($n) { case TRUE: echo(1); break; case NOTFOUND: echo(2); }", "2"},
        {"$n = -5; switch ($n) { case -5: echo(\"neg\"); }", "neg"},
        // switches nest, and continue reaches the enclosing loop
        {"for ($i = 1 to 3) { switch ($i) { case 2: continue; } echo($i); }", "13"},
        {"$a = 1; $b = 2; switch ($a) { case 1: switch ($b) { case 2: echo(\"in\"); break; } "
         "echo(\"out\"); break; case 2: echo(\"no\"); }",
         "inout"},
    });
}

TEST(Language, Expressions)
{
    const std::string f = "function f($r) { echo($r); return $r; } ";
    expectOutputs({
        // both operands of && and || are evaluated; ?: evaluates only the chosen branch
        {f + "$x = 0 && f(1); echo($x);", "10"},
        {f + "$x = 1 || f(0); echo($x);", "01"},
        {f + "$x = 1 ? f(\"a\") : f(\"b\"); echo($x);", "aa"},
        {f + "$x = 0 ? f(\"a\") : f(\"b\"); echo($x);", "bb"},
        // increments yield the new value
        {"$a = 1; $b = $a++; echo($a, $b);", "22"},
        {"$a = 1; $b = $a--; echo($a, $b);", "00"},
        {"$a[2] = 5; $a[2]++; echo($a[2]);", "6"},
        {"$x = 17; $x %= 5; echo($x);", "2"},
        {"$x = 7; $x -= 2; $x *= 3; $x /= 4; echo($x);", "3"},
        {"$x = \"a\"; $x .= 1; $x .= \"b\"; echo($x);", "a1b"},
        {"$a[1] = 1; $a[1] += 41; echo($a[1]);", "42"},
        // the element index of a compound assignment runs twice
        {"function g() { global $calls; $calls++; return 1; } $a[1] = 10; $a[g()] += 1; echo($calls, \" \", $a[1]);",
         "2 11"},
        {"echo(\"a\\tb\\\\c\\\"\", |x\\ty|);", "a\tb\\c\"x\\ty"},
        {"echo(-5, \" \", 1 + 2 * 3 . 4, \" \", 7 / 2, \" \", 7 % 0);", "-5 69 3 0"},
        {"echo(1.5 . \"\", \" \", TRUE, FALSE, TIMEOUT, EVENTFAILED);", "1.500000 10-1-5"},
        // a raw text ends at a zero byte
        {std::string("echo(|ab\0cd|);", 14), "ab"},
    });
}

TEST(Language, Functions)
{
    expectOutputs({
        {"function set(&$r, $v) { $r = $v; $v = 0; } $a = 1; $b = 2; set($a, $b); echo($a, $b);", "22"},
        {"function swap(&$x, &$y) { $t = $x; $x = $y; $y = $t; } $p = 1; $q = 2; swap($p, $q); echo($p, $q);", "21"},
        {"function fib($n) { if ($n < 2) return $n; return fib($n - 1) + fib($n - 2); } echo(fib(15));", "610"},
        // no return value, or a bare return, gives 0
        {"function nothing() { ; } echo(nothing());", "0"},
        {"function early() { return; echo(\"x\"); } echo(early());", "0"},
        // a function sees globals only when it declares them; locals are per call
        {"$g = 5; function f() { return $g; } echo(f());", ""},
        {"$g = 5; function f() { global $g; $g++; return $g; } echo(f(), $g);", "66"},
        {"function f($n) { $local = $n * 10; if ($n > 0) f($n - 1); echo($local, \",\"); } f(2);", "0,10,20,"},
        // definitions are jumped over where they stand; exit stops the run
        {"echo(\"a\"); function f() { echo(\"in\"); } echo(\"b\"); f();", "abin"},
        {"function f() { echo(1); exit; } f(); echo(2);", "1"},
    });
}

TEST(Language, Blocks)
{
    // Functions and globals span blocks.
    CompileRun r = CompileBlocks({{1, 1, true, "$g = 40; echo(twice($g));"},
                                  {1, 2, true, "function twice($v) { return $v * 2; }"},
                                  {1, 3, true, "echo(\"/\", $g + 2);"}},
                                 "page.htm");
    ASSERT_EQ(r.compileResult, ereturnvalue::OK) << r.compileMessage();
    EXPECT_EQ(r.runResult, ereturnvalue::OK) << r.runMessage;
    EXPECT_EQ(r.output, "80/42");

    // Plain blocks only define.
    r = CompileBlocks(
        {{1, 1, false, "function f() { return \"from plain\"; } echo(\"never\");"}, {3, 2, true, "echo(f());"}},
        "page.htm");
    ASSERT_EQ(r.compileResult, ereturnvalue::OK) << r.compileMessage();
    EXPECT_EQ(r.output, "from plain");
}
