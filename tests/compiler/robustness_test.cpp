// Thousands of generated inputs (random bytes, token soup, mutations of
// valid programs) must compile without crashing or hanging. Every image that
// compiles must be well formed: whole instructions, jumps and calls landing
// on instruction starts, one header per block; and it must run a bounded
// slice without crashing.
#include "compiler/compile_run.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

using namespace tn;
using namespace tn::test;

namespace
{

// "" when the code is well formed, else what is wrong with it.
std::string CheckLayout(const ProgramImage& image)
{
    const uint8_t* code = image.code();
    const int32_t size = image.codeSize();
    std::vector<bool> starts(static_cast<size_t>(size) + 1, false);
    struct Target
    {
        int32_t from;
        int32_t to;
        bool call;
    };
    std::vector<Target> targets;
    int32_t pc = 0;
    while (pc < size)
    {
        starts[static_cast<size_t>(pc)] = true;
        const uint8_t op = code[pc];
        const OperandKind kind = kOpTable[op].operand;
        const int32_t at = pc++;
        switch (kind)
        {
        case OperandKind::None:
            break;
        case OperandKind::Int32:
        {
            if (pc + 4 > size) return "cut int operand at " + std::to_string(at);
            const int32_t operand = readInt32LE(code + pc);
            pc += 4;
            if (isJumpOpcode(op) || op == uint8_t(Op::CALL))
                targets.push_back({at, pc + operand, op == uint8_t(Op::CALL)});
            break;
        }
        case OperandKind::Double:
            if (pc + 8 > size) return "cut double operand at " + std::to_string(at);
            pc += 8;
            break;
        case OperandKind::String:
            while (pc < size && code[pc] != 0)
                ++pc;
            if (pc >= size) return "unterminated string at " + std::to_string(at);
            ++pc;
            break;
        default:
            return "invalid opcode " + std::to_string(op) + " at " + std::to_string(at);
        }
    }
    starts[static_cast<size_t>(size)] = true; // a jump may land on the end
    for (const Target& t : targets)
    {
        if (t.to < 0 || t.to > size || !starts[static_cast<size_t>(t.to)])
            return "target of " + std::to_string(t.from) + " is not an instruction";
        if (t.call)
        {
            const uint8_t entry = t.to < size ? code[t.to] : 0;
            if (entry != uint8_t(Op::PUSHINT) && entry != uint8_t(Op::ENTER))
                return "call at " + std::to_string(t.from) + " does not enter a function";
        }
    }
    return {};
}

const char* const kSeeds[] = {
    "$n = 3; for ($i = 1 to $n) { echo($i); if ($i == 2) continue; $n = $n; }\n",
    "function f($a, &$b) { global $g; $b = $a . $g; return $a + 1; }\n$g = \"x\"; $r = f(1, $q); echo($r, $q);\n",
    "switch ($x) { case 1: echo(1); case \"a\": ; case -2.5: break; default: echo(\"d\"); }\n",
    "$i = 0; while ($i < 10) { $i++; if ($i % 2) { continue; } else { echo($i); } if ($i > 7) break; }\n",
    "$a[1] = 2; $a[$a[1]] += 3; $b = $a[2]-- ? |raw| : !$c && ($d || -$e); echo($b);\n",
    "#comment\n/* block */ $s = \"esc\\t\\\"q\\\"\"; // line\n$t = TRUE . FALSE . TYPE_INT . 1.5; exit;\n",
    "function fact($n) { if ($n <= 1) return 1; return $n * fact($n - 1); } echo(fact(5));\n",
};

const char* const kTokens[] = {
    "$a",      "$b",    "&$r",  "f",     "echo",     "count",    "(",      ")",      "{",      "}",
    "[",       "]",     ";",    ",",     ":",        "?",        "=",      "+=",     "-=",     ".=",
    "%=",      "++",    "--",   "+",     "-",        "*",        "/",      "%",      ".",      "<",
    ">",       "<=",    ">=",   "==",    "!=",       "&&",       "||",     "!",      "1",      "0",
    "2.5",     "\"s\"", "|r|",  "TRUE",  "NOTFOUND", "while",    "for",    "to",     "switch", "case",
    "default", "if",    "else", "break", "continue", "function", "return", "global", "exit",   "#include \"x\"",
    "\n",      " ",     "@",    "/*",    "*/",       "//",       "#",
};

class Generator
{
  public:
    explicit Generator(uint32_t seed) : random_(seed) {}

    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }

