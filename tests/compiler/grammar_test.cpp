// The grammar's output: listings and exact code words for equations, the marked text of every
// compile fault, the pool limit, registered names before built-ins, and the reseed on success.
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

struct ListingRow {
  const char* variables;
  std::string equation;
  const char* listing;
};

class Listing : public ::testing::TestWithParam<ListingRow> {};

TEST_P(Listing, Compiles) {
  auto expression = Make(GetParam().variables);
  ASSERT_TRUE(expression->Compile(GetParam().equation.c_str())) << expression->message;
  EXPECT_EQ(Disassemble(expression->program), GetParam().listing);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Grammar, Listing, ::testing::Values(
    ListingRow{"X Y", "Y = -2", "PUSH #2, NEG"}, ListingRow{"X Y", "y = x + Y", "PUSH X, PUSH Y, +"},
    // One level binds its operators equally and from the left.
    ListingRow{"X Z", "Z = X - Z - 1", "PUSH X, PUSH Z, -, PUSH #1, -"},
    ListingRow{"X Z", "Z = X / Z * 2", "PUSH X, PUSH Z, /, PUSH #2, *"},
    ListingRow{"X Z", "Z = X + Z * 2", "PUSH X, PUSH Z, PUSH #2, *, +"},
    ListingRow{"X Z", "Z = (X + Z) * 2", "PUSH X, PUSH Z, +, PUSH #2, *"},
    ListingRow{"X Z", "Z = X <= Z >= 1 <> 2 = 3 < 4 > 5",
               "PUSH X, PUSH Z, <=, PUSH #1, >=, PUSH #2, <>, PUSH #3, =, PUSH #4, <, PUSH #5, >"},
    ListingRow{"X Z", "Z = X or Z and 1 xor 2", "PUSH X, PUSH Z, or, PUSH #1, and, PUSH #2, xor"},
    ListingRow{"X Z", "Z = X + 1 > Z and Z = 2", "PUSH X, PUSH #1, +, PUSH Z, >, PUSH Z, PUSH #2, =, and"},
    // Negation binds tighter than everything; "not" reaches to the end of its construct.
    ListingRow{"X Z", "Z = -X*Z", "PUSH X, NEG, PUSH Z, *"}, ListingRow{"X Z", "Z = --X", "PUSH X, NEG, NEG"},
    ListingRow{"X Z", "Z = 2*-X", "PUSH #2, PUSH X, NEG, *"}, ListingRow{"X Z", "Z = -(X + 1)", "PUSH X, PUSH #1, +, NEG"},
    ListingRow{"X Z", "Z = 1 + not X or Z", "PUSH #1, PUSH X, PUSH Z, or, not, +"},
    ListingRow{"X Z", "Z = (not X) and Z", "PUSH X, not, PUSH Z, and"},
    ListingRow{"X Z", "Z = if(not X, 1, 2)", "PUSH X, not, PUSH #1, PUSH #2, if"},
    // Calls.
    ListingRow{"X Z", "Z = atan2(X, pow(Z, 2))", "PUSH X, PUSH Z, PUSH #2, pow, atan2"},
    ListingRow{"X Z", "Z = SIN (x) + Log10(z)", "PUSH X, sin, PUSH Z, log10, +"},
    ListingRow{"sin Y", "Y = sin(sin)", "PUSH sin, sin"},
    ListingRow{"X Z", "Z = 0.5 + .25 + 1e3", "PUSH #0.5, PUSH #0.25, +, PUSH #1000, +"},
    // Text beyond 303 characters is dropped without an error.
    ListingRow{"X Y", "Y = X" + std::string(298, ' ') + "$$$ + 1", "PUSH X"}));
// clang-format on

// The exact words: operands count from 0x8000, and equal literals never share a pool slot.
TEST(Grammar, WorkedExamplesGiveTheirExactWordsAndPool) {
  struct Row {
    const char* variables;
    const char* equation;
    std::vector<CodeWord> words;
    int assigned;
    std::vector<double> literals;  // the pool after the variables
  };
  // clang-format off
  const Row rows[] = {
      {"X Y Z", "Z = 2*sin(X) + Y/2", {0x8003, 0x8000, 126, 103, 0x8001, 0x8004, 104, 101}, 2, {2, 2}},
      {"X Y", "Y = if(X >= 0, X, -X)", {0x8000, 0x8002, 114, 0x8000, 0x8000, 100, 146}, 1, {0}},
      {"A B C Y", "Y = not A and B or C", {0x8000, 0x8001, 105, 0x8002, 106, 107}, 3, {}},
  };
  // clang-format on
  for (const Row& row : rows) {
    auto expression = Make(row.variables);
    ASSERT_TRUE(expression->Compile(row.equation)) << row.equation;
    EXPECT_EQ(Words(*expression), row.words) << row.equation;
    const Program& program = expression->program;
    EXPECT_EQ(program.assignedVariable, row.assigned) << row.equation;
    EXPECT_EQ(
        std::vector<double>(program.pool + program.variableCount, program.pool + program.poolCount),
        row.literals)
        << row.equation;
  }
}

struct FaultRow {
  std::string variables;
  std::string equation;
  std::string text;
};

