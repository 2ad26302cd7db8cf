// Thousands of generated inputs (random bytes, token soup, mutations of
// valid programs) must compile without crashing or hanging. Every image that
// compiles must be well formed: whole instructions, jumps and calls landing
// on instruction starts, one header per block; and it must run a bounded
// slice without crashing.
#include "compiler/compile_run.h"
#include "hostlib/host_functions.h"

#include <gtest/gtest.h>

#include <map>
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

// The language's shapes: each upper-case letter stands for one of its forms,
// which are separated by "~".
const std::map<char, std::string_view> kGrammar = {
    {'G', "Q~QQ~QQQ~QQQQ~QQQQQ~QQQQQQ"}, // a program
    {'Q', "S~S~S~function F(P) { S}\n"},
    {'S', "if (E) S~if (E) S else S~while (V < N) { V++; S}\n~for (V = E to E) S~switch (V) { L S}\n~{ S S}\n~"
          "break;\n~continue;\n~global V;\n~return E;\n~exit;\n~case N:\n~T = E;\n~T .= E;\n~"
          "E;\n~E;\n~E;\n~E;\n~E;\n~E;\n"},
    {'E', "N~\"tN\"~V[E]~V++~V--~-E~(E ? E : E)~C(A)~V~E O E~E O E"},
    {'T', "V~V~V[E]"}, // assignment target
    {'V', "$a~$b~$c~$g"},
    {'N', "0~1~2~3~42"},
    {'C', "f~g~echo~count"},
    {'A', "~E~E, E"}, // arguments
    {'O', "+~-~*~/~%~.~<~>~<=~>=~==~!=~&&~||"},
    {'L', "K ~K K ~K K K "}, // case labels
    {'K', "default:~case -1:~case 0:~case 1:"},
    {'F', "f~g~echo"},
    {'P', "~R~R, R"}, // parameters
    {'R', "$p~$q~$a~$p~$q~$a~&$p~&$q~&$a"},
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
    std::string program() { return expand('G', 0, 0); }

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
    // [symbol] replaced by one of its forms, whose upper-case letters are
    // expanded in turn; past a depth, expressions and statements stay flat.
    std::string expand(char symbol, int expressionDepth, int statementDepth)
    {
        if (symbol == 'E' && expressionDepth > 3) return expand(pick(2) ? 'V' : 'N', 0, 0);
        if (symbol == 'S' && statementDepth > 3) return "echo(" + expand('E', 2, 0) + ");\n";
        if (symbol == 'E') ++expressionDepth;
        if (symbol == 'S') ++statementDepth, expressionDepth = 1;
        std::vector<std::string_view> forms;
        std::string_view all = kGrammar.at(symbol);
        for (size_t cut; (cut = all.find('~')) != std::string_view::npos; all.remove_prefix(cut + 1))
            forms.push_back(all.substr(0, cut));
        forms.push_back(all);
        std::string out;
        for (const char c : forms[static_cast<size_t>(pick(static_cast<int>(forms.size())))])
            out += c >= 'A' && c <= 'Z' ? expand(c, expressionDepth, statementDepth) : std::string(1, c);
        return out;
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
    VirtualMachine vm{HostFunctionSets()};
    const ereturnvalue result = Compiler::instance().compile(vm.functionSets(), image, sources, results, "fuzz.htm");
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
