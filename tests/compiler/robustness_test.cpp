// Thousands of mutations of valid programs (bytes dropped, doubled, replaced,
// tokens inserted) must compile without crashing or hanging. Every image that
// compiles must be well formed: whole instructions, jumps and calls landing
// on instruction starts, one header per block; and it must run, up to a
// nearby instruction limit, alike every way the machine can run it.
#include "compiler/compile_run.h"
#include "hostlib/host_functions.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
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
    std::vector<std::pair<int32_t, int32_t>> targets; // jump or call at, target
    for (int32_t pc = 0; pc < size;)
    {
        const int32_t at = pc++;
        starts[static_cast<size_t>(at)] = true;
        const uint8_t op = code[at];
        switch (kOpTable[op].operand)
        {
        case OperandKind::None:
            break;
        case OperandKind::Int32:
            if ((pc += 4) > size) return "cut int operand at " + std::to_string(at);
            if (isJumpOpcode(op) || op == uint8_t(Op::CALL)) targets.push_back({at, pc + readInt32LE(code + pc - 4)});
            break;
        case OperandKind::Double:
            if ((pc += 8) > size) return "cut double operand at " + std::to_string(at);
            break;
        case OperandKind::String:
            while (pc < size && code[pc] != 0)
                ++pc;
            if (pc++ >= size) return "unterminated string at " + std::to_string(at);
            break;
        default:
            return "invalid opcode " + std::to_string(op) + " at " + std::to_string(at);
        }
    }
    starts[static_cast<size_t>(size)] = true; // a jump may land on the end
    for (const auto& [at, to] : targets)
    {
        if (to < 0 || to > size || !starts[static_cast<size_t>(to)])
            return "target of " + std::to_string(at) + " is not an instruction";
        const uint8_t entry = to < size ? code[to] : 0;
        if (code[at] == uint8_t(Op::CALL) && entry != uint8_t(Op::PUSHINT) && entry != uint8_t(Op::ENTER))
            return "call at " + std::to_string(at) + " does not enter a function";
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
    const ereturnvalue result = Compiler::instance().compile(HostFunctionSets(), image, sources, results, "fuzz.htm");
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
    std::string name;
    for (const std::string& code : codes)
        name += code + "\n";
    RunEveryWay(image, name, 5000);
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

TEST(CompilerRobustness, MutatedPrograms)
{
    int compiled = 0;
    for (const char* seed : kSeeds)
        EXPECT_EQ(CompileAndCheck({seed}, compiled), "") << seed;
    EXPECT_EQ(compiled, int(std::size(kSeeds)));
    Fuzz(37, 3000, &Generator::mutation, 60);
}

// Nesting thousands deep, and long left-nested chains, are
// compiled, freed and reused without recursion.
TEST(CompilerRobustness, DeepAndLongTreesCompileAndRun)
{
    const auto repeat = [](std::string_view piece, int count)
    {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += piece;
        return text;
    };
    int compiled = 0;
    for (const std::string& code : {"echo(" + repeat("(", 5000) + "1" + repeat(")", 5000) + ");",
                                    "$x = " + repeat("- ", 5000) + "1;", repeat("if (1) ", 2000) + "echo(1);"})
        ASSERT_EQ(CompileAndCheck({code}, compiled), "") << code.substr(0, 20);
    EXPECT_EQ(compiled, 3);

    const std::string chains = "echo(1" + repeat(" + 1", 199999) + ", \" \"); {" + repeat("$n += 2;", 200000) + "}" +
                               "echo($n, \" \", \"a\"" + repeat(", \"a\"", 4999) + ");";
    EXPECT_EQ(RunOutput(chains), "200000 400000 " + std::string(5000, 'a'));
    // Abandoned by an error at its very end, a long tree is freed as well.
    EXPECT_EQ(CompileBlocks({{1, 1, true, "$a = 1" + repeat(" . 1", 100000) + " )"}}, "p", Runs::None).compileMessage(),
              "parse error");
}