    std::string randomBytes()
    {
        std::string text(static_cast<size_t>(pick(120)), '\0');
        for (char& c : text)
            c = static_cast<char>(pick(3) == 0 ? pick(256) : " \n;(){}$a1+=\"|#*/"[pick(17)]);
        return text;
    }

    std::string tokenSoup()
    {
        std::string text;
        const int count = 1 + pick(40);
        for (int i = 0; i < count; ++i)
        {
            text += kTokens[pick(static_cast<int>(std::size(kTokens)))];
            text += ' ';
        }
        return text;
    }

    std::string mutation()
    {
        std::string text = kSeeds[pick(static_cast<int>(std::size(kSeeds)))];
        const int edits = 1 + pick(4);
        for (int i = 0; i < edits && !text.empty(); ++i)
        {
            const size_t at = static_cast<size_t>(pick(static_cast<int>(text.size())));
            const size_t length = std::min(text.size() - at, static_cast<size_t>(1 + pick(8)));
            switch (pick(4))
            {
            case 0:
                text.erase(at, length);
                break;
            case 1:
                text.insert(at, text.substr(at, length));
                break;
            case 2:
                text.insert(at, kTokens[pick(static_cast<int>(std::size(kTokens)))]);
                break;
            default:
                text[at] = static_cast<char>(pick(256));
                break;
            }
        }
        return text;
    }

    // A syntactically valid program; its statements may still be misplaced
    // (break outside loops, case outside switch, calls to undefined functions).
    std::string program()
    {
        std::string text;
        const int count = 1 + pick(6);
        for (int i = 0; i < count; ++i)
            text += pick(4) == 0 ? function() : statement(0);
        return text;
    }

    // Splits [text] into one to three blocks, cutting after a ";", "}" or line break.
    std::vector<std::string> blocks(const std::string& text)
    {
        std::vector<std::string> parts;
        size_t from = 0;
        const int cuts = pick(3);
        for (int i = 0; i < cuts && from < text.size(); ++i)
        {
            const size_t cut = text.find_first_of(";}\n", from + static_cast<size_t>(pick(40)));
            if (cut == std::string::npos) break;
            parts.push_back(text.substr(from, cut + 1 - from));
            from = cut + 1;
        }
        parts.push_back(text.substr(from));
        return parts;
    }

  private:
    std::string variable() { return std::string("$") + "abcg"[pick(4)]; }

    std::string expression(int depth)
    {
        if (depth > 3) return pick(2) ? variable() : std::to_string(pick(5));
        switch (pick(10))
        {
        case 0:
            return std::to_string(pick(100));
        case 1:
            return "\"t" + std::to_string(pick(3)) + "\"";
        case 2:
            return variable() + "[" + expression(depth + 1) + "]";
        case 3:
            return variable() + (pick(2) ? "++" : "--");
        case 4:
            return "-" + expression(depth + 1);
        case 5:
            return "(" + expression(depth + 1) + " ? " + expression(depth + 1) + " : " + expression(depth + 1) + ")";
        case 6:
        {
            static const char* const names[] = {"f", "g", "echo", "count"};
            std::string call = std::string(names[pick(4)]) + "(";
            const int arguments = pick(3);
            for (int i = 0; i < arguments; ++i)
                call += (i ? ", " : "") + expression(depth + 1);
            return call + ")";
        }
        case 7:
            return variable();
        default:
        {
            static const char* const operators[] = {"+", "-",  "*",  "/",  "%",  ".",  "<",
                                                    ">", "<=", ">=", "==", "!=", "&&", "||"};
            return expression(depth + 1) + " " + operators[pick(14)] + " " + expression(depth + 1);
        }
        }
    }

    std::string target() { return pick(3) ? variable() : variable() + "[" + expression(2) + "]"; }

    std::string statement(int depth)
    {
        if (depth > 3) return "echo(" + expression(2) + ");\n";
        switch (pick(14))
        {
        case 0:
            return "if (" + expression(1) + ") " + statement(depth + 1) +
                   (pick(2) ? "else " + statement(depth + 1) : std::string());
        case 1:
            return "while (" + variable() + " < " + std::to_string(pick(4)) + ") { " + variable() + "++; " +
                   statement(depth + 1) + "}\n";
        case 2:
            return "for (" + variable() + " = " + expression(2) + " to " + expression(2) + ") " + statement(depth + 1);
        case 3:
        {
            std::string body;
            const int labels = 1 + pick(3);
            for (int i = 0; i < labels; ++i)
                body += pick(4) == 0 ? std::string("default: ") : "case " + std::to_string(pick(3) - 1) + ": ";
            return "switch (" + variable() + ") { " + body + statement(depth + 1) + "}\n";
        }
        case 4:
            return "{ " + statement(depth + 1) + statement(depth + 1) + "}\n";
        case 5:
            return pick(2) ? "break;\n" : "continue;\n";
        case 6:
            return "global " + variable() + ";\n";
        case 7:
            return pick(2) ? "return " + expression(1) + ";\n" : "exit;\n";
        case 8:
            return "case " + std::to_string(pick(3)) + ":\n";
        case 9:
            return target() + " " + std::string(pick(2) ? "=" : ".=") + " " + expression(0) + ";\n";
        default:
            return expression(0) + ";\n";
        }
    }

