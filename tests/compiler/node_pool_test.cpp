// Reuse of syntax nodes: a recycled node must look new, trees of any depth
// go back without recursion, and a parser that reuses its nodes builds the
// same trees as a fresh one.
#include "compiler/lexer.h"
#include "compiler/parser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace tn;

namespace
{

void ExpectDefault(const SyntaxNode& node)
{
    const SyntaxNode fresh;
    EXPECT_EQ(node.kind, fresh.kind);
    EXPECT_EQ(node.line, fresh.line);
    EXPECT_EQ(node.op, fresh.op);
    EXPECT_EQ(node.intValue, fresh.intValue);
    EXPECT_EQ(node.floatValue, fresh.floatValue);
    EXPECT_EQ(node.badByte, fresh.badByte);
    EXPECT_EQ(node.byRef, fresh.byRef);
    EXPECT_TRUE(node.text.empty());
    EXPECT_TRUE(node.children.empty());
}

// Every field of every node, so that a stale field left by reuse shows.
void Print(const SyntaxNode* node, std::ostream& out)
{
    if (!node)
    {
        out << '_';
        return;
    }
    out << '(' << static_cast<int>(node->kind) << ' ' << node->line << ' ' << node->op << ' ' << node->intValue << ' '
        << node->floatValue << ' ' << int(node->badByte) << ' ' << node->byRef << " [" << node->text << ']';
    for (const NodePtr& child : node->children)
    {
        out << ' ';
        Print(child.get(), out);
    }
    out << ')';
}

class PrintingSink : public ParserSink
{
  public:
    int compileStatement(SyntaxNode& node) override
    {
        Print(&node, out);
        out << '\n';
        return 0;
    }
    void recordParseError(const char* text) override { out << "error: " << text << '\n'; }
    std::ostringstream out;
};

void ParseWith(Parser& parser, Lexer& lexer, const std::string& code)
{
    lexer.setInput(code);
    lexer.reset(1);
    parser.parse();
}

} // namespace

TEST(SyntaxNodePool, RecycledNodesComeBackAsNew)
{
    SyntaxNodePool pool;
    NodePtr parent = pool.acquire();
    parent->kind = NodeKind::Variable;
    parent->line = 7;
    parent->op = 42;
    parent->intValue = 5;
    parent->floatValue = 2.5;
    parent->badByte = 9;
    parent->byRef = true;
    parent->text = std::string(1000, 'x'); // longer than the pool keeps
    NodePtr child = pool.acquire();
    child->kind = NodeKind::StringLiteral;
    child->text = "\"s\"";
    const SyntaxNode* first = parent.get();
    const SyntaxNode* second = child.get();
    parent->children.push_back(std::move(child));
    parent->children.push_back(nullptr);
    pool.release(std::move(parent));

    NodePtr a = pool.acquire();
    NodePtr b = pool.acquire();
    // Both nodes are reused, and both look new.
    EXPECT_TRUE((a.get() == first && b.get() == second) || (a.get() == second && b.get() == first));
    ExpectDefault(*a);
    ExpectDefault(*b);
    EXPECT_LE(a->text.capacity() + b->text.capacity(), 600u);
    pool.release(nullptr); // ignored
}

TEST(SyntaxNodePool, DeepTreesAreReleasedWithoutRecursion)
{
    SyntaxNodePool pool;
    NodePtr root = pool.acquire();
    SyntaxNode* tip = root.get();
    for (int i = 0; i < 300000; ++i)
    {
        tip->children.push_back(pool.acquire());
        tip = tip->children.back().get();
    }
    pool.release(std::move(root));
    for (int i = 0; i < 100; ++i)
        ExpectDefault(*pool.acquire());
}

TEST(SyntaxNodePool, AParserThatReusesNodesBuildsTheSameTrees)
{
    // Statements that set every kind of field, then the same statements
    // again: the second round is built from recycled nodes.
    const std::string program = "function f($a, &$b) { global $g; $b = $a . \"x\" . |raw|; return -1.5; }\n"
                                "$v[2] = f(TRUE, $w) ? 7 : $z++;\n"
                                "switch ($s) { case -3: case \"k\": break; default: exit; }\n"
                                "for ($i = 1 to 10) { while (!$q) { continue; } }\n"
                                "if ($a >= 2 && $b != 3) { ; } else { $c .= 'bad'; }\n";
    Lexer lexer;
    PrintingSink reusedSink;
    Parser reused(lexer, reusedSink);
    ParseWith(reused, lexer, program);
    const std::string firstRound = reusedSink.out.str();
    reusedSink.out.str("");
    ParseWith(reused, lexer, program);
    EXPECT_EQ(reusedSink.out.str(), firstRound);

    PrintingSink freshSink;
    Parser fresh(lexer, freshSink);
    ParseWith(fresh, lexer, program);
    EXPECT_EQ(freshSink.out.str(), firstRound);
    // The program has a bad byte ("'") and so ends with a parse error.
    EXPECT_NE(firstRound.find("error: parse error"), std::string::npos);
    EXPECT_NE(firstRound.find("[raw]"), std::string::npos);
}
