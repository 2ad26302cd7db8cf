// Register code and the short call paths against the plain loop and the
// general call paths: random well-formed programs must give the same output,
// result, error text and line, instruction count and variables whichever way
// they run, whole, in slices or against the instruction limit.
#include "compiler/compiler.h"
#include "hostlib/host_functions.h"
#include "support/image_builder.h"
#include "support/run_ways.h"
#include "vm/virtual_machine.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tn
{
namespace
{
using namespace test;

// Programs of mixed-type arithmetic, loops with break and continue, calls with
// by-reference parameters and runtime errors at random places.
class ProgramGenerator
{
  public:
    explicit ProgramGenerator(uint32_t seed) : rng_(seed) {}

    std::string program()
    {
        std::string s = "$a = 3; $b = 17; $c = -4; $d = 0; $arr[3] = 1; $e = \"e\"; $f = 2.5;\n";
        // Functions call only those defined before them: no endless recursion.
        s += "function f1($x, &$y) {" + block(2, "$y", "") + " return $x * 2 - $y; }\n";
        s += "function f2(&$p, $q) { $t = $q;" + block(2, "$p", "$q") + " return $p + f1($t, $p); }\n";
        s += "function fib($n) { if ($n < 2) return $n; return fib($n - 1) + fib($n - 2); }\n";
        functions_ = true;
        s += block(3, "", "");
        return s + "\necho($a, \"|\", $b, \"|\", $c, \"|\", $d, \"|\", $e);";
    }

  private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }

    // A variable statements may assign: a global, or in a function a parameter.
    std::string variable()
    {
        static const char* const names[] = {"$a", "$b", "$c", "$d"};
        return local_.empty() || pick(2) ? names[pick(4)] : local_;
    }
    // Loop counters are read, never assigned: every loop ends.
    std::string readable() { return counter_.empty() || pick(3) ? variable() : counter_; }

    std::string expr(int depth)
    {
        if (depth == 0 || pick(4) == 0)
        {
            switch (pick(10))
            {
            case 0:
                return "\"" + std::to_string(pick(20)) + (pick(2) ? "x\"" : "\"");
            case 1:
                return std::to_string(pick(5)) + ".5";
            case 2:
                return pick(3) ? "$arr[" + readable() + " % 5]" : "strlen(" + readable() + ")";
            case 3:
            case 4:
                return std::to_string(pick(30) - 5);
            default:
                return readable();
            }
        }
        static const char* const ops[] = {"+", "-", "*", "/", "%", "<", ">", "<=", ">=", "==", "!=", "&&", "||", "."};
        switch (pick(12))
        {
        case 0:
            return "!" + expr(depth - 1);
        case 1:
            return "-(" + expr(depth - 1) + ")";
        case 2:
            if (functions_) return "f2(" + variable() + ", " + expr(depth - 1) + ")";
            [[fallthrough]];
        case 3:
            if (functions_) return "fib(" + variable() + " % 6)";
            [[fallthrough]];
        default:
            return "(" + expr(depth - 1) + " " + ops[pick(pick(3) ? 11 : 14)] + " " + expr(depth - 1) + ")";
        }
    }

    // Appends: to Integers, texts and by-reference parameters, pieces of every
    // type, the target itself among them.
    std::string append(const std::string& v)
    {
        static const char* const pieces[] = {"\"<p>\"", "17", "$e", "$arr", "$f", "\"\""};
        const std::string target = pick(2) ? "$e" : v;
        std::string chain;
        for (int n = 1 + pick(3); n > 0; --n)
            chain += std::string(chain.empty() ? "" : " . ") + (pick(3) ? pieces[pick(6)] : readable());
        switch (pick(4))
        {
        case 0:
            return target + " = " + target + " . " + chain + ";";
        case 1:
            return "if (strlen(" + target + ") < 30) " + target + " .= " + target + " . " + chain + ";";
        default:
            return target + " .= " + chain + "; if (strlen(" + target + ") > 60) " + target + " = 1;";
        }
    }

    std::string statement(int depth)
    {
        const std::string v = variable();
        switch (pick(depth > 0 ? 15 : 9))
        {
        case 0:
        case 1:
            return v + " = " + expr(3) + ";";
        case 2:
            return v + (pick(2) ? " += " : " -= ") + expr(2) + ";";
        case 3:
            return v + (pick(2) ? "++;" : "--;");
        case 4:
            return "echo(" + expr(2) + ", \" \");";
        case 5:
            return "$arr[" + variable() + " % 5] = " + expr(2) + ";";
        case 6:
            // Runtime errors: a constant where a variable must go, wrong counts.
            if (pick(2) == 0)
            {
                static const char* const faults[] = {" > 8) pop(3);", " < 0) fib(1, 2);", " > 20) strlen(1, 2);"};
                return "if (" + v + faults[pick(3)];
            }
            return v + " = " + v + " % 1000;";
        case 7:
            return "if (" + expr(2) + ") " + v + " = " + expr(2) + "; else " + v + " = " + expr(1) + ";";
        case 8:
            return append(v);
        case 9:
        case 10:
        {
            // Loop counters are not touched by the other statements.
            const std::string i = "$i" + std::to_string(depth);
            return "for (" + i + " = " + std::to_string(pick(3)) + " to " + std::to_string(pick(12)) + ") {" +
                   block(depth - 1, local_, i) + "}";
        }
        case 11:
        {
            const std::string w = "$w" + std::to_string(depth);
            return w + " = 0; while (" + w + " < " + std::to_string(pick(10)) + ") { " + w + "++; if (" + expr(1) +
                   ") continue;" + block(depth - 1, local_, w) + " if (" + expr(1) + ") break; }";
        }
        case 12:
            if (functions_) return v + " = f1(" + expr(2) + ", " + variable() + ");";
            return v + " = " + expr(1) + ";";
        default:
            return "if (" + expr(2) + ") {" + block(depth - 1, local_, counter_) + "}";
        }
    }

    std::string block(int depth, const std::string& local, const std::string& counter)
    {
        const std::string savedLocal = local_, savedCounter = counter_;
        local_ = local;
        counter_ = counter;
        std::string s;
        for (int n = 1 + pick(4); n > 0; --n)
            s += "\n" + statement(depth);
        local_ = savedLocal;
        counter_ = savedCounter;
        return s;
    }

    std::mt19937 rng_;
    std::string local_, counter_;
    bool functions_ = false;
};

// Functions that hold only integers (and some that read a local nobody
// wrote, or get a text): whole call trees of them run as int register code.
class IntProgramGenerator
{
  public:
    explicit IntProgramGenerator(uint32_t seed) : rng_(seed) {}

    std::string program()
    {
        std::string s;
        for (function_ = 0; function_ < 4; ++function_)
            s += "function i" + std::to_string(function_) + "($p, $q) { $u = " + expr(2) + ";" + block(2) + " return " +
                 expr(3) + "; }\n";
        s += "for ($i = -2 to 5) echo(i3($i, $i * 7 - 5), \" \", i" + std::to_string(pick(4)) + "($i, 2), \" \");";
        return s + " echo(i2(\"4\", 1), i1(2.5, 3), i0($nothing, 1), i3(1));";
    }

  private:
    int pick(int n) { return static_cast<int>(rng_() % static_cast<uint32_t>(n)); }
    std::string variable()
    {
        static const char* const names[] = {"$p", "$q", "$u", "$v"};
        return names[pick(pick(16) ? 3 : 4)]; // $v is sometimes read before any write
    }

    std::string expr(int depth)
    {
        if (depth == 0 || pick(4) == 0) return pick(2) ? variable() : std::to_string(pick(40) - 8);
        static const char* const ops[] = {"+", "-", "*", "/", "%", "<", ">", "<=", ">=", "==", "!=", "&&", "||"};
        switch (pick(10))
        {
        case 0:
            return "!" + expr(depth - 1);
        case 1:
            return "-(" + expr(depth - 1) + ")";
        case 2:
            if (function_ > 0 && loops_ == 0)
                return "i" + std::to_string(pick(function_)) + "(" + expr(depth - 1) + ", " + expr(depth - 1) + ")";
            [[fallthrough]];
        default:
            return "(" + expr(depth - 1) + " " + ops[pick(13)] + " " + expr(depth - 1) + ")";
        }
    }

    std::string statement(int depth)
    {
        const std::string v = pick(3) ? "$u" : (pick(2) ? "$v" : "$q");
        switch (pick(depth > 0 ? 8 : 4))
        {
        case 0:
        case 1:
            return v + " = " + expr(3) + ";";
        case 2:
            return v + "++;";
        case 3:
            // Recursion that ends (the first argument falls towards 0), outside loops.
            if (loops_ > 0) return v + "--;";
            return "if ($p > 0) " + v + " = i" + std::to_string(function_) + "($p % 5 - 1, " + expr(1) + ");";
        case 4:
            return "if (" + expr(2) + ") {" + block(depth - 1) + "} else " + v + " = " + expr(2) + ";";
        case 5:
            return "for ($k" + std::to_string(depth) + " = " + std::to_string(pick(3)) + " to " +
                   std::to_string(pick(5)) + ") {" + loop(depth) + "}";
        case 6:
        {
            const std::string w = "$w" + std::to_string(depth);
            return w + " = 0; while (" + w + " < " + std::to_string(pick(5)) + ") { " + w + "++; if (" + expr(1) +
                   ") continue;" + loop(depth) + " if (" + expr(1) + ") break; }";
        }
        default:
            return "if (" + expr(1) + ") return " + expr(2) + ";";
        }
    }

    std::string block(int depth)
    {
        std::string s;
        for (int n = 1 + pick(3); n > 0; --n)
            s += "\n" + statement(depth);
        return s;
    }

    std::string loop(int depth)
    {
        ++loops_;
        const std::string body = block(depth - 1);
        --loops_;
        return body;
    }

    std::mt19937 rng_;
    int function_ = 0, loops_ = 0;
};

// Compiles [source] into [image], which each run below starts afresh.
void Compile(const std::string& source, ProgramImage& image)
{
    std::vector<BlockCompileResult> blocks;
    ASSERT_EQ(Compiler::instance().compile(HostFunctionSets(), image, {{1, 1, true, source}}, blocks, "page.htm"),
              ereturnvalue::OK)
        << source;
}

TEST(RegisterCode, RandomProgramsRunAsInThePlainLoop)
{
    // Pure integer loops that run inside one stretch, and call results that a
    // stretch takes from the stack, besides the random programs.
    std::vector<std::string> sources = {
        "$s = 1; for ($i = 0 to 300) { $s = ($s * 7 + $i) % 1000; if ($s > 500) $t++; } echo($s, $t);",
        "function g($n) { return $n * 3; } for ($i = 0 to 60) { $s = (g($i) + $i * 2 - 1) % 977; } echo($s);",
        "function h(&$v) { for ($k = 1 to 40) $v = ($v + $k) % 91; return $v - 1; } $a = 5; for ($i = 1 to 20) "
        "{ $b = h($a) + $b; } echo($a, \" \", $b);",
        // Element loads and stores in stretches: growth, a shared copy, other types.
        "$a = 0; for ($i = 0 to 300) $a[$i] = ($i * 7) % 13; for ($i = 0 to 300) $s = $s + $a[$i]; $b = $a; for ($i "
        "= 0 to 300) $b[$i] = $b[$i] + 1; $a[7] = \"x\"; $a[9] = 2.5; for ($i = -3 to 310) $t = $t + $a[$i % 12]; "
        "echo($s, \" \", $t, \" \", count($a), $b[5], $a[5]);",
        "function g($n) { $v = 0; for ($k = 0 to $n) $v[$k] = $k; for ($k = 0 to $n) $t = $t + $v[$k]; return $t; } "
        "for ($i = 1 to 5) $s = $s + g($i * 40); echo($s);",
        // Calls and returns inside stretches: recursion through a by-reference
        // caller, a failure deep inside, a non-Integer argument and result.
        "function a($n, $m) { if ($n < 1) return $m; return a($n - 1, $m + $n) + b($n); } function b($k) { return "
        "$k * 2; } function c(&$v, $n) { $v = $v + a($n, 1); return $v; } for ($i = 0 to 30) $s = c($t, $i % 7) - "
        "$s; echo($s, \" \", $t, \" \", a(3, \"x\"), a(2, 1.5));",
        "function d($n) { if ($n == 0) return pop(3); return d($n - 1) + 1; } for ($i = 0 to 40) $s = $s + $i; "
        "echo($s); echo(d(25));",
        // Appends inside stretches: the target shared, among its own pieces,
        // not yet a text, a local and a by-reference parameter.
        "$name = \"al\"; $s = \"\"; for ($i = 1 to 400) { $s .= \"<td>\" . $i . \"</td>\" . $name . \"\\n\"; } "
        "echo(strlen($s), substr($s, 0, 30));",
        "$s = \"a\"; for ($i = 0 to 200) { $t = $s; $s .= $i . $s; if (strlen($s) > 50) $s = $i; $u = $u . $t . "
        "2.5; if ($i == 100) $s = 7; } echo($s, $t, strlen($u));",
        "function w(&$o, $n) { $l = \"\"; for ($k = 0 to $n) { $l .= $k . \",\" . $o; $o .= \"x\"; } return "
        "strlen($l); } $z = \"z\"; for ($i = 0 to 30) $r = $r + w($z, $i); echo($r, $z);",
    };
    for (uint32_t seed = 1; seed <= 300; ++seed)
        sources.push_back(ProgramGenerator(seed).program());
    for (uint32_t seed = 1; seed <= 100; ++seed)
        sources.push_back(IntProgramGenerator(seed).program());
    // Every operator of the integer functions, on two variables and with a
    // constant on either side, over small operands of both signs.
    std::string sweep, calls;
    const char* const kOperators[] = {"+", "-", "*", "/", "%", "&&", "||", "<", ">", "<=", ">=", "!=", "=="};
    for (size_t i = 0; i < std::size(kOperators); ++i)
    {
        const std::string op = kOperators[i], n = std::to_string(i);
        sweep += "function r" + n + "($a, $b) { return $a " + op + " $b; } function k" + n + "($a) { return $a " + op +
                 " 3; } function c" + n + "($a) { return 3 " + op + " $a; } ";
        calls += "r" + n + "($a, $b), k" + n + "($b), c" + n + "($a), ";
    }
    sources.push_back(sweep + "for ($a = -4 to 4) for ($b = -4 to 4) echo(" + calls + "\" \");");

    int errors = 0, limits = 0;
    for (size_t n = 0; n < sources.size(); ++n)
    {
        const std::string& source = sources[n];
        ProgramImage image;
        Compile(source, image);
        const RunOutcome plain = RunImage(image, {Paths::General});
        errors += plain.result == ereturnvalue::RuntimeError;
        ASSERT_EQ(RunImage(image, {Paths::Always}), plain) << source;
        for (int32_t slice = 1 + int32_t(n % 3); slice <= 50; slice += n < 3 ? 1 : 3)
            ASSERT_EQ(RunImage(image, {Paths::Always, slice}), plain) << "slice " << slice << "\n" << source;

        // The limit falls somewhere inside the run, whole and sliced.
        for (uint32_t k = 1; k <= (n < 3 ? 40u : 2u); ++k)
        {
            const auto left = int32_t((n + 1) * k * 7919 % uint32_t(plain.count));
            const RunOutcome limited = RunImage(image, {Paths::General, 0, left + 1});
            limits += limited.message.find("maximum instructions exceeded") != std::string::npos;
            ASSERT_EQ(RunImage(image, {Paths::Always, 0, left + 1}), limited) << "left " << left << "\n" << source;
            ASSERT_EQ(RunImage(image, {Paths::Always, 7, left + 1}), RunImage(image, {Paths::General, 7, left + 1}))
                << source;
        }
    }
    // The generator must reach what it is there to test.
    EXPECT_GT(errors, 10);
    EXPECT_GT(limits, 200);
}

// Recursion into the depth limit, with and without a system call at the
// bottom of each level, fails at the same call whichever paths run. A
// million calls deep, each run is long: only a few are made.
TEST(RegisterCode, RecursionToTheDepthLimit)
{
    for (const char* source : {"function r($n) { return r($n + 1) + 1; } echo(r(0));",
                               "function r($n, $m) { strlen($n); return r($n + 1, $m) + 1; } echo(r(0, 1));"})
    {
        ProgramImage image;
        Compile(source, image);
        const RunOutcome plain = RunImage(image, {Paths::General});
        EXPECT_NE(plain.message.find("max nested function calls exceeded, on line 1"), std::string::npos) << plain;
        EXPECT_EQ(RunImage(image, {Paths::Always}), plain) << source;
        for (const int32_t slice : {3, 50})
            EXPECT_EQ(RunImage(image, {Paths::Always, slice}), RunImage(image, {Paths::General, slice})) << source;
    }
}

// Stack shapes the compiler does not make: a stretch entered by a jump that
// takes values pushed before it, leaves one behind each round, and a jump
// into an operand.
TEST(RegisterCode, HandMadeStackShapes)
{
    test::ImageBuilder b;
    b.openBlock(1);
    const int32_t top = b.here();
    b.op(Op::PUSHINT, 9).op(Op::PUSHINT, 3).op(Op::PUSHINT, 2);
    const int32_t jump = b.jumpPlaceholder(Op::JMP);
    b.op(Op::PUSHINT, 77);
    b.patchJumpHere(jump);
    b.op(Op::MUL).op(Op::PUSHGLOBALREF, 1).op(Op::ADD).op(Op::POPGLOBAL, 1);
    b.op(Op::LINE, (1 << 24) | 9).op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 100).op(Op::LT);
    b.jumpTo(Op::JMPTRUE, top);
    b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 100).op(Op::GT);
    b.jumpTo(Op::JMPTRUE, b.here() - 10); // into the PUSHINT operand: opcode 100 is not one
    b.op(Op::END);
    ProgramImage image;
    b.closeBlock().install(image);
    image.addSourceFile("page.htm");

    const RunOutcome plain = RunImage(image, {Paths::Never});
    EXPECT_NE(plain.message.find("operand not recognized, on line 9"), std::string::npos) << plain;
    for (int32_t slice = 0; slice <= 12; ++slice)
        EXPECT_EQ(RunImage(image, {Paths::Always, slice}), plain) << "slice " << slice;
}