    std::string function()
    {
        const char* const names[] = {"f", "g", "echo"};
        std::string text = std::string("function ") + names[pick(3)] + "(";
        const int parameters = pick(3);
        for (int i = 0; i < parameters; ++i)
            text += (i ? ", " : "") + std::string(pick(3) ? "$" : "&$") + "pqa"[pick(3)];
        return text + ") { " + statement(1) + "}\n";
    }

    std::mt19937 random_;
};

// Compiles [codes] and checks everything the compile promises; "" when fine.
std::string CompileAndCheck(const std::vector<std::string>& codes, int& compiled)
{
    std::vector<BlockSource> sources;
    for (size_t i = 0; i < codes.size(); ++i)
        sources.push_back({static_cast<int32_t>(1 + 3 * i), static_cast<int32_t>(i) + 1, i % 2 == 0, codes[i]});
    ProgramImage image;
    std::vector<BlockCompileResult> results;
    VirtualMachine vm;
    const ereturnvalue result = Compiler::instance().compile(vm, image, sources, results, "fuzz.htm");
    if (results.size() != codes.size()) return "one result per block expected";
    if (result != ereturnvalue::OK)
    {
        for (const BlockCompileResult& block : results)
            if (!block.ok) return block.message.empty() ? "failed block without a message" : "";
        return "failed compile without a failed block";
    }
    ++compiled;
    for (const BlockCompileResult& block : results)
        if (!block.ok || !block.message.empty()) return "compiled block with an error";
    if (const std::string problem = CheckLayout(image); !problem.empty()) return problem;
    if (image.scan() != static_cast<int32_t>(codes.size())) return "one block header per block expected";
    vm.attach(&image);
    std::string message;
    vm.continueRun(5000, true, message);
    return {};
}

void Fuzz(uint32_t seed, int rounds, std::string (Generator::*make)(), int minimumCompiled)
{
    Generator generator(seed);
    int compiled = 0;
    for (int round = 0; round < rounds; ++round)
    {
        const std::string text = (generator.*make)();
        const std::string problem = CompileAndCheck(generator.blocks(text), compiled);
        ASSERT_EQ(problem, "") << "input: " << testing::PrintToString(text);
    }
    // The generators must reach the back end, not only the parser's errors.
    EXPECT_GE(compiled, minimumCompiled);
}

} // namespace

TEST(CompilerRobustness, RandomBytes)
{
    Fuzz(11, 3000, &Generator::randomBytes, 20);
}

TEST(CompilerRobustness, TokenSoup)
{
    Fuzz(23, 3000, &Generator::tokenSoup, 20);
}

TEST(CompilerRobustness, MutatedPrograms)
{
    Fuzz(37, 3000, &Generator::mutation, 60);
}

TEST(CompilerRobustness, GeneratedPrograms)
{
    Fuzz(41, 3000, &Generator::program, 200);
}

TEST(CompilerRobustness, SeedsCompile)
{
    int compiled = 0;
    for (const char* seed : kSeeds)
        EXPECT_EQ(CompileAndCheck({seed}, compiled), "") << seed;
    EXPECT_EQ(compiled, static_cast<int>(std::size(kSeeds)));
}

TEST(CompilerRobustness, DeepNestingStaysWithinTheParserLimit)
{
    int compiled = 0;
    for (const int depth : {100, 3000, 20000})
    {
        const std::string parens =
            std::string(static_cast<size_t>(depth), '(') + "1" + std::string(static_cast<size_t>(depth), ')');
        std::string negations;
        for (int i = 0; i < depth; ++i)
            negations += "-";
        std::string ifs;
        for (int i = 0; i < depth; ++i)
            ifs += "if (1) ";
        for (const std::string& code : {"echo(" + parens + ");", "$x = " + negations + "1;", ifs + "echo(1);"})
            ASSERT_EQ(CompileAndCheck({code}, compiled), "") << depth;
    }
    EXPECT_GE(compiled, 3);
}
