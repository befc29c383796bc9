// The compiler's stages: the tokenizer's streams, the variable list's names and refusals, and
// the grammar's listings and marked fault texts and the reseed on success. The pool's limit is
// tested through the exports (exports_test), where a full pool is also evaluated.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "compiler/tokenizer.h"
#include "evaluator/disassembler.h"
#include "evaluator/random.h"
#include "interface/handle.h"
#include "platform/platform.h"
#include "support/reports.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

// Token streams, written as text so that a table row reads like the equation it scans:
// kinds in upper case, an identifier's text or a number's value after a colon, and a thrown
// fault as ERR:<identifier>@<offset of the cursor>.
std::string Scan(const std::string& equation) {
  // clang-format off
  static const char* const NAMES[] = {"", "END", "PLUS", "MINUS", "DIVIDE", "MULTIPLY", "LPAREN", "RPAREN",
      "IDENT", "NUM", "AND", "OR", "XOR", "NOT", "GT", "LT", "GE", "LE", "EQ", "NE", "COMMA"};
  // clang-format on
  Tokenizer tokenizer(equation.c_str());
  std::string stream;
  try {
    for (int i = 0; i < 400; ++i) {
      const TokenKind kind = tokenizer.NextToken();
      stream += std::string(stream.empty() ? "" : " ") + NAMES[kind];
      char value[32];
      std::snprintf(value, sizeof value, ":%.15g", tokenizer.number);
      if (kind == TOK_IDENT) stream += std::string(":") + tokenizer.identifier;
      if (kind == TOK_NUMBER) stream += value;
      if (kind != TOK_END) continue;
      // The end repeats and never moves the cursor.
      const char* cursor = tokenizer.cursor;
      EXPECT_EQ(tokenizer.NextToken(), TOK_END);
      EXPECT_EQ(tokenizer.cursor, cursor);
      return stream;
    }
  } catch (int id) {
    stream += (stream.empty() ? "ERR:" : " ERR:") + std::to_string(id) + "@" +
              std::to_string(tokenizer.cursor - tokenizer.text);
  }
  return stream;
}

