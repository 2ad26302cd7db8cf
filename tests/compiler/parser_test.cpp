#include "compiler/lexer.h"
#include "compiler/parser.h"
#include "compiler/tokens.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace tn
{
namespace
{

std::string opName(int32_t op)
{
    static const std::pair<int32_t, const char*> kNames[] = {
        {T_NEGATE, "neg"},      {T_NOT, "!"},
        {T_INDEX, "idx"},       {T_CALL, "call"},
        {T_EXPRSTMT, "expr"},   {T_IF, "if"},
        {T_WHILE, "while"},     {T_FOR, "for"},
        {T_SWITCH, "switch"},   {T_CASE, "case"},
        {T_DEFAULT, "default"}, {T_BREAK, "break"},
        {T_EXIT, "exit"},       {T_CONTINUE, "continue"},
        {T_RETURN, "return"},   {T_FUNCTION, "function"},
        {T_GLOBAL, "global"},   {T_AND, "&&"},
        {T_OR, "||"},           {T_GE, ">="},
        {T_LE, "<="},           {T_EQ, "=="},
        {T_NE, "!="},           {T_INC, "++"},
        {T_DEC, "--"},          {T_ADD_ASSIGN, "+="},
        {T_SUB_ASSIGN, "-="},   {T_MUL_ASSIGN, "*="},
        {T_DIV_ASSIGN, "/="},   {T_CAT_ASSIGN, ".="},
        {T_MOD_ASSIGN, "%="},
    };
    for (const auto& [code, name] : kNames)
    {
        if (code == op)
        {
            return name;
        }
    }
    // Character codes print as themselves; any other code (T_PERCENT, say) shows its number.
    return op > 0 && op < 128 ? std::string(1, static_cast<char>(op)) : "op" + std::to_string(op);
}

// S-expression of a (small) tree; "@line" after every node when asked.
void print(const SyntaxNode* node, bool withLines, std::string& out)
{
    if (node == nullptr)
    {
        out += "_";
        return;
    }
    std::ostringstream leaf;
    switch (node->kind)
    {
    case NodeKind::IntLiteral:
        leaf << node->intValue;
        break;
    case NodeKind::FloatLiteral:
        leaf << node->floatValue;
        break;
    case NodeKind::StringLiteral:
        leaf << node->text;
        break;
    case NodeKind::RawStringLiteral:
        leaf << '|' << node->text << '|';
        break;
    case NodeKind::FunctionName:
        leaf << node->text;
        break;
    case NodeKind::Variable:
        leaf << (node->byRef ? "&$" : "$") << node->text;
        break;
    case NodeKind::BadChar:
        leaf << "bad" << static_cast<int>(node->badByte);
        break;
    case NodeKind::Operator:
        out += "(" + opName(node->op);
        if (withLines)
        {
            out += "@" + std::to_string(node->line);
        }
        for (const NodePtr& child : node->children)
        {
            out += " ";
            print(child.get(), withLines, out);
        }
        out += ")";
        return;
    }
    out += leaf.str();
    if (withLines)
    {
        out += "@" + std::to_string(node->line);
    }
}

class RecordingSink : public ParserSink
{
public:
    explicit RecordingSink(const Lexer& lexer) : lexer_(lexer) {}

    int compileStatement(SyntaxNode& node) override
    {
        std::string text;
        print(&node, withLines, text);
        statements.push_back(std::move(text));
        compileLines.push_back(lexer_.line());
        return static_cast<int>(statements.size()) == failAt ? 7 : 0;
    }
    void recordParseError(const char* text) override
    {
        errors.emplace_back(text);
        errorLines.push_back(lexer_.line());
    }

    bool withLines = false;
    int failAt = -1; // 1-based statement whose compilation fails
    std::vector<std::string> statements;
    std::vector<int32_t> compileLines;
    std::vector<std::string> errors;
    std::vector<int32_t> errorLines;

private:
    const Lexer& lexer_;
};

struct Outcome
{
    int result = -1;
    std::vector<std::string> statements;
    std::vector<int32_t> compileLines;
    std::vector<std::string> errors;
    std::vector<int32_t> errorLines;
};

Outcome run(std::string_view code, bool withLines = false, int failAt = -1, int32_t firstLine = 1)
{
    Lexer lexer;
    lexer.setInput(code);
    lexer.reset(firstLine);
    RecordingSink sink(lexer);
    sink.withLines = withLines;
    sink.failAt = failAt;
    Parser parser(lexer, sink);
    Outcome outcome;
    outcome.result = parser.parse();
    outcome.statements = std::move(sink.statements);
    outcome.compileLines = std::move(sink.compileLines);
    outcome.errors = std::move(sink.errors);
    outcome.errorLines = std::move(sink.errorLines);
    return outcome;
}

// The tree of a one-statement unit, or a description of what went wrong.
std::string tree(std::string_view code, bool withLines = false)
{
    const Outcome outcome = run(code, withLines);
    if (outcome.result != 0)
    {
        return "result " + std::to_string(outcome.result);
    }
    if (outcome.statements.size() != 1)
    {
        return std::to_string(outcome.statements.size()) + " statements";
    }
    return outcome.statements[0];
}

bool isParseError(std::string_view code)
{
    const Outcome outcome = run(code);
    return outcome.result == 1 && outcome.errors == std::vector<std::string>{"parse error"};
}

using Cases = std::vector<std::pair<std::string, std::string>>;

void expectTrees(const Cases& cases)
{
    for (const auto& [code, expected] : cases)
    {
        EXPECT_EQ(tree(code), expected) << code;
    }
}

void expectParseErrors(const std::vector<std::string>& codes)
{
    for (const std::string& code : codes)
    {
        EXPECT_TRUE(isParseError(code)) << code;
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
        {"x(TRUE, false, TIMEOUT, notfound, INVALIDINPUT, event, EVENTFAILED, TYPE_DATE);",
         "(expr (call x (, (, (, (, (, (, (, 1 0) -1) -2) -3) -4) -5) 6)))"},
        {"x(|a\\|b|);", "(expr (call x |a\\|b|))"},
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
    EXPECT_EQ(run("x();", true, -1, 40).statements[0], "(expr@40 (call@40 x@40))");
}

TEST(ParserTest, StatementIsHandedOverBeforeTheNextTokenIsRead)
{
    // The sink sees the lexer line of the closing ";" or "}".
    EXPECT_EQ(run("a();\n\nb();").compileLines, (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(run("{ a();\n}\n\nb();").compileLines, (std::vector<int32_t>{2, 4}));
    EXPECT_EQ(run("case 1:\n\nx();\n").compileLines, (std::vector<int32_t>{1, 3}));
    EXPECT_EQ(run("if ($a) x(); else\ny();\n\nz();").compileLines, (std::vector<int32_t>{2, 4}));

    // An if without else is complete only once the next token shows it is no "else".
    EXPECT_EQ(run("if ($a) b();\n\n\nc();").compileLines, (std::vector<int32_t>{4, 4}));
    EXPECT_EQ(run("if ($a) b();\n\n").compileLines, (std::vector<int32_t>{3}));
    EXPECT_EQ(run("while ($a) if ($b) c();\n/* x\n*/ d();").compileLines, (std::vector<int32_t>{3, 3}));
}

TEST(ParserTest, ErrorsAreReportedOnTheLineOfTheOffendingToken)
{
    Outcome outcome = run("a();\n\n$b = ;");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.statements.size(), 1u);
    EXPECT_EQ(outcome.errors, std::vector<std::string>{"parse error"});
    EXPECT_EQ(outcome.errorLines, std::vector<int32_t>{3});

    // The offending token's own line feeds are already counted.
    outcome = run("$a = 1\n\"x\ny\";");
    EXPECT_EQ(outcome.errorLines, std::vector<int32_t>{3});

    // The end of the input is the offending token.
    outcome = run("x(\n\n");
    EXPECT_EQ(outcome.errorLines, std::vector<int32_t>{3});

    // The if is completed (and compiled) by the token that then fails.
    outcome = run("if ($a) b();\n)");
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.statements, std::vector<std::string>{"(if $a (expr (call b)))"});
    EXPECT_EQ(outcome.compileLines, std::vector<int32_t>{2});
    EXPECT_EQ(outcome.errorLines, std::vector<int32_t>{2});

    // A comment on the last line without a line feed is code.
    EXPECT_TRUE(isParseError("$x = 1; // note"));
    EXPECT_EQ(run("$x = 1; // note\n").result, 0);
}

TEST(ParserTest, FailedStatementEndsTheParse)
{
    const Outcome outcome = run("a(); b(); c();", false, 2);
    EXPECT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.statements.size(), 2u);
    EXPECT_TRUE(outcome.errors.empty());

    // An empty unit is accepted with nothing to compile.
    const Outcome empty = run(" /* */ \n");
    EXPECT_EQ(empty.result, 0);
    EXPECT_TRUE(empty.statements.empty());
}

std::string repeat(std::string_view piece, size_t count)
{
    std::string result;
    result.reserve(piece.size() * count);
    for (size_t i = 0; i < count; ++i)
    {
        result += piece;
    }
    return result;
}

// Walks a tree without recursing.
class CountingSink : public ParserSink
{
public:
    int compileStatement(SyntaxNode& node) override
    {
        std::vector<const SyntaxNode*> work{&node};
        while (!work.empty())
        {
            const SyntaxNode* current = work.back();
            work.pop_back();
            ++nodes;
            for (const NodePtr& child : current->children)
            {
                if (child)
                {
                    work.push_back(child.get());
                }
            }
        }
        return 0;
    }
    void recordParseError(const char* text) override
    {
        ++errors;
        if (messages.size() < 4)
        {
            messages.emplace_back(text);
        }
    }

    size_t nodes = 0;
    int errors = 0;
    std::vector<std::string> messages;
};

// Deep trees would overflow the recursive printer: these only count nodes.
int parseDeep(const std::string& code, CountingSink& sink)
{
    Lexer lexer;
    lexer.setInput(code);
    lexer.reset(1);
    Parser parser(lexer, sink);
    return parser.parse();
}

void expectAccepted(const std::string& code)
{
    CountingSink sink;
    EXPECT_EQ(parseDeep(code, sink), 0) << code.substr(0, 40);
    EXPECT_EQ(sink.errors, 0);
}

void expectOverflow(const std::string& code)
{
    CountingSink sink;
    EXPECT_EQ(parseDeep(code, sink), 2) << code.substr(0, 40);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"parser stack overflow"});
}