class Fault : public ::testing::TestWithParam<FaultRow> {};

// A fault in the equation is the user's: it never reports an internal error.
TEST_P(Fault, FailsWithTheMarkedText) {
  kalo::testing::ReportRecorder recorder;
  auto expression = Make(GetParam().variables);
  EXPECT_FALSE(expression->Compile(GetParam().equation.c_str()));
  EXPECT_EQ(std::string(expression->message), GetParam().text);
  EXPECT_EQ(recorder.Count(), 0u);
}

const std::string EXPECTED = "Expected variable or function name\r\n";
const std::string UNDEFINED = "Variable or function not defined\r\n";
const std::string A48(48, 'a');

// clang-format off
INSTANTIATE_TEST_SUITE_P(Grammar, Fault, ::testing::Values(
    FaultRow{"X Y", "   ", EXPECTED + "    ? "}, FaultRow{"", "Y = X", UNDEFINED + "Y ?  = X"},
    FaultRow{"X Y", "Y", "Missing '='\r\nY ? "}, FaultRow{"X Y", "Y + 1", "Missing '='\r\nY + ?  1"},
    FaultRow{"X Y", "= 1", EXPECTED + "= ?  1"}, FaultRow{"X Y", "1 = Y", EXPECTED + "1 ?  = Y"},
    FaultRow{"X Y", "Y =", EXPECTED + "Y = ? "}, FaultRow{"X Y", "Y = +1", EXPECTED + "Y = + ? 1"},
    FaultRow{"X Y", "Y = 2 + * 3", EXPECTED + "Y = 2 + * ?  3"}, FaultRow{"X Y", "Y = 1 =", EXPECTED + "Y = 1 = ? "},
    FaultRow{"X Y", "Y = 1 2", "Expected more terms\r\nY = 1 2 ? "},
    FaultRow{"X Y", "Y = (1", "Missing ')'\r\nY = (1 ? "}, FaultRow{"X Y", "Y = (1, 2)", "Missing ')'\r\nY = (1, ?  2)"},
    FaultRow{"X Y", "Y = SQRT", "Missing '('\r\nY = SQRT ? "},
    FaultRow{"X Y", "Y = foo(1)", UNDEFINED + "Y = foo(1 ? )"}, FaultRow{"X Y", "Y = foo + 1", UNDEFINED + "Y = foo + ?  1"},
    FaultRow{"X Y", "Y = X(1)", UNDEFINED + "Y = X(1 ? )"}, FaultRow{"X Y", "Y = si(X)", UNDEFINED + "Y = si(X ? )"},
    FaultRow{"X Y", "Y = pow(2)", "Missing function argument\r\nY = pow(2) ? "},
    FaultRow{"X Y", "Y = pow(2, 3, 4)", "Missing ')'\r\nY = pow(2, 3, ?  4)"},
    FaultRow{"X Y", "Y = sqrt()", EXPECTED + "Y = sqrt() ? "}, FaultRow{"X Y", "Y = 3 $ 4", "Syntax error\r\nY = 3  ? $ 4"},
    FaultRow{"X Y", "Y = .e5", "Invalid number\r\nY =  ? .e5"},
    FaultRow{"X Y", "Y = 1e299 + 1", "Invalid number\r\nY = 1e299 ?  + 1"},
    FaultRow{"and Y", "Y = and", EXPECTED + "Y = and ? "}, FaultRow{"and Y", "and = 1", EXPECTED + "and ?  = 1"},
    // A name longer than 47 characters is split, so its 47-character head names nothing.
    FaultRow{A48 + " Y", "Y = " + A48, UNDEFINED + "Y = " + A48 + " ? "},
    // The 303-character cut: what lies beyond it is never seen.
    FaultRow{"X Y", "Y = " + std::string(299, '(') + "1)", EXPECTED + "Y = " + std::string(299, '(') + " ? "},
    FaultRow{"X Y", "Y = " + std::string(298, '-') + " $", EXPECTED + "Y = " + std::string(298, '-') + "  ? "},
    FaultRow{"X Y", "Y = " + std::string(298, '-') + "$", "Syntax error\r\nY = " + std::string(298, '-') + " ? $"}));
// clang-format on

TEST(Grammar, PoolHoldsTwoHundredSlotsWithVariablesIncluded) {
  std::string variables = "Y", sum = "Y=1";
  for (int i = 1; i < 100; ++i) variables += " V" + std::to_string(i), sum += "+1";
  auto fits = Make(variables);
  ASSERT_TRUE(fits->Compile(sum.c_str())) << fits->message;
  EXPECT_EQ(fits->program.poolCount, 200);
  EXPECT_EQ(fits->program.codeCount, 199);
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
    EXPECT_NE(kalo::testing::ReportRecorder::Reports()[0].find("File: Parse (line "),
              std::string::npos);
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
  const uint32_t after = platform::TickCount();
  bool matched = false;
  for (uint32_t tick = before; tick <= after && !matched; ++tick) {
    SeedRandom(tick);
    matched = DrawRandom() == first && DrawRandom() == second;
  }
  EXPECT_TRUE(matched) << "no tick between " << before << " and " << after;
}

}  // namespace
}  // namespace kalo
