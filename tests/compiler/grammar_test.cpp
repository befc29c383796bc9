// The grammar's output: listings and exact code words for equations, the marked text of every
// compile fault shape, the pool limit, registered names before built-ins, and the reseed on
// success.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "evaluator/disassembler.h"
#include "evaluator/random.h"
#include "interface/handle.h"
#include "platform/platform.h"
#include "support/reports.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

std::unique_ptr<Expression> Make(const std::string& variables) {
  char message[MESSAGE_SIZE];
  return std::make_unique<Expression>(variables.c_str(), message, MESSAGE_SIZE);
}

std::vector<CodeWord> Words(const Expression& expression) {
  return {expression.program.code, expression.program.code + expression.program.codeCount};
}

TEST(Grammar, ListsEachEquation) {
  // clang-format off
  const struct { std::string equation; const char* listing; } rows[] = {
      {"Z = -2", "PUSH #2, NEG"}, {"z = x + Z", "PUSH X, PUSH Z, +"},
      // One level binds its operators equally and from the left; levels from the table.
      {"Z = X - Z - 1", "PUSH X, PUSH Z, -, PUSH #1, -"}, {"Z = X / Z * 2", "PUSH X, PUSH Z, /, PUSH #2, *"},
      {"Z = (X + Z) * 2", "PUSH X, PUSH Z, +, PUSH #2, *"},
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
      // Text beyond 303 characters is dropped without an error.
      {"Z = X" + std::string(298, ' ') + "$$$ + 1", "PUSH X"},
  };
  // clang-format on
  for (const auto& row : rows) {
    auto expression = Make("X Z sin");
    ASSERT_TRUE(expression->Compile(row.equation.c_str())) << expression->message;
    EXPECT_EQ(Disassemble(expression->program), row.listing);
  }
}

// The exact words: operands count from 0x8000, and equal literals never share a pool slot.
TEST(Grammar, WorkedExampleGivesItsExactWordsAndPool) {
  auto expression = Make("X Y Z");
  ASSERT_TRUE(expression->Compile("Z = 2*sin(X) + Y/2"));
  const Program& program = expression->program;
  EXPECT_EQ(Words(*expression),
            (std::vector<CodeWord>{0x8003, 0x8000, 126, 103, 0x8001, 0x8004, 104, 101}));
  EXPECT_EQ(program.assignedVariable, 2);
  EXPECT_EQ(std::vector<double>(program.pool + 3, program.pool + program.poolCount),
            (std::vector<double>{2, 2}));
}

// Each message once, its marker where the cursor stood; a fault in the equation is the user's,
// never reported as an internal error.
TEST(Grammar, FailsWithTheMarkedText) {
  const std::string expected = "Expected variable or function name\r\n";
  const std::string undefined = "Variable or function not defined\r\n";
  const std::string a48(48, 'a'), dashes(298, '-');
  // clang-format off
  const struct { std::string variables, equation, text; } rows[] = {
      {"X Y", "   ", expected + "    ? "}, {"X Y", "1 = Y", expected + "1 ?  = Y"},
      {"X Y", "Y = +1", expected + "Y = + ? 1"}, {"X Y", "Y = 2 + * 3", expected + "Y = 2 + * ?  3"},
      {"X Y", "Y = sqrt()", expected + "Y = sqrt() ? "}, {"and Y", "Y = and", expected + "Y = and ? "},
      {"", "Y = X", undefined + "Y ?  = X"}, {"X Y", "Y = foo(1)", undefined + "Y = foo(1 ? )"},
      {"X Y", "Y = foo + 1", undefined + "Y = foo + ?  1"}, {"X Y", "Y = X(1)", undefined + "Y = X(1 ? )"},
      {"X Y", "Y + 1", "Missing '='\r\nY + ?  1"}, {"X Y", "Y = 1 2", "Expected more terms\r\nY = 1 2 ? "},
      {"X Y", "Y = (1", "Missing ')'\r\nY = (1 ? "}, {"X Y", "Y = pow(2, 3, 4)", "Missing ')'\r\nY = pow(2, 3, ?  4)"},
      {"X Y", "Y = SQRT", "Missing '('\r\nY = SQRT ? "},
      {"X Y", "Y = pow(2)", "Missing function argument\r\nY = pow(2) ? "},
      {"X Y", "Y = 3 $ 4", "Syntax error\r\nY = 3  ? $ 4"}, {"X Y", "Y = 1e299 + 1", "Invalid number\r\nY = 1e299 ?  + 1"},
      // A name longer than 47 characters is split, so its 47-character head names nothing.
      {a48 + " Y", "Y = " + a48, undefined + "Y = " + a48 + " ? "},
      // The 303-character cut, both sides: the character at 302 is seen, the one at 303 is not.
      {"X Y", "Y = " + dashes + "$", "Syntax error\r\nY = " + dashes + " ? $"},
      {"X Y", "Y = " + dashes + " $", expected + "Y = " + dashes + "  ? "},
  };
  // clang-format on
  for (const auto& row : rows) {
    kalo::testing::ReportRecorder recorder;
    auto expression = Make(row.variables);
    EXPECT_FALSE(expression->Compile(row.equation.c_str()));
    EXPECT_EQ(std::string(expression->message), row.text);
    EXPECT_EQ(recorder.Count(), 0u) << row.equation;
  }
}

TEST(Grammar, PoolHoldsTwoHundredSlotsWithVariablesIncluded) {
  std::string variables = "Y", sum = "Y=1";
  for (int i = 1; i < 100; ++i) variables += " V" + std::to_string(i), sum += "+1";
  auto expression = Make(variables);
  ASSERT_TRUE(expression->Compile(sum.c_str())) << expression->message;
  EXPECT_EQ(expression->program.poolCount, 200);
  EXPECT_EQ(expression->program.codeCount, 199);
  auto full = Make(variables);
  EXPECT_FALSE(full->Compile((sum + "+1+X").c_str()));
  EXPECT_EQ(std::string(full->message), "Equation too complex\r\n" + sum + "+1 ? +X");
}

// A registered name hides a built-in only when whole; without "(" it asks for one; a call of a
// function registered without parameters is an internal fault, reported once.
TEST(Grammar, RegisteredNames) {
  ClearUserFunctions();
  const KaloHostFunction callback = [](double*, double*, long) { return 0; };
  ASSERT_EQ(RegisterUserFunction("sinc", 1, callback, 0), 1);
  ASSERT_EQ(RegisterUserFunction("Sqrt", 1, callback, 0), 1);
  ASSERT_EQ(RegisterUserFunction("zero", 0, callback, 0), 1);
  auto expression = Make("X Y");
  ASSERT_TRUE(expression->Compile("Y = sin(X) + sqrt(X) + SINC(X)")) << expression->message;
  EXPECT_EQ(Words(*expression),
            (std::vector<CodeWord>{0x8000, 126, 0x8000, 0x4001, 101, 0x8000, 0x4000, 101}));
  EXPECT_FALSE(expression->Compile("Y = sinc"));
  EXPECT_EQ(std::string(expression->message), "Missing '('\r\nY = sinc ? ");
  for (const char* equation : {"Y = zero()", "Y = 1 + zero(X)"}) {
    kalo::testing::ReportRecorder recorder;
    EXPECT_FALSE(expression->Compile(equation)) << equation;
    ASSERT_EQ(recorder.Count(), 1u) << equation;
    EXPECT_NE(recorder.Reports()[0].find("File: Parse (line "), std::string::npos);
    EXPECT_STREQ(expression->message, "Internal error");
  }
  ClearUserFunctions();
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