TEST(Tokenizer, ScansEachRowToItsStream) {
  const std::string a47(47, 'a');
  // clang-format off
  const struct { std::string equation, tokens; } rows[] = {
      {"Y = 1.5e3", "IDENT:Y EQ NUM:1500 END"}, {"", "END"}, {" \t\n\v\f\rX\r\n", "IDENT:X END"},
      {"+-*/(),", "PLUS MINUS MULTIPLY DIVIDE LPAREN RPAREN COMMA END"},
      {"<> < > <= >= =< == <>= >==", "NE LT GT LE GE EQ LT EQ EQ NE EQ GE EQ END"},
      {"AND Not xOr or andy nota _and x_1", "AND NOT XOR OR IDENT:andy IDENT:nota IDENT:_and IDENT:x_1 END"},
      // Numbers: an exponent of 298 either way is the largest; digits beyond it are the mantissa's.
      {".5 5. 007 1..2 1.5.5 0x1", "NUM:0.5 NUM:5 NUM:7 NUM:1 NUM:0.2 NUM:1.5 NUM:0.5 NUM:0 IDENT:x1 END"},
      {"1e298 1e-298 1000e298 1e0000000000005", "NUM:1e+298 NUM:1e-298 NUM:1e+301 NUM:100000 END"},
      {"1e299", "ERR:10005@5"}, {"1e-299", "ERR:10005@6"}, {"1e12345678901234567890", "ERR:10005@22"},
      {"1 + .x", "NUM:1 PLUS ERR:10005@4"},
      // An exponent without digits is not one.
      {"2ex 2e + 3 2e+3 2.5e-1 2e+-3", "NUM:2 IDENT:x NUM:2 PLUS NUM:3 NUM:2000 NUM:0.25 NUM:2 MINUS NUM:3 END"},
      {"2e", "NUM:2 END"}, {"2E-", "NUM:2 END"},
      // Characters that start no token, the cursor resting on them; bytes of 128 and above
      // belong to no class: they end a token and start none.
      {"1 ^ 2", "NUM:1 ERR:10010@2"}, {"X $", "IDENT:X ERR:10010@2"}, {"\xC3\xA9", "ERR:10010@0"},
      {"ab\xB5", "IDENT:ab ERR:10010@2"}, {"1\xB5", "NUM:1 ERR:10010@1"},
      // Identifiers are cut after 47 characters; the rest scans as new tokens.
      {a47, "IDENT:" + a47 + " END"}, {a47 + "b9and", "IDENT:" + a47 + " IDENT:b9and END"},
      {a47 + "9and", "IDENT:" + a47 + " NUM:9 AND END"},
      // Only 303 characters of the equation are read.
      {std::string(300, ' ') + "abcdefg!", "IDENT:abc END"}, {std::string(302, ' ') + "1e300", "NUM:1 END"},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(Scan(row.equation), row.tokens) << row.equation;
}

// Builds an Expression over `list` and yields its names, or the message that refused it.
std::string Build(const std::string& list) {
  char message[MESSAGE_SIZE];
  try {
    Expression expression(list.c_str(), message, MESSAGE_SIZE);
    std::string names = "names:";
    for (int i = 0; i < expression.program.variableCount; ++i)
      names += std::string(" ") + VariableName(expression.program, i);
    return names;
  } catch (char* thrown) {
    EXPECT_EQ(thrown, message);
    return thrown;
  }
}

// The limit is tested after the duplicate test; the list is quoted only where the message and
// the list fit in 505 characters ("Duplicate variable name" has 23).
TEST(VariableList, AcceptsNamesAndRefusesFaultsWithTheMarkedList) {
  const std::string start = "Variable name must start with a letter or underscore\r\n";
  const std::string invalid = "Invalid character in variable name\r\n";
  const std::string duplicate = "Duplicate variable name\r\n";
  const std::string x482 = "X" + std::string(480, ' ') + "x", x483 = "X " + x482.substr(1);
  const auto Names = [](int count, const std::string& extra) {
    std::string list;
    for (int i = 0; i < count; ++i) list += "V" + std::to_string(i) + " ";
    return list + extra;
  };
  // clang-format off
  const struct { std::string list, outcome; } rows[] = {
      {"", "names:"}, {" X\tY\r\nZ ", "names: X Y Z"}, {"\v_a1\fb_2\n", "names: _a1 b_2"},
      {"and sin Not", "names: and sin Not"}, {Names(99, "V99"), "names: " + Names(99, "V99")},
      {"X\t\n", start + "X\t\n ? "}, {"   ", start + "    ? "}, {"X Y 2Z", start + "X Y  ? 2Z"},
      {"X -Y", start + "X  ? -Y"}, {"\xC3\xA9t\xC3\xA9", start + " ? \xC3\xA9t\xC3\xA9"},
      {"X Y$ Z", invalid + "X Y ? $ Z"}, {"X\xB5", invalid + "X ? \xB5"},
      {"a B c b", duplicate + "a B c  ? b"}, {"ab abc AB", duplicate + "ab abc  ? AB"},
      {Names(100, "Extra"), "Too many variables\r\n" + Names(100, "") + " ? Extra"},
      {Names(100, "v7"), duplicate + Names(100, "") + " ? v7"},
      {x482, duplicate + x482.substr(0, 481) + " ? x"}, {x483, "Duplicate variable name"},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(Build(row.list), row.outcome) << row.list;
}

std::unique_ptr<Expression> Make(const std::string& variables) {
  char message[MESSAGE_SIZE];
  return std::make_unique<Expression>(variables.c_str(), message, MESSAGE_SIZE);
}

// The listing of `equation` compiled over X, Z, "sin", "and" and a 48-letter name with three
// host functions registered, or its fault text with a star for each internal-error report.
std::string Compiled(const std::string& equation) {
  ClearUserFunctions();
  const KaloHostFunction callback = [](double*, double*, long) { return 0; };
  RegisterUserFunction("sinc", 1, callback, 0);
  RegisterUserFunction("Sqrt", 1, callback, 0);
  RegisterUserFunction("zero", 0, callback, 0);
  kalo::testing::ReportRecorder recorder;
  auto expression = Make("X Z sin and " + std::string(48, 'a'));
  const bool compiled = expression->Compile(equation.c_str());
  ClearUserFunctions();
  return compiled ? Disassemble(expression->program)
                  : expression->message + std::string(recorder.Count(), '*');
}

TEST(Grammar, ListsEachEquationOrMarksItsFault) {
  const std::string expected = "Expected variable or function name\r\n";
  const std::string undefined = "Variable or function not defined\r\n";
  const std::string a48(48, 'a'), dashes(298, '-');
  // clang-format off
  const struct { std::string equation, outcome; } rows[] = {
      {"Z = -2", "PUSH #2, NEG"}, {"z = x + Z", "PUSH X, PUSH Z, +"},
      // One level binds its operators equally and from the left; levels from the table.
      {"Z = X - Z - 1", "PUSH X, PUSH Z, -, PUSH #1, -"}, {"Z = X / Z * 2", "PUSH X, PUSH Z, /, PUSH #2, *"},
      {"Z = (X + Z) * 2", "PUSH X, PUSH Z, +, PUSH #2, *"}, {"Z = X + Z * 2", "PUSH X, PUSH Z, PUSH #2, *, +"},
      {"Z = X <= Z >= 1 <> 2 = 3 < 4 > 5",
       "PUSH X, PUSH Z, <=, PUSH #1, >=, PUSH #2, <>, PUSH #3, =, PUSH #4, <, PUSH #5, >"},
      {"Z = X or Z and 1 xor 2", "PUSH X, PUSH Z, or, PUSH #1, and, PUSH #2, xor"},
      {"Z = X + 1 > Z and Z = 2", "PUSH X, PUSH #1, +, PUSH Z, >, PUSH Z, PUSH #2, =, and"},
      // Negation binds tighter than everything; "not" reaches to the end of its construct.
      {"Z = -X*Z", "PUSH X, NEG, PUSH Z, *"}, {"Z = --X", "PUSH X, NEG, NEG"},
      {"Z = 2*-X", "PUSH #2, PUSH X, NEG, *"}, {"Z = -(X + 1)", "PUSH X, PUSH #1, +, NEG"},
      {"Z = 1 + not X or Z", "PUSH #1, PUSH X, PUSH Z, or, not, +"}, {"Z = (not X) and Z", "PUSH X, not, PUSH Z, and"},
      {"Z = if(not X, 1, 2)", "PUSH X, not, PUSH #1, PUSH #2, if"},
      {"Z = atan2(X, pow(Z, 2))", "PUSH X, PUSH Z, PUSH #2, pow, atan2"},
      {"Z = SIN (x) + Log10(sin)", "PUSH X, sin, PUSH sin, log10, +"},
      {"Z = 0.5 + .25 + 1e3", "PUSH #0.5, PUSH #0.25, +, PUSH #1000, +"},
      // A registered name hides a built-in only when whole; a listing made after the registry is
      // cleared shows each call's index.
      {"Z = sin(X) + sqrt(X) + SINC(X)", "PUSH X, sin, PUSH X, CALL #1, +, PUSH X, CALL #0, +"},
      // Text beyond 303 characters is dropped without an error.
      {"Z = X" + std::string(298, ' ') + "$$$ + 1", "PUSH X"},
      // Each fault's message once, its marker where the cursor stood; a fault in the equation is
      // the user's, never reported as an internal error.
      {"   ", expected + "    ? "}, {"1 = Z", expected + "1 ?  = Z"},
      {"Z = +1", expected + "Z = + ? 1"}, {"Z = 2 + * 3", expected + "Z = 2 + * ?  3"},
      {"Z = sqrt()", expected + "Z = sqrt() ? "}, {"Z = and", expected + "Z = and ? "},
      {"Q = X", undefined + "Q ?  = X"}, {"Z = foo(1)", undefined + "Z = foo(1 ? )"},
      {"Z = foo + 1", undefined + "Z = foo + ?  1"}, {"Z = X(1)", undefined + "Z = X(1 ? )"},
      {"Z + 1", "Missing '='\r\nZ + ?  1"}, {"Z = 1 2", "Expected more terms\r\nZ = 1 2 ? "},
      {"Z = (1", "Missing ')'\r\nZ = (1 ? "}, {"Z = pow(2, 3, 4)", "Missing ')'\r\nZ = pow(2, 3, ?  4)"},
      {"Z = SQRT", "Missing '('\r\nZ = SQRT ? "}, {"Z = sinc", "Missing '('\r\nZ = sinc ? "},
      {"Z = pow(2)", "Missing function argument\r\nZ = pow(2) ? "},
      {"Z = 3 $ 4", "Syntax error\r\nZ = 3  ? $ 4"}, {"Z = 1e299 + 1", "Invalid number\r\nZ = 1e299 ?  + 1"},
      // A name longer than 47 characters is split, so its 47-character head names nothing.
      {"Z = " + a48, undefined + "Z = " + a48 + " ? "},
      // The 303-character cut, both sides: the character at 302 is seen, the one at 303 is not.
      {"Z = " + dashes + "$", "Syntax error\r\nZ = " + dashes + " ? $"},
      {"Z = " + dashes + " $", expected + "Z = " + dashes + "  ? "},
      // A function without parameters cannot be called: an internal fault, reported once.
      {"Z = zero()", "Internal error*"}, {"Z = 1 + zero(X)", "Internal error*"},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(Compiled(row.equation), row.outcome) << row.equation;
}

// The exact words: operands count from 0x8000, and equal literals never share a pool slot.
TEST(Grammar, WorkedExampleGivesItsExactWordsAndPool) {
  auto expression = Make("X Y Z");
  ASSERT_TRUE(expression->Compile("Z = 2*sin(X) + Y/2"));
  const Program& program = expression->program;
  EXPECT_EQ(std::vector<CodeWord>(program.code, program.code + program.codeCount),
            (std::vector<CodeWord>{0x8003, 0x8000, 126, 103, 0x8001, 0x8004, 104, 101}));
  EXPECT_EQ(program.assignedVariable, 2);
  EXPECT_EQ(std::vector<double>(program.pool + 3, program.pool + program.poolCount),
            (std::vector<double>{2, 2}));
}

// A failed compilation leaves the random sequence alone; a successful one, even without random
// functions, restarts it from the tick count.
TEST(Grammar, SuccessfulCompilationReseedsFromTheTickCount) {
  SeedRandom(12345);
  const int expected = DrawRandom();
  SeedRandom(12345);
  EXPECT_FALSE(Make("X Y")->Compile("Y = $"));
  EXPECT_EQ(DrawRandom(), expected);
  const uint32_t before = platform::TickCount();
  SeedRandom(before + 0x40000000u);
  ASSERT_TRUE(Make("X Y")->Compile("Y = X"));
  const int first = DrawRandom(), second = DrawRandom();
  bool matched = false;
  for (uint32_t tick = before, after = platform::TickCount(); tick <= after && !matched; ++tick) {
    SeedRandom(tick);
    matched = DrawRandom() == first && DrawRandom() == second;
  }
  EXPECT_TRUE(matched) << "no tick from " << before;
}

}  // namespace
}  // namespace kalo
