#include "compiler/lexer.h"
#include "compiler/parser.h"
#include "compiler/token_names.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tn
{
namespace
{

using test::TokenName;

// S-expression of a (small) tree; "@line" after every node when asked.
std::string print(const SyntaxNode* node, bool withLines)
{
    if (node == nullptr) return "_";
    std::ostringstream out;
    if (node->kind == NodeKind::Operator)
    {
        out << '(' << TokenName(node->op);
        if (withLines) out << '@' << node->line;
        for (size_t i = 0; i < node->childCount(); ++i)
            out << ' ' << print(node->child(i), withLines);
        out << ')';
        return out.str();
    }
    if (node->kind == NodeKind::IntLiteral)
        out << node->intValue;
    else if (node->kind == NodeKind::FloatLiteral)
        out << node->floatValue;
    else if (node->kind == NodeKind::RawStringLiteral)
        out << '|' << node->text() << '|';
    else if (node->kind == NodeKind::Variable)
        out << (node->byRef ? "&$" : "$") << node->text();
    else if (node->kind == NodeKind::BadChar)
        out << "bad" << int(node->badByte);
    else
        out << node->text(); // string literals keep their quotes; function names
    if (withLines) out << '@' << node->line;
    return out.str();
}

// How statements are recorded: printed, printed with lines, or only counted
// (deep trees would overflow the recursive printer).
enum class Mode
{
    Trees,
    Lines,
    Count
};

struct Outcome
{
    int result = -1;
    std::vector<std::string> statements;
    std::vector<int32_t> compileLines; // the lexer's line when each statement was handed over
    std::vector<std::string> errors;
    std::vector<int32_t> errorLines;
};

class RecordingSink : public ParserSink
{
  public:
    RecordingSink(const Lexer& lexer, Outcome& out, Mode mode, int failAt)
        : lexer_(lexer), out_(out), mode_(mode), failAt_(failAt)
    {
    }
    int compileStatement(SyntaxNode& node) override
    {
        out_.statements.push_back(mode_ == Mode::Count ? "" : print(&node, mode_ == Mode::Lines));
        out_.compileLines.push_back(lexer_.line());
        return static_cast<int>(out_.statements.size()) == failAt_ ? 7 : 0;
    }
    void recordParseError(const char* text) override
    {
        out_.errors.emplace_back(text);
        out_.errorLines.push_back(lexer_.line());
    }

  private:
    const Lexer& lexer_;
    Outcome& out_;
    Mode mode_;
    int failAt_; // 1-based statement whose compilation fails
};

Outcome run(std::string_view code, Mode mode = Mode::Trees, int failAt = -1, int32_t firstLine = 1)
{
    Lexer lexer;
    lexer.setInput(code);
    lexer.reset(firstLine);
    Outcome outcome;
    RecordingSink sink(lexer, outcome, mode, failAt);
    outcome.result = Parser(lexer, sink).parse();
    return outcome;
}

// The tree of a one-statement unit, or a description of what went wrong.
std::string tree(std::string_view code, bool withLines = false)
{
    const Outcome o = run(code, withLines ? Mode::Lines : Mode::Trees);
    if (o.result != 0) return "result " + std::to_string(o.result);
    return o.statements.size() == 1 ? o.statements[0] : std::to_string(o.statements.size()) + " statements";
}

void expectTrees(const std::vector<std::pair<std::string, std::string>>& cases)
{
    for (const auto& [code, expected] : cases)
        EXPECT_EQ(tree(code), expected) << code;
}

void expectParseErrors(const std::vector<std::string>& codes)
{
    for (const std::string& code : codes)
    {
        const Outcome o = run(code);
        EXPECT_EQ(o.result, 1) << code;
        EXPECT_EQ(o.errors, std::vector<std::string>{"parse error"}) << code;
    }
}

TEST(ParserTest, InfixPrecedenceAndAssociativity)
{
    expectTrees({
        {"1 + 2 . 3;", "(expr (+ 1 (. 2 3)))"},
        {"1 + 2 * 3 . 4;", "(expr (+ 1 (* 2 (. 3 4))))"},
        {"$a || $b && $c;", "(expr (&& (|| $a $b) $c))"},
        {"$a && $b || $c;", "(expr (|| (&& $a $b) $c))"},
        {"$a - $b - $c;", "(expr (- (- $a $b) $c))"},
        {"$a < $b == $c;", "(expr (== (< $a $b) $c))"},
        {"$a . $b . $c;", "(expr (. (. $a $b) $c))"},
        {"$a == $b + 1 * 2;", "(expr (== $a (+ $b (* 1 2))))"},
        {"$a * $b + $c < $d && $e;", "(expr (&& (< (+ (* $a $b) $c) $d) $e))"},
        {"$a % $b / $c;", "(expr (/ (% $a $b) $c))"},
        {"$a >= 1 <= 2 != 3 > 4;", "(expr (> (!= (<= (>= $a 1) 2) 3) 4))"},
        {"(1 + 2) * 3;", "(expr (* (+ 1 2) 3))"},
    });
}

TEST(ParserTest, UnaryOperatorsBindTighterThanEveryInfix)
{
    expectTrees({
        {"-$a . $b;", "(expr (. (neg $a) $b))"},
        {"!$a == $b;", "(expr (== (! $a) $b))"},
        {"-$a * -$b;", "(expr (* (neg $a) (neg $b)))"},
        {"- - 1;", "(expr (neg (neg 1)))"},
        {"!-!$a;", "(expr (! (neg (! $a))))"},
        {"-$a++;", "(expr (neg (++ $a)))"},
        {"-f(1) ? 2 : 3;", "(expr (? (neg (call f 1)) 2 3))"},
        {"-(1 + 2);", "(expr (neg (+ 1 2)))"},
    });
}

TEST(ParserTest, ConditionalIsNonAssociative)
{
    expectTrees({
        {"$x = $a ? $b : $c;", "(= $x (? $a $b $c))"},
        {"$a ? $b ? $c : $d : $e;", "(expr (? $a (? $b $c $d) $e))"},
        {"$a ? ($b ? $c : $d) : $e;", "(expr (? $a (? $b $c $d) $e))"},
        {"$a ? $b : ($c ? $d : $e);", "(expr (? $a $b (? $c $d $e)))"},
        {"$a || $b ? $c : $d;", "(expr (? (|| $a $b) $c $d))"},
        {"$a ? $b : $c || $d;", "(expr (? $a $b (|| $c $d)))"},
    });
    expectParseErrors({"$a ? $b : $c ? $d : $e;", "$a ? $b;", "$a ? $b : ;", "$a : $b;"});
}

TEST(ParserTest, TargetsCallsAndLiterals)
{
    expectTrees({
        {"$a[1] = 2;", "(= (idx $a 1) 2)"},
        {"$a[$i + 1]--;", "(expr (-- (idx $a (+ $i 1))))"},
        {"$a[f($b[0])];", "(expr (idx $a (call f (idx $b 0))))"},
        {"f();", "(expr (call f))"},
        {"f(1, \"s\", |r|, 2.5);", "(expr (call f (, (, (, 1 \"s\") |r|) 2.5)))"},
        {"g(f(), $a);", "(expr (call g (, (call f) $a)))"},
    });
    expectParseErrors({"$a[1][2] = 1;", "$a[1][2];", "f()[1];", "$a[];", "$a[1, 2];", "f(1,);", "f(,1);", "(f)();",
                       "++$a;", "($a)++;", "f()++;", "1++;", "$a++ ++;", "&$a;", "&$a = 1;", "f(&$a);", "$a $b;", "f(",
                       ")"});
}

TEST(ParserTest, AssignmentIsAStatement)
{
    expectTrees({
        {"$a = 1;", "(= $a 1)"},
        {"$a += 1;", "(+= $a 1)"},
        {"$a -= 1;", "(-= $a 1)"},
        {"$a *= 1;", "(*= $a 1)"},
        {"$a /= 1;", "(/= $a 1)"},
        {"$a .= 1;", "(.= $a 1)"},
        {"$a %= 1;", "(%= $a 1)"},
        {"$a[0] .= \"x\" . $b;", "(.= (idx $a 0) (. \"x\" $b))"},
    });
    expectParseErrors({"$a = $b = 1;", "f($a = 1);", "($a) = 1;", "1 = $a;", "f() = 1;", "$a == ;", "$a = 1",
                       "if ($a = 1) ;", "$a++ = 1;"});
}

TEST(ParserTest, ControlStatements)
{
    expectTrees({
        {"while ($a < 3) $a++;", "(while (< $a 3) (expr (++ $a)))"},
        {"for ($i = 1 to $n + 1) echo($i);", "(for $i 1 (+ $n 1) (expr (call echo $i)))"},
        {"switch ($x) { case 1: break; default: ; }", "(switch $x (; (; (; (case 1) (break)) (default)) (; _ _)))"},
        {"if ($a) x();", "(if $a (expr (call x)))"},
        {"if ($a) x(); else y();", "(if $a (expr (call x)) (expr (call y)))"},
        {"if ($a) if ($b) x(); else y();", "(if $a (if $b (expr (call x)) (expr (call y))))"},
        {"if ($a) if ($b) x(); else y(); else z();", "(if $a (if $b (expr (call x)) (expr (call y))) (expr (call z)))"},
        {"return;", "(return)"},
        {"return $a . 1;", "(return (. $a 1))"},
        {"exit;", "(exit)"},
        {"continue;", "(continue)"},
        {";", "(; _ _)"},
        {"@", "bad64"},
    });
    expectParseErrors({"while $a ;", "while ($a) ", "for ($a[1] = 1 to 2) ;", "for ($i = 1; $i < 2) ;",
                       "for (i = 1 to 2) ;", "switch ($a[1]) { ; }", "switch (1) { ; }", "switch ($x) { }",
                       "switch ($x) ;", "if ($a) else ;", "else ;", "break", "return 1", "to;"});
}

TEST(ParserTest, CaseLabelsTakeAConstant)
{
    expectTrees({
        {"case 1:", "(case 1)"},
        {"case -1:", "(case (neg 1))"},
        {"case - - 1.5:", "(case (neg (neg 1.5)))"},
        {"case -(1+1):", "(case (neg (+ 1 1)))"},
        {"case -$x[2]:", "(case (neg (idx $x 2)))"},
        {"case \"s\":", "(case \"s\")"},
        {"case |r|:", "(case |r|)"},
        {"case NOTFOUND:", "(case -2)"},
        {"default:", "(default)"},
    });
    // After "-" the operand is a unary-level expression: a following infix operator ends the constant.
    expectParseErrors({"case $x:", "case 1+1:", "case -1+1:", "case -1 . 2:", "case -1 ? 2 : 3:", "case (1):",
                       "case f():", "case !1:", "case 1", "default;"});
}

TEST(ParserTest, FunctionsAndGlobals)
{
    expectTrees({
        {"function f() { return 1; }", "(function f (return 1))"},
        {"function f(&$a, $b, &$c) { ; }", "(function f (; _ _) (, (, &$a $b) &$c))"},
        {"function g($a) { global $x, $y, $z; $x = $a; }", "(function g (; (global (, (, $x $y) $z)) (= $x $a)) $a)"},
        {"global $g;", "(global $g)"},
    });
    expectParseErrors({"function f() { }", "function f() ;", "function () { ; }", "function $f() { ; }",
                       "function f($a,) { ; }", "function f(1) { ; }", "function f($a[1]) { ; }", "global &$a;",
                       "global $a[1];", "global $a $b;", "global;"});
}

TEST(ParserTest, BracedListsAreLeftNestedSequences)
{
    expectTrees({
        {"{ a(); }", "(expr (call a))"},
        {"{ a(); b(); c(); }", "(; (; (expr (call a)) (expr (call b))) (expr (call c)))"},
        {"{ { a(); } b(); }", "(; (expr (call a)) (expr (call b)))"},
        {"{ ; }", "(; _ _)"},
    });
    expectParseErrors({"{ }", "{ a(); ", "}", "{ a(); } }"});

    // Each top-level statement is handed over on its own, in order.
    const Outcome outcome = run("a(); function f() { ; } { b(); c(); } d();");
    EXPECT_EQ(outcome.result, 0);
    EXPECT_EQ(outcome.statements, (std::vector<std::string>{"(expr (call a))", "(function f (; _ _))",
                                                            "(; (expr (call b)) (expr (call c)))", "(expr (call d))"}));
}

TEST(ParserTest, NodeLinesAreThoseOfTheFirstTokenOfEachConstruct)
{
    EXPECT_EQ(tree("$a =\n1 +\n2;", true), "(=@1 $a@1 (+@2 1@2 2@3))");
    EXPECT_EQ(tree("(\n$a) + 1;", true), "(expr@1 (+@1 $a@2 1@2))");
    EXPECT_EQ(tree("-\n1\n. 2;", true), "(expr@1 (.@1 (neg@1 1@2) 2@3))");
    EXPECT_EQ(tree("\nif\n($a)\nx();\nelse\n;", true), "(if@2 $a@3 (expr@4 (call@4 x@4)) (;@6 _ _))");
    EXPECT_EQ(tree("function\nf(\n$a,\n&$b)\n{\n;\n}", true), "(function@1 f@2 (;@6 _ _) (,@3 $a@3 &$b@4))");
    EXPECT_EQ(tree("{\nx();\n\ny(\n1);\n}", true), "(;@2 (expr@2 (call@2 x@2)) (expr@4 (call@4 y@4 1@5)))");
    EXPECT_EQ(tree("\"a\nb\" . $c;", true), "(expr@1 (.@1 \"a\nb\"@1 $c@2))");
    EXPECT_EQ(tree("$a\n[\n1\n]\n++;", true), "(expr@1 (++@1 (idx@1 $a@1 1@3)))");
    EXPECT_EQ(tree("case\n-\n1:", true), "(case@1 (neg@2 1@3))");
    EXPECT_EQ(tree("$c ?\n1 :\n2;", true), "(expr@1 (?@1 $c@1 1@2 2@3))");
    EXPECT_EQ(run("x();", Mode::Lines, -1, 40).statements[0], "(expr@40 (call@40 x@40))");
}

// Each statement "@" the lexer line when it was handed over, each error "@"
// its line, then the result.
std::string trace(std::string_view code, int failAt = -1)
{
    const Outcome o = run(code, Mode::Trees, failAt);
    std::string out;
    for (size_t i = 0; i < o.statements.size(); ++i)
        out += o.statements[i] + "@" + std::to_string(o.compileLines[i]) + " | ";
    for (size_t i = 0; i < o.errors.size(); ++i)
        out += o.errors[i] + "@" + std::to_string(o.errorLines[i]) + " | ";
    return out + std::to_string(o.result);
}

TEST(ParserTest, StatementsAndErrorsAreReportedWithTheLexersLine)
{
    const std::pair<const char*, const char*> cases[] = {
        // a statement is handed over at the line of its closing ";" or "}"
        {"a();\n\nb();", "(expr (call a))@1 | (expr (call b))@3 | 0"},
        {"{ a();\n}\n\nb();", "(expr (call a))@2 | (expr (call b))@4 | 0"},
        {"case 1:\n\nx();\n", "(case 1)@1 | (expr (call x))@3 | 0"},
        {"if ($a) x(); else\ny();\n\nz();", "(if $a (expr (call x)) (expr (call y)))@2 | (expr (call z))@4 | 0"},
        // an if without else is complete only once the next token shows it is no "else"
        {"if ($a) b();\n\n\nc();", "(if $a (expr (call b)))@4 | (expr (call c))@4 | 0"},
        {"if ($a) b();\n\n", "(if $a (expr (call b)))@3 | 0"},
        {"while ($a) if ($b) c();\n/* x\n*/ d();", "(while $a (if $b (expr (call c))))@3 | (expr (call d))@3 | 0"},
        // an error is on the line of the offending token, its own line feeds counted
        {"a();\n\n$b = ;", "(expr (call a))@1 | parse error@3 | 1"},
        {"$a = 1\n\"x\ny\";", "parse error@3 | 1"},
        {"x(\n\n", "parse error@3 | 1"}, // the end of the input
        {"if ($a) b();\n)", "(if $a (expr (call b)))@2 | parse error@2 | 1"},
        // a comment on the last line without a line feed is code
        {"$x = 1; // note", "(= $x 1)@1 | parse error@1 | 1"},
        {"$x = 1; // note\n", "(= $x 1)@1 | 0"},
        {" /* */ \n", "0"}, // nothing to compile
    };
    for (const auto& [code, expected] : cases)
        EXPECT_EQ(trace(code), expected) << code;
    // A statement whose compilation fails ends the parse without a message.
    EXPECT_EQ(trace("a(); b(); c();", 2), "(expr (call a))@1 | (expr (call b))@1 | 1");
}

std::string repeat(std::string_view piece, size_t count)
{
    std::string result;
    while (count-- > 0)
        result += piece;
    return result;
}

// The parse result followed by the error messages.
std::string deep(const std::string& code)
{
    const Outcome o = run(code, Mode::Count);
    std::string out = std::to_string(o.result);
    for (const std::string& message : o.errors)
        out += " " + message;
    return out;
}

TEST(ParserTest, StackOverflowAtTheTableParsersLimit)
{
    for (const char* piece : {"(", "{", "- ", "if (1) "})
        EXPECT_EQ(deep(repeat(piece, 100000)), "2 parser stack overflow") << piece;
    // The deepest nestings that still fit in 10000 entries, and one more.
    EXPECT_EQ(deep("$a = " + repeat("(", 9993) + "1" + repeat(")", 9993) + ";"), "0");
    EXPECT_EQ(deep("$a = " + repeat("(", 9994) + "1" + repeat(")", 9994) + ";"), "2 parser stack overflow");
    EXPECT_EQ(deep(repeat("{", 9995) + ";" + repeat("}", 9995)), "0");
    EXPECT_EQ(deep(repeat("{", 9996) + ";" + repeat("}", 9996)), "2 parser stack overflow");
    EXPECT_EQ(deep("f(" + repeat("- ", 9994) + "1);"), "0");
    EXPECT_EQ(deep("f(" + repeat("- ", 9995) + "1);"), "2 parser stack overflow");
}

} // namespace
} // namespace tn
