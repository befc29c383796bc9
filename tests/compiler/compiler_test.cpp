// The variable list, the tokens and grammar through listings and marked fault texts, the reseed,
// the bounded copies and the internal-error report. The pool's limit: exports_test.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "evaluator/disassembler.h"
#include "evaluator/random.h"
#include "expression/diagnostics.h"
#include "interface/handle.h"
#include "platform/platform.h"
#include "support/reports.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

// Builds an Expression over `list` and yields its names, or the message that refused it.
std::string Build(const std::string& list) {
  char message[MESSAGE_SIZE];
  std::memset(message, '#', sizeof message);
  try {
    Expression expression(list.c_str(), message, MESSAGE_SIZE);
    std::string names = "names:";
    for (int i = 0; i < expression.program.variableCount; ++i)
      names += std::string(" ") + VariableName(expression.program, i);
    return names;
  } catch (char* thrown) {
    EXPECT_EQ(thrown, message);
    EXPECT_EQ(message[std::strlen(message) + 1], '#') << "written past the end";
    return thrown;
  }
}

// The limit is tested after the duplicate test; the list is quoted only where the message and
// the list fit in 505 characters ("Duplicate variable name" has 23).
TEST(VariableList, AcceptsNamesAndRefusesFaultsWithTheMarkedList) {
  const std::string start = "Variable name must start with a letter or underscore\r\n",
                    duplicate = "Duplicate variable name\r\n";
  const std::string x482 = "X" + std::string(480, ' ') + "x", x483 = "X " + x482.substr(1);
  std::string v99;  // V0 to V98
  for (int i = 0; i < 99; ++i) v99 += "V" + std::to_string(i) + " ";
  // clang-format off
  const struct { std::string list, outcome; } rows[] = {
      {"", "names:"}, {" X\tY\r\nZ ", "names: X Y Z"}, {"\v_a1\fb_2\n", "names: _a1 b_2"},
      {"and sin Not", "names: and sin Not"}, {v99 + "V99", "names: " + v99 + "V99"},
      {"X\t\n", start + "X\t\n ? "}, {"   ", start + "    ? "}, {"X Y 2Z", start + "X Y  ? 2Z"},
      {"X -Y", start + "X  ? -Y"}, {"\xC3\xA9t\xC3\xA9", start + " ? \xC3\xA9t\xC3\xA9"},
      {"X Y$ Z", "Invalid character in variable name\r\nX Y ? $ Z"}, {"X\xB5", "Invalid character in variable name\r\nX ? \xB5"},
      {"a B c b", duplicate + "a B c  ? b"}, {"ab abc AB", duplicate + "ab abc  ? AB"},
      {v99 + "V99 Extra", "Too many variables\r\n" + v99 + "V99  ? Extra"}, {v99 + "V99 v7", duplicate + v99 + "V99  ? v7"},
      {x482, duplicate + x482.substr(0, 481) + " ? x"}, {x483, "Duplicate variable name"},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(Build(row.list), row.outcome) << row.list;
}

std::unique_ptr<Expression> Make(const std::string& variables) {
  char message[MESSAGE_SIZE];
  return std::make_unique<Expression>(variables.c_str(), message, MESSAGE_SIZE);
}

// The listing of `equation` compiled over X, Z, "sin", "and", 48 a's and 47 b's with three
// host functions registered, or its fault text with a star for each internal-error report.
std::string Compiled(const std::string& equation) {
  ClearUserFunctions();
  const KaloHostFunction callback = [](double*, double*, long) { return 0; };
  RegisterUserFunction("sinc", 1, callback, 0);
  RegisterUserFunction("Sqrt", 1, callback, 0);
  RegisterUserFunction("zero", 0, callback, 0);
  kalo::testing::ReportRecorder recorder;
  auto expression = Make("X Z sin and " + std::string(48, 'a') + " " + std::string(47, 'b'));
  const bool compiled = expression->Compile(equation.c_str());
  ClearUserFunctions();
  return compiled ? Disassemble(expression->program)
                  : expression->message + std::string(recorder.Count(), '*');
}

TEST(Grammar, ListsEachEquationOrMarksItsFault) {
  const std::string expected = "Expected variable or function name\r\n",
                    syntax = "Syntax error\r\n";
  const std::string undefined = "Variable or function not defined\r\n", missing = "Missing '";
  const std::string more = "Expected more terms\r\n", number = "Invalid number\r\n";
  const std::string a48(48, 'a'), b47(47, 'b'), dashes(298, '-');
  // clang-format off
  const struct { std::string equation, outcome; } rows[] = {
      {"Z = -2", "PUSH #2, NEG"}, {"z = x + Z", "PUSH X, PUSH Z, +"}, {"Z = -X*Z", "PUSH X, NEG, PUSH Z, *"},
      // One level binds its operators equally and from the left; negation binds tightest, "not"
      // reaches to the end of its construct.
      {"Z = X - Z - 1", "PUSH X, PUSH Z, -, PUSH #1, -"}, {"Z = X / Z * 2", "PUSH X, PUSH Z, /, PUSH #2, *"},
      {"Z = (X + Z) * 2", "PUSH X, PUSH Z, +, PUSH #2, *"}, {"Z = X + Z * 2", "PUSH X, PUSH Z, PUSH #2, *, +"},
      {"Z = X <= Z >= 1 <> 2 = 3 < 4 > 5", "PUSH X, PUSH Z, <=, PUSH #1, >=, PUSH #2, <>, PUSH #3, =, PUSH #4, <, PUSH #5, >"},
      {"Z = X OR Z And 1 xOr 2", "PUSH X, PUSH Z, or, PUSH #1, and, PUSH #2, xor"},
      {"Z = X + 1 > Z and Z = 2", "PUSH X, PUSH #1, +, PUSH Z, >, PUSH Z, PUSH #2, =, and"},
      {"Z = --X", "PUSH X, NEG, NEG"}, {"Z = 2*-X", "PUSH #2, PUSH X, NEG, *"}, {"Z = -(X + 1)", "PUSH X, PUSH #1, +, NEG"},
      {"Z = 1 + not X or Z", "PUSH #1, PUSH X, PUSH Z, or, not, +"}, {"Z = (Not X) and Z", "PUSH X, not, PUSH Z, and"},
      {"Z = if(not X, 1, 2)", "PUSH X, not, PUSH #1, PUSH #2, if"}, {"Z = atan2(X, pow(Z, 2))", "PUSH X, PUSH Z, PUSH #2, pow, atan2"},
      {"Z = SIN (x) + Log10(sin)", "PUSH X, sin, PUSH sin, log10, +"}, {"Z =\t\n\v\f\rX\r\n", "PUSH X"},
      // Numbers: an exponent of 298 either way is the largest; one without digits is not one.
      {"Z = 0.5 + .25 + 1e3 + 5. + 007 + 1e298 + 1e-298 + 1000e298 + 1e0000000000005", "PUSH #0.5, PUSH #0.25, +, "
       "PUSH #1000, +, PUSH #5, +, PUSH #7, +, PUSH #1e+298, +, PUSH #1e-298, +, PUSH #1e+301, +, PUSH #1e+05, +"},
      {"Z = 2e + 3 + 2e+3 + 2.5e-1 + 2E- + 2e+-3",
       "PUSH #2, PUSH #3, +, PUSH #2000, +, PUSH #0.25, +, PUSH #2, +, PUSH #2, +, PUSH #3, -"},
      {"Z = 1.5.5", more + "Z = 1.5.5 ? "}, {"Z = 0x1", more + "Z = 0x1 ? "}, {"Z = 2ex", more + "Z = 2ex ? "},
      {"Z = 1e-299", number + "Z = 1e-299 ? "}, {"Z = 1 + .x", number + "Z = 1 +  ? .x"},
      {"Z = 1e299 + 1", number + "Z = 1e299 ?  + 1"}, {"Z = 1e12345678901234567890", number + "Z = 1e12345678901234567890 ? "},
      {"Z = X =< Z", expected + "Z = X =< ?  Z"}, {"Z = X >== Z", expected + "Z = X >== ?  Z"},
      {"Z = andy", undefined + "Z = andy ? "}, {"Z = 3 $ 4", syntax + "Z = 3  ? $ 4"},
      {"Z = \xC3\xA9", syntax + "Z =  ? \xC3\xA9"}, {"Z = X\xB5", syntax + "Z = X ? \xB5"},
      // A registered name hides a built-in only when whole; a listing made after the registry is
      // cleared shows each call's index. Text beyond 303 characters is dropped without an error.
      {"Z = sin(X) + sqrt(X) + SINC(X)", "PUSH X, sin, PUSH X, CALL #1, +, PUSH X, CALL #0, +"},
      {"Z = X" + std::string(298, ' ') + "$$$ + 1", "PUSH X"},
      // Each fault's message once, its marker where the cursor stood; a fault in the equation is
      // the user's, never reported as an internal error.
      {"   ", expected + "    ? "}, {"1 = Z", expected + "1 ?  = Z"}, {"Z = +1", expected + "Z = + ? 1"},
      {"Z = 2 + * 3", expected + "Z = 2 + * ?  3"}, {"Z = sqrt()", expected + "Z = sqrt() ? "}, {"Z = and", expected + "Z = and ? "},
      {"Q = X", undefined + "Q ?  = X"}, {"Z = foo(1)", undefined + "Z = foo(1 ? )"},
      {"Z = foo + 1", undefined + "Z = foo + ?  1"}, {"Z = X(1)", undefined + "Z = X(1 ? )"},
      {"Z + 1", missing + "='\r\nZ + ?  1"}, {"Z = 1 2", more + "Z = 1 2 ? "}, {"Z = (1", missing + ")'\r\nZ = (1 ? "},
      {"Z = pow(2, 3, 4)", missing + ")'\r\nZ = pow(2, 3, ?  4)"}, {"Z = SQRT", missing + "('\r\nZ = SQRT ? "},
      {"Z = sinc", missing + "('\r\nZ = sinc ? "}, {"Z = pow(2)", "Missing function argument\r\nZ = pow(2) ? "},
      // A name longer than 47 characters is split, so its 47-character head names nothing. The
      // 303-character cut, both sides: the character at 302 is seen, the one at 303 is not.
      {"Z = " + a48, undefined + "Z = " + a48 + " ? "}, {"Z = " + b47 + "*2", "PUSH " + b47 + ", PUSH #2, *"},
      {"Z = " + dashes + "$", syntax + "Z = " + dashes + " ? $"}, {"Z = " + dashes + " $", expected + "Z = " + dashes + "  ? "},
      // A function without parameters cannot be called: an internal fault, reported once.
      {"Z = zero()", "Internal error*"}, {"Z = 1 + zero(X)", "Internal error*"},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(Compiled(row.equation), row.outcome) << row.equation;
}

// The exact words: operands count from 0x8000, and equal literals never share a pool slot. A
// failed compilation leaves the random sequence alone; a successful one, even without random
// functions, restarts it from the tick count.
TEST(Grammar, WorkedExampleGivesItsExactWordsAndPoolAndReseeds) {
  SeedRandom(12345);
  const int expected = DrawRandom();
  SeedRandom(12345);
  EXPECT_FALSE(Make("X Y Z")->Compile("Y = $"));
  EXPECT_EQ(DrawRandom(), expected);
  const uint32_t before = platform::TickCount();
  SeedRandom(before + 0x40000000u);
  auto expression = Make("X Y Z");
  ASSERT_TRUE(expression->Compile("Z = 2*sin(X) + Y/2"));
  const int first = DrawRandom(), second = DrawRandom();
  bool matched = false;
  for (uint32_t tick = before, after = platform::TickCount(); tick <= after && !matched; ++tick) {
    SeedRandom(tick);
    matched = DrawRandom() == first && DrawRandom() == second;
  }
  EXPECT_TRUE(matched) << "no tick from " << before;
  const Program& program = expression->program;
  EXPECT_EQ(std::vector<CodeWord>(program.code, program.code + program.codeCount),
            (std::vector<CodeWord>{0x8003, 0x8000, 126, 103, 0x8001, 0x8004, 104, 101}));
  EXPECT_EQ(program.assignedVariable, 2);
  EXPECT_EQ(std::vector<double>(program.pool + 3, program.pool + program.poolCount),
            (std::vector<double>{2, 2}));
}

TEST(BoundedCopy, CopiesAtMostSizeLessOneAndNeverWritesPastTheBuffer) {
  for (const size_t size : {1, 3, 4, 6}) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    BoundedCopy(buffer, "abc", size);
    EXPECT_EQ(std::string(buffer), std::string("abc").substr(0, size - 1));
    for (size_t i = size; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;
  }
}

// "Syntax error\r\n" is 14 characters, leaving 497 of 511 for the equation and the marker, which
// no equation of 303 characters reaches; where fewer than three places are left, no marker, the
// rest of the text fills them. An unknown identifier gives the bare missing text.
TEST(ComposeCompileError, CutsTheTextToTheBudgetAndMarksTheCursor) {
  const std::string a600(600, 'a'), head = "Syntax error\r\n";
  // clang-format off
  const struct { int id; size_t cursor; std::string expected; } rows[] = {
      {10010, 400, head + std::string(400, 'a') + " ? " + std::string(94, 'a')},
      {10010, 494, head + std::string(494, 'a') + " ? "}, {10010, 495, head + std::string(497, 'a')},
      {10000, 0, "Missing Error String"}, {10011, 0, "Missing Error String"}};
  // clang-format on
  for (const auto& row : rows) {
    char message[MESSAGE_SIZE];
    ComposeCompileError(row.id, a600.c_str(), a600.c_str() + row.cursor, message);
    ASSERT_NE(std::memchr(message, '\0', MESSAGE_SIZE), nullptr);
    EXPECT_EQ(message, row.expected) << row.id << " " << row.cursor;
  }
}

// The report names the module holding the library's code (this program, without directories),
// the file constant and the line, cut to 255 characters; the check's verdict is its condition.
TEST(InternalError, ReportNamesModuleFileAndLine) {
  testing::ReportRecorder recorder;
  EXPECT_FALSE(ReportInternalError("Parse", 42));
  EXPECT_FALSE(KALO_CHECK(1 + 1 == 3, CHECK_FILE_USERFUNC));
  EXPECT_TRUE(KALO_CHECK(1 + 1 == 2, CHECK_FILE_USERFUNC));
  ReportInternalError(std::string(400, 'f').c_str(), 7);
  ASSERT_EQ(recorder.Count(), 3u);
  const std::string& first = recorder.Reports()[0];
  const std::string prefix = "Internal error\r\nModule: ";
  const std::string module = first.substr(prefix.size(), first.find(',') - prefix.size());
  EXPECT_EQ(module.rfind("compiler_test", 0), 0u) << module;
  EXPECT_EQ(first, prefix + module + ", File: Parse (line 42)");
  EXPECT_NE(recorder.Reports()[1].find(", File: userfunc (line "), std::string::npos);
  EXPECT_EQ(recorder.Reports()[2].size(), 255u);
}

}  // namespace
}  // namespace kalo