// Functions whose shape the compiler does not make, called with integers:
// int code must either take them exactly as the plain loop does or leave
// them to it.
TEST(RegisterCode, HandMadeFunctions)
{
    using Body = void (*)(test::ImageBuilder&, int32_t entry);
    const Body bodies[] = {
        // Qualifies: 2 * n - 1.
        [](test::ImageBuilder& b, int32_t)
        { b.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 2).op(Op::MUL).op(Op::PUSHINT, 1).op(Op::SUB).op(Op::RETURN); },
        // Leaves a value below its result on the caller's stack.
        [](test::ImageBuilder& b, int32_t) { b.op(Op::PUSHINT, 5).op(Op::PUSHLOCALREF, 1).op(Op::RETURN); },
        // Returns a local nobody wrote (Null).
        [](test::ImageBuilder& b, int32_t) { b.op(Op::LINE, 7).op(Op::PUSHLOCALREF, 2).op(Op::RETURN); },
        // Counts down with a backward conditional jump.
        [](test::ImageBuilder& b, int32_t)
        {
            const int32_t top = b.here();
            b.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 1).op(Op::SUB).op(Op::POPLOCAL, 1).op(Op::PUSHLOCALREF, 1);
            b.jumpTo(Op::JMPTRUE, top).op(Op::PUSHLOCALREF, 1).op(Op::RETURN);
        },
        // Jumps into its own PUSHINT operand (opcode 9 there is a LINE).
        [](test::ImageBuilder& b, int32_t)
        {
            const int32_t push = b.here();
            b.op(Op::PUSHINT, 9 | (1 << 8)).op(Op::PUSHLOCALREF, 1).op(Op::RETURN);
            b.jumpTo(Op::JMP, push + 1);
        },
        // Never ends: only the instruction limit stops it.
        [](test::ImageBuilder& b, int32_t)
        {
            const int32_t top = b.here();
            b.op(Op::PUSHINT, 1).jumpTo(Op::JMPTRUE, top).op(Op::PUSHINT, 0).op(Op::RETURN);
        },
        // Calls itself with one argument short.
        [](test::ImageBuilder& b, int32_t entry)
        { b.op(Op::PUSHLOCALREF, 1).op(Op::PUSHINT, 0).jumpTo(Op::CALL, entry).op(Op::RETURN); },
    };
    for (size_t shape = 0; shape < std::size(bodies); ++shape)
    {
        test::ImageBuilder b;
        b.openBlock(1);
        const int32_t over = b.jumpPlaceholder(Op::JMP);
        const int32_t entry = b.here();
        b.op(Op::PUSHINT, 0).op(Op::ENTER, 1);
        bodies[shape](b, entry);
        b.patchJumpHere(over);
        // for ($i = 20; $i; $i--) $s = $s . f($i) . ",";
        b.op(Op::PUSHINT, 20).op(Op::POPGLOBAL, 1);
        const int32_t top = b.here();
        b.op(Op::PUSHGLOBALREF, 2).op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).jumpTo(Op::CALL, entry);
        b.op(Op::CONCAT).str(Op::PUSHSTR, ",").op(Op::CONCAT).op(Op::POPGLOBAL, 2);
        b.op(Op::PUSHGLOBALREF, 1).op(Op::PUSHINT, 1).op(Op::SUB).op(Op::POPGLOBAL, 1).op(Op::PUSHGLOBALREF, 1);
        b.jumpTo(Op::JMPTRUE, top).op(Op::END);
        ProgramImage image;
        b.closeBlock().install(image);
        image.addSourceFile("page.htm");
        // Whole and in slices, with the instruction limit near or far.
        for (const int32_t left : {300, 100000})
        {
            const RunOutcome plain = RunImage(image, {Paths::Never, 0, left});
            for (int32_t slice = 0; slice <= 12; ++slice)
                EXPECT_EQ(RunImage(image, {Paths::Always, slice, left}), plain)
                    << "shape " << shape << ", slice " << slice << ", " << left;
        }
    }
}

} // namespace
} // namespace tn
