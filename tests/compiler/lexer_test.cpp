#include "compiler/lexer.h"
#include "compiler/token_names.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>

namespace tn
{
namespace
{

using test::TokenName;

// The tokens of [code] as text: keywords and operators by name, the others as
// "kind:value". From [firstLine] on, each token gets "@line" and "end@line" closes.
std::string lex(std::string_view code, std::optional<int32_t> firstLine = {})
{
    Lexer lexer;
    lexer.setInput(code);
    lexer.reset(firstLine.value_or(1));
    TokenValue v;
    std::ostringstream out;
    for (int n = 0; n < 1000000; ++n)
    {
        const int32_t t = lexer.nextToken(v);
        if (t == T_END && !firstLine) break;
        out << (n ? " " : "") << (t == T_END ? "end" : TokenName(t));
        if (t == T_BADCHAR)
            out << ':' << int(v.byte);
        else if (t == T_INTEGER || (t >= T_TRUE && t <= T_EVENTFAILED))
            out << ':' << v.integer;
        else if (t == T_FLOAT)
            out << ':' << v.real;
        else if (t >= T_STRING && t <= T_REFVARIABLE)
            out << ':' << v.text;
        if (firstLine) out << '@' << v.line;
        if (t == T_END) break;
    }
    return out.str();
}

using Cases = std::vector<std::pair<std::string, std::string>>;

void expectTokens(const Cases& cases, std::optional<int32_t> firstLine = {})
{
    for (const auto& [code, expected] : cases)
        EXPECT_EQ(lex(code, firstLine), expected) << testing::PrintToString(code);
}

TEST(LexerTest, KeywordsConstantsAndNames)
{
    expectTokens({
        {"IF If if wHiLe ELSE Function TO", "if if if while else function to"},
        {"break continue return global exit for switch case default",
         "break continue return global exit for switch case default"},
        // constant keywords only all in capitals or all in small letters
        {"TRUE true True FALSE tImEoUt notfound INVALIDINPUT event EVENTFAILED TIMEOUT",
         "TRUE:1 TRUE:1 name:True FALSE:0 name:tImEoUt NOTFOUND:-2 INVALIDINPUT:-3 EVENT:-4 EVENTFAILED:-5 TIMEOUT:-1"},
        {"whilex TRUE1 if_ _if", "name:whilex name:TRUE1 name:if_ name:_if"},
        {"TYPE_NULL TYPE_INT TYPE_FLAGS32 TYPE_ARRAY TYPE_STRING TYPE_REFERENCE TYPE_DATE TYPE_FLOAT type_int "
         "TYPE_INTX TYPE_",
         "int:0 int:1 int:2 int:3 int:4 int:5 int:6 int:7 name:type_int name:TYPE_INTX name:TYPE_"},
        // "$1" and "&$" have no name after the "$"
        {"$a_1 &$ref $ $1 &$ & &&$x", "var:$a_1 ref:&$ref bad:36 bad:36 int:1 bad:38 bad:36 bad:38 && var:$x"},
    });
}

TEST(LexerTest, OperatorsTakeTheLongestMatch)
{
    expectTokens({
        {">= <= == != && || += -= *= /= .= %= ++ --", ">= <= == != && || += -= *= /= .= %= ++ --"},
        {"! % [ ] ( ) * + , - . / : ; < = > ? { }", "! % [ ] ( ) * + , - . / : ; < = > ? { }"},
        {"+++---", "++ + -- -"},
        {"a*/b", "name:a * / name:b"},
    });
}

// A token's second byte may be missing (end of input) or a NUL byte; neither
// may extend the token.
TEST(LexerTest, OperatorsAtTheEndOfTheInput)
{
    expectTokens({
        {"x+", "name:x +"},
        {"x-", "name:x -"},
        {"!", "!"},
        {"<", "<"},
        {"%", "%"},
        {"/", "/"},
        {"&", "bad:38"},
        {"&$", "bad:38 bad:36"},
        {"|", "bad:124"},
        {"#", "bad:35"},
        {"$", "bad:36"},
        {"\"", "bad:34"},
        {std::string("+\0=", 3), "+ bad:0 ="},
        {std::string("&\0", 2), "bad:38 bad:0"},
        {std::string("|\0|", 3), std::string("raw:|\0|", 7)}, // inside a string NUL is plain text
    });
}

TEST(LexerTest, Strings)
{
    expectTokens({
        {"$a||$b", "var:$a || var:$b"},
        {"||", "||"},
        // a backslash takes the next byte, bar or quote included, and stays in the text
        {"|a\\|b| x", "raw:|a\\|b| name:x"},
        {R"("a\"b\\" x)", R"(str:"a\"b\\" name:x)"},
        // unclosed: the delimiter is an invalid character and scanning goes on after it
        {"|a", "bad:124 name:a"},
        {"\"ab c", "bad:34 name:ab name:c"},
        // a backslash before a line feed ends the item list, so the string does not close there
        {"|a\\\nb|", "bad:124 name:a bad:92 name:b bad:124"},
        {"\"a\\\nb\"", "bad:34 name:a bad:92 name:b bad:34"},
    });
    // Line feeds belong to the string; the token keeps its first line.
    expectTokens({{"|a\nb\nc| x", "raw:|a\nb\nc|@5 name:x@7 end@7"}}, 5);
    expectTokens({{"x = \"one\ntwo\nthree\";\ny", "name:x@10 =@10 str:\"one\ntwo\nthree\"@10 ;@12 name:y@13 end@13"}},
                 10);
}

TEST(LexerTest, ManyUnclosedQuotesScanInLinearTime)
{
    // Each escaped quote or bar would start another scan to the end of the
    // text; without a linear bound this takes minutes.
    std::string code = "\"", expected = "bad:34";
    for (int i = 0; i < 200000; ++i)
        code += "\\\"", expected += " bad:92 bad:34";
    code += "|", expected += " bad:124";
    for (int i = 0; i < 200000; ++i)
        code += "\\|", expected += " bad:92 bad:124";
    EXPECT_TRUE(lex(code) == expected);
}

TEST(LexerTest, Comments)
{
    expectTokens({
        {"a /* b\n * c **/ d", "name:a name:d"},
        {"/* /* */ x */", "name:x * /"}, // no nesting
        {"a /* open to the end", "name:a"},
        // on the last line without a line feed these are not comments
        {"x; // note", "name:x ; / / name:note"},
        {"x; # note", "name:x ; bad:35 name:note"},
        {"//= x", "/ /= name:x"},
        {"//* x */ y", "/ name:y"},
        {"// /* \nx */", "name:x * /"}, // "/*" inside a line comment opens nothing
    });
    expectTokens({{"/*\n\n*/x /* \n", "name:x@5 end@6"}}, 3);
    expectTokens({{"a # hash\nb // slash\nc", "name:a@1 name:b@2 name:c@3 end@3"}, {"#\n#\nx", "name:x@3 end@3"}}, 1);
    // The closing line feed counts once; below line 1 the give-back does not lower the counter.
    expectTokens({{"#\nx", "name:x@2 end@2"}}, 0);
}

TEST(LexerTest, NumbersAndInvalidCharacters)
{
    expectTokens({
        {"4294967297 007 2147483648 1.5.5 5. .5 1.5e3 0.25",
         "int:1 int:7 int:-2147483648 float:1.5 . int:5 int:5 . . int:5 float:1.5 name:e3 float:0.25"},
        {std::string(400, '9') + ".5 0." + std::string(400, '0') + "1", "float:inf float:0"},
        {std::string("@`\\^~'\x7f\x80\xff\v") + std::string(1, '\0') + "x",
         "bad:64 bad:96 bad:92 bad:94 bad:126 bad:39 bad:127 bad:128 bad:255 bad:11 bad:0 name:x"},
        {" \t\r\n\f", ""}, // white space
    });
}

TEST(LexerTest, LongTokensAreCutButConsumedWhole)
{
    const std::string name(4000, 'n');
    EXPECT_EQ(lex(name + " x"), "name:" + name.substr(0, kMaxTokenText) + " name:x");
    // A cut string has lost its closing quote; line feeds past the cut still count.
    EXPECT_EQ(lex("\"" + std::string(3100, 's') + "\n\" y", 1),
              "str:\"" + std::string(kMaxTokenText - 1, 's') + "@1 name:y@2 end@2");
    EXPECT_EQ(lex("$" + std::string(3100, 'v')), "var:$" + std::string(kMaxTokenText - 1, 'v'));
}

// The compile driver reuses one lexer for every unit.
TEST(LexerTest, ResetRestartsAtTheBeginningOutsideAComment)
{
    Lexer lexer;
    TokenValue value;
    const std::string code = "a\nb /* open", next = "y";
    lexer.setInput(code);
    lexer.reset(7);
    EXPECT_EQ(lexer.nextToken(value), T_IDENTIFIER);
    EXPECT_EQ(lexer.nextToken(value), T_IDENTIFIER);
    EXPECT_EQ(value.line, 8);
    EXPECT_EQ(lexer.nextToken(value), T_END);
    EXPECT_EQ(lexer.nextToken(value), T_END);
    lexer.reset(20);
    EXPECT_EQ(lexer.nextToken(value), T_IDENTIFIER);
    EXPECT_EQ(value.text, "a");
    EXPECT_EQ(value.line, 20);
    lexer.setInput(next);
    lexer.reset(1);
    EXPECT_EQ(lexer.nextToken(value), T_IDENTIFIER);
}

TEST(LexerTest, DecodeStringLiteral)
{
    const Cases cases = {
        {R"("a\\")", "a\\"},  {R"("\n\r\t\q\"\$")", "\n\r\tq\"$"},
        {"'x'", "x"},         {"\"x'", "\"x'"}, // mismatched ends stay
        {"\"", "\""},         {"\"\"", ""},
        {"\"ab\\", "\"ab\\"}, // cut text: the trailing backslash stays
    };
    for (const auto& [literal, value] : cases)
        EXPECT_EQ(DecodeStringLiteral(literal), value) << literal;
}

} // namespace
} // namespace tn