TEST(ParserTest, StackOverflowAtTheTableParsersLimit)
{
    expectOverflow(repeat("(", 100000));
    expectOverflow(repeat("{", 100000));
    expectOverflow(repeat("- ", 100000));
    expectOverflow(repeat("if (1) ", 100000));

    // The deepest nestings that still fit in 10000 entries, and one more.
    expectAccepted("$a = " + repeat("(", 9993) + "1" + repeat(")", 9993) + ";");
    expectOverflow("$a = " + repeat("(", 9994) + "1" + repeat(")", 9994) + ";");
    expectAccepted(repeat("{", 9995) + ";" + repeat("}", 9995));
    expectOverflow(repeat("{", 9996) + ";" + repeat("}", 9996));
    expectAccepted("f(" + repeat("- ", 9994) + "1);");
    expectOverflow("f(" + repeat("- ", 9995) + "1);");
}

TEST(ParserTest, DeepTreesAreBuiltAndFreedWithoutRecursion)
{
    const std::string sum = "$a = 1" + repeat(" + 1", 100000) + ";";
    const std::string block = "{" + repeat("f();", 100000) + "}";
    for (const std::string* code : {&sum, &block})
    {
        CountingSink sink;
        EXPECT_EQ(parseDeep(*code, sink), 0);
        EXPECT_GT(sink.nodes, 200000u);
    }
    // Abandoned by an error at the very end, the deep tree is freed as well.
    CountingSink sink;
    EXPECT_EQ(parseDeep("$a = 1" + repeat(" . 1", 100000) + " )", sink), 1);
    EXPECT_EQ(sink.messages, std::vector<std::string>{"parse error"});
}

