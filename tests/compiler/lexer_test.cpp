#include "compiler/lexer.h"
#include "compiler/tokens.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tn
{
namespace
{

struct Scanned
{
    int32_t code;
    std::string text;
    int32_t integer;
    double real;
    uint8_t byte;
    int32_t line;      // the token's own line
    int32_t lineAfter; // the lexer's counter once the token is read
};

std::vector<Scanned> scan(std::string_view code, int32_t firstLine = 1)
{
    Lexer lexer;
    lexer.setInput(code);
    lexer.reset(firstLine);
    TokenValue value;
    std::vector<Scanned> tokens;
    for (;;)
    {
        const int32_t code = lexer.nextToken(value);
        tokens.push_back({code, value.text, value.integer, value.real, value.byte, value.line, lexer.line()});
        if (code == T_END || tokens.size() > 100000)
        {
            return tokens;
        }
    }
}

std::vector<int32_t> codes(std::string_view code)
{
    std::vector<int32_t> result;
    for (const Scanned& token : scan(code))
    {
        result.push_back(token.code);
    }
    return result;
}

using Codes = std::vector<int32_t>;

TEST(LexerTest, KeywordsAndNames)
{
    EXPECT_EQ(codes("IF If if wHiLe ELSE Function TO"),
              (Codes{T_IF, T_IF, T_IF, T_WHILE, T_ELSE, T_FUNCTION, T_TO, 0}));
    EXPECT_EQ(codes("break continue return global exit for switch case default"),
              (Codes{T_BREAK, T_CONTINUE, T_RETURN, T_GLOBAL, T_EXIT, T_FOR, T_SWITCH, T_CASE, T_DEFAULT, 0}));
    // Constant keywords only all in capitals or all in small letters.
    EXPECT_EQ(codes("TRUE true True FALSE tImEoUt notfound INVALIDINPUT event EVENTFAILED"),
              (Codes{T_TRUE, T_TRUE, T_IDENTIFIER, T_FALSE, T_IDENTIFIER, T_NOTFOUND, T_INVALIDINPUT, T_EVENT,
                     T_EVENTFAILED, 0}));
    // Further name characters make a name.
    EXPECT_EQ(codes("whilex TRUE1 if_ _if"), (Codes{T_IDENTIFIER, T_IDENTIFIER, T_IDENTIFIER, T_IDENTIFIER, 0}));

    const auto constants = scan("TRUE FALSE TIMEOUT NOTFOUND INVALIDINPUT EVENT EVENTFAILED");
    const std::vector<int32_t> values{1, 0, -1, -2, -3, -4, -5};
    for (size_t i = 0; i < values.size(); ++i)
    {
        EXPECT_EQ(constants[i].integer, values[i]) << constants[i].text;
    }

    const auto types = scan("TYPE_NULL TYPE_INT TYPE_FLAGS32 TYPE_ARRAY TYPE_STRING TYPE_REFERENCE TYPE_DATE "
                            "TYPE_FLOAT type_int TYPE_INTX TYPE_");
    for (int i = 0; i < 8; ++i)
    {
        EXPECT_EQ(types[i].code, T_INTEGER) << types[i].text;
        EXPECT_EQ(types[i].integer, i) << types[i].text;
    }
    EXPECT_EQ(types[8].code, T_IDENTIFIER);
    EXPECT_EQ(types[9].code, T_IDENTIFIER);
    EXPECT_EQ(types[10].code, T_IDENTIFIER);
}

TEST(LexerTest, VariablesAndReferenceVariables)
{
    const auto tokens = scan("$a_1 &$ref $ $1 &$ & &&$x");
    EXPECT_EQ(tokens[0].code, T_VARIABLE);
    EXPECT_EQ(tokens[0].text, "$a_1");
    EXPECT_EQ(tokens[1].code, T_REFVARIABLE);
    EXPECT_EQ(tokens[1].text, "&$ref");
    EXPECT_EQ(tokens[2].code, T_BADCHAR);
    EXPECT_EQ(tokens[2].byte, '$');
    EXPECT_EQ(tokens[3].code, T_BADCHAR); // "$1": no name after the "$"
    EXPECT_EQ(tokens[4].code, T_INTEGER);
    EXPECT_EQ(tokens[5].code, T_BADCHAR); // "&$" without a name
    EXPECT_EQ(tokens[5].byte, '&');
    EXPECT_EQ(tokens[6].code, T_BADCHAR);
    EXPECT_EQ(tokens[7].code, T_BADCHAR);
    EXPECT_EQ(tokens[8].code, T_AND);
    EXPECT_EQ(tokens[9].code, T_VARIABLE);
}

TEST(LexerTest, OperatorsTakeTheLongestMatch)
{
    EXPECT_EQ(codes(">= <= == != && || += -= *= /= .= %= ++ --"),
              (Codes{T_GE, T_LE, T_EQ, T_NE, T_AND, T_OR, T_ADD_ASSIGN, T_SUB_ASSIGN, T_MUL_ASSIGN, T_DIV_ASSIGN,
                     T_CAT_ASSIGN, T_MOD_ASSIGN, T_INC, T_DEC, 0}));
    EXPECT_EQ(codes("! % [ ] ( ) * + , - . / : ; < = > ? { }"),
              (Codes{T_NOT, T_PERCENT, T_LBRACKET, T_RBRACKET, '(', ')', '*', '+', ',', '-', '.',
                     '/',   ':',       ';',        '<',        '=', '>', '?', '{', '}', 0}));
    EXPECT_EQ(codes("+++---"), (Codes{T_INC, '+', T_DEC, '-', 0}));
    EXPECT_EQ(codes("a*/b"), (Codes{T_IDENTIFIER, '*', '/', T_IDENTIFIER, 0}));
}

TEST(LexerTest, BarStrings)
{
    EXPECT_EQ(codes("$a||$b"), (Codes{T_VARIABLE, T_OR, T_VARIABLE, 0}));
    EXPECT_EQ(codes("||"), (Codes{T_OR, 0}));

    auto tokens = scan("|a|");
    EXPECT_EQ(tokens[0].code, T_RAWSTRING);
    EXPECT_EQ(tokens[0].text, "|a|");

    // A backslash takes the next byte, bar included; backslashes stay in the text.
    tokens = scan("|a\\|b| x");
    EXPECT_EQ(tokens[0].code, T_RAWSTRING);
    EXPECT_EQ(tokens[0].text, "|a\\|b|");
    EXPECT_EQ(tokens[1].code, T_IDENTIFIER);

    // Unclosed: the bar is an invalid character and scanning goes on after it.
    EXPECT_EQ(codes("|a"), (Codes{T_BADCHAR, T_IDENTIFIER, 0}));
    EXPECT_EQ(codes("|a\\\nb|"), (Codes{T_BADCHAR, T_IDENTIFIER, T_BADCHAR, T_IDENTIFIER, T_BADCHAR, 0}));

    // Line feeds belong to the string; the token keeps its first line.
    tokens = scan("|a\nb\nc| x", 5);
    EXPECT_EQ(tokens[0].line, 5);
    EXPECT_EQ(tokens[0].lineAfter, 7);
    EXPECT_EQ(tokens[1].line, 7);
}

TEST(LexerTest, DoubleQuotedStrings)
{
    auto tokens = scan(R"("a\"b\\" x)");
    EXPECT_EQ(tokens[0].code, T_STRING);
    EXPECT_EQ(tokens[0].text, R"("a\"b\\")");
    EXPECT_EQ(tokens[1].code, T_IDENTIFIER);

    // An unterminated string: its quote is an invalid character, the rest is code.
    tokens = scan("\"ab c");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[0].code, T_BADCHAR);
    EXPECT_EQ(tokens[0].byte, '"');
    EXPECT_EQ(tokens[1].text, "ab");
    EXPECT_EQ(tokens[2].text, "c");

    // A backslash before a line feed ends the item list, so the string does not close there.
    EXPECT_EQ(codes("\"a\\\nb\""), (Codes{T_BADCHAR, T_IDENTIFIER, T_BADCHAR, T_IDENTIFIER, T_BADCHAR, 0}));

    // Three lines: the string has its opening line, the next token is two lines further.
    tokens = scan("x = \"one\ntwo\nthree\";\ny", 10);
    EXPECT_EQ(tokens[2].code, T_STRING);
    EXPECT_EQ(tokens[2].line, 10);
    EXPECT_EQ(tokens[2].lineAfter, 12);
    EXPECT_EQ(tokens[3].line, 12);
    EXPECT_EQ(tokens[4].line, 13);
}

TEST(LexerTest, ManyUnclosedQuotesScanInLinearTime)
{
    // Each escaped quote or bar would start another scan to the end of the
    // text; without a linear bound this takes minutes.
    std::string code = "\"";
    for (int i = 0; i < 200000; ++i)
    {
        code += "\\\"";
    }
    code += "|";
    for (int i = 0; i < 200000; ++i)
    {
        code += "\\|";
    }
    Lexer lexer;
    lexer.setInput(code);
    lexer.reset(1);
    TokenValue value;
    size_t badChars = 0;
    int32_t token = 0;
    while ((token = lexer.nextToken(value)) != T_END)
    {
        badChars += token == T_BADCHAR ? 1 : 0;
    }
    // Every byte is an invalid character: quotes, bars and backslashes alike.
    EXPECT_EQ(badChars, code.size());
}

TEST(LexerTest, BlockComments)
{
    EXPECT_EQ(codes("a /* b\n * c **/ d"), (Codes{T_IDENTIFIER, T_IDENTIFIER, 0}));
    EXPECT_EQ(codes("/* /* */ x */"), (Codes{T_IDENTIFIER, '*', '/', 0})); // no nesting
    EXPECT_EQ(codes("a /* open to the end"), (Codes{T_IDENTIFIER, 0}));

    auto tokens = scan("/*\n\n*/x /* \n", 3);
    EXPECT_EQ(tokens[0].line, 5);
    EXPECT_EQ(tokens[1].code, T_END);
    EXPECT_EQ(tokens[1].line, 6);

    // reset leaves comment mode even when the previous unit ended inside one.
    Lexer lexer;
    const std::string code = "/* x";
    lexer.setInput(code);
    lexer.reset(1);
    TokenValue value;
    EXPECT_EQ(lexer.nextToken(value), T_END);
    const std::string next = "y";
    lexer.setInput(next);
    lexer.reset(1);
    EXPECT_EQ(lexer.nextToken(value), T_IDENTIFIER);
}

TEST(LexerTest, LineCommentsNeedAClosingLineFeed)
{
    auto tokens = scan("a # hash\nb // slash\nc");
    ASSERT_EQ(tokens.size(), 4u);
    EXPECT_EQ(tokens[1].line, 2);
    EXPECT_EQ(tokens[2].line, 3);

    // On the last line without a line feed they are not comments.
    EXPECT_EQ(codes("x; // note"), (Codes{T_IDENTIFIER, ';', '/', '/', T_IDENTIFIER, 0}));
    EXPECT_EQ(codes("x; # note"), (Codes{T_IDENTIFIER, ';', T_BADCHAR, T_IDENTIFIER, 0}));
    EXPECT_EQ(codes("//= x"), (Codes{'/', T_DIV_ASSIGN, T_IDENTIFIER, 0}));
    EXPECT_EQ(codes("//* x */ y"), (Codes{'/', T_IDENTIFIER, 0}));
    // "/*" inside a line comment opens nothing.
    EXPECT_EQ(codes("// /* \nx */"), (Codes{T_IDENTIFIER, '*', '/', 0}));

    // The closing line feed counts once; below line 1 the give-back does not lower the counter.
    tokens = scan("#\n#\nx", 1);
    EXPECT_EQ(tokens[0].line, 3);
    tokens = scan("#\nx", 0);
    EXPECT_EQ(tokens[0].line, 2);
}

TEST(LexerTest, Numbers)
{
    auto tokens = scan("4294967297 007 2147483648 1.5.5 5. .5 1.5e3 0.25");
    EXPECT_EQ(tokens[0].integer, 1);
    EXPECT_EQ(tokens[1].integer, 7);
    EXPECT_EQ(tokens[2].integer, INT32_MIN);
    EXPECT_EQ(tokens[3].code, T_FLOAT);
    EXPECT_EQ(tokens[3].real, 1.5);
    EXPECT_EQ(tokens[4].code, '.');
    EXPECT_EQ(tokens[5].code, T_INTEGER);
    EXPECT_EQ(tokens[5].integer, 5);
    EXPECT_EQ(tokens[6].code, T_INTEGER); // "5."
    EXPECT_EQ(tokens[7].code, '.');
    EXPECT_EQ(tokens[8].code, '.'); // ".5"
    EXPECT_EQ(tokens[9].integer, 5);
    EXPECT_EQ(tokens[10].code, T_FLOAT); // "1.5e3"
    EXPECT_EQ(tokens[11].code, T_IDENTIFIER);
    EXPECT_EQ(tokens[11].text, "e3");
    EXPECT_EQ(tokens[12].real, 0.25);

    tokens = scan(std::string(400, '9') + ".5 0." + std::string(400, '0') + "1");
    EXPECT_EQ(tokens[0].real, std::numeric_limits<double>::infinity());
    EXPECT_EQ(tokens[1].code, T_FLOAT);
    EXPECT_EQ(tokens[1].real, 0.0);
}

TEST(LexerTest, InvalidCharacters)
{
    const std::string code = std::string("@`\\^~'\x7f\x80\xff\v") + std::string(1, '\0') + "x";
    const auto tokens = scan(code);
    ASSERT_EQ(tokens.size(), 13u);
    for (size_t i = 0; i < 11; ++i)
    {
        EXPECT_EQ(tokens[i].code, T_BADCHAR) << i;
        EXPECT_EQ(tokens[i].byte, static_cast<uint8_t>(code[i])) << i;
    }
    EXPECT_EQ(tokens[11].code, T_IDENTIFIER);
    // White space: space, tab, carriage return, line feed, form feed.
    EXPECT_EQ(codes(" \t\r\n\f"), (Codes{0}));
}

TEST(LexerTest, LongTokensAreCutButConsumedWhole)
{
    const std::string name(4000, 'n');
    auto tokens = scan(name + " x");
    EXPECT_EQ(tokens[0].code, T_IDENTIFIER);
    EXPECT_EQ(tokens[0].text, name.substr(0, kMaxTokenText));
    EXPECT_EQ(tokens[1].text, "x");

    // A cut string has lost its closing quote; line feeds past the cut still count.
    const std::string body = std::string(3100, 's') + "\n";
    tokens = scan("\"" + body + "\" y");
    EXPECT_EQ(tokens[0].code, T_STRING);
    EXPECT_EQ(tokens[0].text.size(), kMaxTokenText);
    EXPECT_EQ(tokens[0].text.front(), '"');
    EXPECT_NE(tokens[0].text.back(), '"');
    EXPECT_EQ(tokens[1].line, 2);

    tokens = scan("$" + std::string(3100, 'v'));
    EXPECT_EQ(tokens[0].text.size(), kMaxTokenText);
}

TEST(LexerTest, ResetRestartsAtTheBeginning)
{
    Lexer lexer;
    const std::string code = "a\nb";
    lexer.setInput(code);
    lexer.reset(7);
    TokenValue value;
    EXPECT_EQ(lexer.nextToken(value), T_IDENTIFIER);
    EXPECT_EQ(lexer.nextToken(value), T_IDENTIFIER);
    EXPECT_EQ(value.line, 8);
    EXPECT_EQ(lexer.nextToken(value), T_END);
    EXPECT_EQ(lexer.nextToken(value), T_END);
    lexer.reset(20);
    EXPECT_EQ(lexer.line(), 20);
    EXPECT_EQ(lexer.nextToken(value), T_IDENTIFIER);
    EXPECT_EQ(value.text, "a");
    EXPECT_EQ(value.line, 20);
}

TEST(LexerTest, DecodeStringLiteral)
{
    EXPECT_EQ(DecodeStringLiteral(R"("a\\")"), "a\\");
    EXPECT_EQ(DecodeStringLiteral(R"("\n\r\t\q\"\$")"), "\n\r\tq\"$");
    EXPECT_EQ(DecodeStringLiteral("'x'"), "x");
    EXPECT_EQ(DecodeStringLiteral("\"x'"), "\"x'"); // mismatched ends stay
    EXPECT_EQ(DecodeStringLiteral("\""), "\"");
    EXPECT_EQ(DecodeStringLiteral("\"\""), "");
    EXPECT_EQ(DecodeStringLiteral("\"ab\\"), "\"ab\\"); // cut text: the trailing backslash stays
}

} // namespace
} // namespace tn