TEST(ParserTest, RandomInputNeverCrashesOrHangs)
{
    static const char* const kPieces[] = {"(",    ")",      "[",    "]",       "{",     "}",      ";",        ":",
                                          "?",    ",",      "=",    "+=",      "++",    "-",      "!",        "+",
                                          "*",    ".",      "&&",   "<",       "1",     "2.5",    "\"q\"",    "|w|",
                                          "TRUE", "$a",     "&$r",  "f",       "if",    "else",   "while",    "for",
                                          "to",   "switch", "case", "default", "break", "return", "function", "global",
                                          "exit", "@",      "\n",   "/*",      "#",     "\"",     "|"};
    std::mt19937 random(12345);
    Lexer lexer;
    CountingSink sink;
    int accepted = 0;
    for (int round = 0; round < 4000; ++round)
    {
        std::string code;
        const int length = static_cast<int>(random() % 60);
        for (int i = 0; i < length; ++i)
        {
            if (round % 2 == 0)
            {
                code.push_back(static_cast<char>(random() % 256));
            }
            else
            {
                code += kPieces[random() % std::size(kPieces)];
                code += ' ';
            }
        }
        lexer.setInput(code);
        lexer.reset(1);
        Parser parser(lexer, sink);
        const int result = parser.parse();
        ASSERT_TRUE(result == 0 || result == 1) << code;
        accepted += result == 0 ? 1 : 0;
    }
    // Mostly garbage, but not only.
    EXPECT_GT(accepted, 0);
    EXPECT_GT(sink.errors, 2000);
}

} // namespace
} // namespace tn
