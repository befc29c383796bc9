// Facts of one evaluation no oracle knows: each fault's code and text, the record, angular units,
// bounds, random draws, and the floating-point state the host gets back.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "evaluator/random.h"
#include "interface/handle.h"
#include "platform/bessel.h"
#include "support/eval_harness.h"
#include "support/reports.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

using kalo_test::Same;
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double PI = 3.141592653589793;
constexpr KAL_ANGULAR_UNITS RAD = KAL_RADIANS, DEG = KAL_DEGREES, GRAD = KAL_GRADS;
char scratch[MESSAGE_SIZE];
// The C library's pow, which the compiler's own may differ from when it computes ahead.
double RuntimePow(double x, volatile double y) { return std::pow(x, y); }

struct Compiled : Expression {
  explicit Compiled(const char* equation) : Expression("X Y Z", scratch, MESSAGE_SIZE) {
    EXPECT_TRUE(Compile(equation)) << equation << ": " << message;
  }
  bool Run(double* values) { return Evaluate(program, &evaluator, &record, values); }
  std::string Text() { return ComposeEvalError(program, record, message), message; }
};

// clang-format off
// Over X Y Z. Code 0: the assigned variable becomes `value`; else the text shows `shown`, then the
// code's message. A word not -1 is the record: the last word and the last operation's operands.
struct Row {
  const char* equation; double x; int code; double value; const char* shown;
  KAL_ANGULAR_UNITS units = RAD; double y = 0, z = 0; int word = -1; double next = 0, top = 0;
};
const Row ROWS[] = {
    {"Z = 2*sin(X) + Y/3", 0.5, 0, 2 * std::sin(0.5) + 2, nullptr, RAD, 6, 0, 101, 2 * std::sin(0.5), 2},
    {"Z = 2*sin(X) + Y/3", NaN, 205, 0, "sin(NAN)", RAD, 6, 0, 126, 2, NaN}, {"Y = X", 5, 0, 5, nullptr, RAD, 0, 0, 0x8000, 0, 0},
    {"Y = 3 * -X", 2, 0, -6, nullptr, RAD, 0, 0, 103, 3, -2}, {"Y = if(X, 2, 3)", 0, 0, 3, nullptr, RAD, 0, 0, 146, 2, 3},
    {"Y = 1 + if(X, 2, 3)", 0, 0, 4, nullptr, RAD, 0, 0, 101, 1, 3}, {"Y = Y + 1", 0, 0, 3, nullptr, RAD, 2}, {"Y = X", NaN, 0, NaN, nullptr},
    // Faults of the arithmetic, named from the operands as written; 0 / 0 is a division by zero.
    {"Y = X / 0", 1, 202, 0, "Divide(1,0)", RAD, 0, 0, 104, 1, 0}, {"Y = 0 / 0", 0, 202, 0, "Divide(0,0)", RAD, 0, 0, 104, 0, 0},
    {"Y = X / Z", -0.0, 202, 0, "Divide(-0,0)"}, {"Y = ln(X)", 0, 202, 0, "ln(0)"}, {"Y = exp(X)", 1000, 205, 0, "exp(1000)"},
    // A constant part that faults is not computed ahead; the run reaches it and stops there.
    {"Y = X + 1 / 0", 1, 202, 0, "Divide(1,0)"}, {"Y = 2 + sqrt(X)", -4, 205, 0, "sqrt(-4)", RAD, 0, 0, 128, 2, -4},
    {"Y = sqrt(X) + 2", -4, 205, 0, "sqrt(-4)", RAD, 0, 0, 128, 0, -4}, {"Y = X * X", 1e200, 205, 0, "Multiply(1E+200,1E+200)"},
    {"Y = X * X", 1e-200, 206, 0, "Multiply(1E-200,1E-200)"},
    // An exact tiny result raises no flag on a masked unit, but is an underflow all the same.
    {"Y = X * 0.5", 0x1p-1022, 206, 0, "Multiply(2.22507E-308,0.5)", RAD, 0, 0, 103, 0x1p-1022, 0.5},
    {"Y = X + 1", 1e-310, 201, 0, "Add(1E-310,1)", RAD, 0, 0, 101, 1e-310, 1},
    {"Y = Z * X", 1e300, 201, 0, "Multiply(1E-310,1E+300)", RAD, 0, 1e-310}, {"Y = X < 1", 1e-310, 201, 0, "<(1E-310,1)"},
    {"Y = X = 1", 1e-310, 201, 0, "=(1E-310,1)"}, {"Y = X + 1", INF, 205, 0, "Add(INF,1)"}, {"Y = X * 1", NaN, 205, 0, "Multiply(NAN,1)"},
    {"Y = X - X", INF, 205, 0, "Subtract(INF,INF)"}, {"Y = -X", -INF, 205, 0, "Negation(-INF)"},
    // max, min and if with a NaN: the NaN is chosen only where the rule says, then tested.
    {"Y = max(X, 1)", NaN, 0, 1, nullptr}, {"Y = min(X, 1)", NaN, 0, 1, nullptr}, {"Y = if(X, 1, 2)", NaN, 0, 1, nullptr},
    {"Y = max(1, X) * 2", NaN, 205, 0, "max(1,NAN)", RAD, 0, 0, 141, 1, NaN}, {"Y = if(0, 1, X)", INF, 205, 0, "if"},
    // = and <>: a closed tolerance of 1e-15 relative to the left operand, scaled for tiny ones.
    {"Y = 1e15 = 999999999999999", 0, 0, -1, nullptr}, {"Y = 999999999999999 = 1e15", 0, 0, 0, nullptr},
    {"Z = X = Y", 5e15, 0, -1, nullptr, RAD, 4999999999999995.0},
    {"Z = X = Y", std::ldexp(5e15, -1000), 0, -1, nullptr, RAD, std::ldexp(4999999999999995.0, -1000)},
    {"Z = X = Y", std::ldexp(5e15, -1000), 0, 0, nullptr, RAD, std::ldexp(4999999999999994.0, -1000)},
    // A difference that overflows is a fault, so the comparison is not computed ahead either.
    {"Y = X + (1e298 * 1e10 = -1e298 * 1e10)", 1, 205, 0, "=(1E+308,-1E+308)"}, {"Y = 0 = X", 1e-300, 0, 0, nullptr},
    {"Y = X = 0", -0.0, 0, -1, nullptr}, {"Y = 1 = X", 1 + 0x4p-52, 0, -1, nullptr}, {"Y = 1 = X", 1 + 0x5p-52, 0, 0, nullptr},
    {"Y = X = X", NaN, 0, 0, nullptr}, {"Y = X <> X", NaN, 0, -1, nullptr},
    // Logical operands: 32-bit integers, bounds tested before rounding, both converted.
    {"Y = 2147483647 or 0", 0, 0, 2147483647, nullptr}, {"Y = X or 0", -2147483648.0, 0, -2147483648.0, nullptr},
    {"Y = X and 1", NaN, 0, 0, nullptr}, {"Y = 2147483647.4 or 0", 0, 303, 0, "or(2.14748E+09,0)"},
    {"Y = -2147483648.5 or 0", 0, 303, 0, "or(-2.14748E+09,0)"}, {"Y = not X", 4e9, 303, 0, "not(4E+09)"},
    {"Y = (X and 1) / 0", 1e10, 303, 0, "and(1E+10,1)", RAD, 0, 0, 105, 1e10, 1}, {"Y = 1 xor X", -3e9, 303, 0, "xor(1,-3E+09)"},
    // A maths routine's fault is named from its operands and result, whatever flags it raised.
    {"Y = exp(X)", -708.4, 206, 0, "exp(-708.4)"}, {"Y = exp(X)", -1000, 206, 0, "exp(-1000)"}, {"Y = pow(X, 2)", 1e-160, 206, 0, "pow(1E-160,2)"},
    {"Y = jn(300, 1)", 0, 206, 0, "jn(300,1)"}, {"Y = atan2(X, Z)", 1e-300, 206, 0, "atan2(1E-300,1E+300)", RAD, 0, 1e300},
    {"Y = cos(X)", 1e-310, 201, 0, "cos(1E-310)"}, {"Y = floor(X)", -1e-310, 201, 0, "floor(-1E-310)"},
    {"Y = jn(X, 1)", 1e-310, 201, 0, "jn(1E-310,1)"}, {"Y = pow(X, -1)", 0, 202, 0, "pow(0,-1)"}, {"Y = log10(X)", -0.0, 202, 0, "log10(-0)"},
    {"Y = yn(2, X)", 0, 202, 0, "yn(2,0)"}, {"Y = pow(X, 0.5)", -1, 205, 0, "pow(-1,0.5)"}, {"Y = ln(X)", -1, 205, 0, "ln(-1)"},
    {"Y = ln(X)", INF, 205, 0, "ln(INF)"}, {"Y = pow(X, 400)", 10, 205, 0, "pow(10,400)"}, {"Y = pow(X, 7)", 1e50, 205, 0, "pow(1E+50,7)"},
    {"Y = pow(X, 0 - 7)", 1e50, 206, 0, "pow(1E+50,-7)"},
    // Whole powers from -16 to 16 by multiplication, which may differ from pow in the last place.
    {"Y = pow(X, 16)", 1.1, 0, 4.594972986357221, nullptr}, {"Y = pow(X, 0 - 16)", 1.1, 0, 1 / 4.594972986357221, nullptr},
    {"Y = pow(X, 17)", 1.1, 0, RuntimePow(1.1, 17), nullptr}, {"Y = pow(X, 0 - 17)", 1.1, 0, RuntimePow(1.1, -17), nullptr},
    // Exact zeros of infinite operands, which forms_test's reference values leave out.
    {"Y = exp(X)", -INF, 0, 0, nullptr}, {"Y = pow(0.5, X)", INF, 0, 0, nullptr}, {"Y = atan2(1, X)", INF, 0, 0, nullptr},
    {"Y = jn(2, X)", 0, 0, 0, nullptr}, {"Y = j0(X)", INF, 0, 0, nullptr}, {"Y = atan(X)", INF, 0, PI / 2, nullptr},
    // Angular units; the operand as written is tested, not the radians it converts to.
    {"Y = cos(X)", 1e-306, 0, 1, nullptr, DEG}, {"Y = sin(X)", 90, 0, 1, nullptr, DEG}, {"Y = acos(-1)", 0, 0, 180, nullptr, DEG},
    {"Y = sin(X)", 100, 0, 1, nullptr, GRAD}, {"Y = acos(-1)", 0, 0, PI, nullptr, KAL_ANGULAR_UNITS(7)},
    {"Y = sinh(X)", 90, 0, std::sinh((PI * 90) * 0.005555555555555556), nullptr, DEG},
    {"Y = tanh(X)", 50, 0, std::tanh((PI * 50) * 0.005), nullptr, GRAD}, {"Y = d2r(180)", 0, 0, PI, nullptr, DEG},
    {"Y = r2d(X)", PI, 0, 180, nullptr, GRAD}, {"Y = exp(X)", 0, 0, 1, nullptr, DEG},
    // Constant parts computed ahead follow the unit set after compilation.
    {"Y = sin(90) * X", 2, 0, 2, nullptr, DEG}, {"Y = X * cos(200) + 1", 3, 0, -2, nullptr, GRAD},
    // Bessel orders beyond 100000 either way are refused: the routines take time in proportion.
    {"Y = jn(-100000.9, X)", 1e6, 0, ::jn(-100000, 1e6), nullptr}, {"Y = yn(100000.9, X)", 1e6, 0, ::yn(100000, 1e6), nullptr},
    {"Y = jn(-100001, X)", 1e6, 303, 0, "jn(-100001,1E+06)"}, {"Y = yn(X, 2)", 100001, 303, 0, "yn(100001,2)"},
    {"Y = jn(X, 2)", NaN, 303, 0, "jn(NAN,2)"}, {"Y = randn(5, 0)", 0, 0, 5, nullptr}, {"Y = randu(0)", 0, 0, 0, nullptr}};
const struct { int code; const char* text; } MESSAGES[] = {{201, "Denormalized number"}, {202, "Divide by 0 error"},
    {205, "Overflow error"}, {206, "Underflow error"}, {303, "Overflow range error"}};
// clang-format on

TEST(Evaluation, ResultOrExactErrorAndRecord) {
  for (const Row& row : ROWS) {
    Compiled expression(row.equation);
    SetAngularUnits(expression.program, &expression.evaluator, row.units);
    std::string text = "No errors";
    for (const auto& message : MESSAGES)
      if (message.code == row.code)
        text = "MATH ERROR:  " + std::string(row.shown) + "\r\n" + message.text;
    for (int run = 0; run < 2; ++run) {  // a second run leaves the same record
      const double inputs[3] = {row.x, row.y, row.z};
      double values[3] = {row.x, row.y, row.z};
      std::feclearexcept(FE_ALL_EXCEPT);
      EXPECT_EQ(expression.Run(values), row.code == 0) << row.equation;
      EXPECT_TRUE(std::fetestexcept(FE_ALL_EXCEPT) == 0 &&
                  expression.record.errorCode == row.code && expression.Text() == text)
          << row.equation << ": " << expression.message;
      for (int i = 0; i < 3; ++i) {
        const double expected = row.code == 0 && i == row.equation[0] - 'X' ? row.value : inputs[i];
        EXPECT_TRUE(Same(values[i], expected)) << row.equation << ": [" << i << "] " << values[i];
      }
      EXPECT_TRUE(row.word < 0 || (int(expression.record.lastCodeWord) == row.word &&
                                   Same(expression.record.nextValue, row.next) &&
                                   Same(expression.record.topValue, row.top)))
          << row.equation;
    }
  }
}

// The stack holds 200 values, more than a text of 303 characters can push; a program that pushes
// a 201st ends in 103 there, not at the end.
TEST(Evaluation, StackHoldsTwoHundredValues) {
  for (int pushes : {200, 201}) {
    Compiled deep("Y = X");
    deep.program.codeCount = 0;
    for (int i = 0; i < pushes; ++i) deep.program.code[deep.program.codeCount++] = 0x8000;
    for (int i = 1; i < 200; ++i) deep.program.code[deep.program.codeCount++] = OP_ADD;
    deep.evaluator.fastest = Form::INTERPRETER;
    double values[3] = {1, 0, 0};
    EXPECT_TRUE(deep.Run(values) == (pushes == 200) && values[1] == (pushes == 200 ? 200 : 0));
    EXPECT_EQ(deep.Text(), pushes == 200 ? "No errors" : "MATH ERROR:  X\r\nInternal error");
  }
}

// The names texts give to code words that name no operation, after a report where the word
// should have named something; and values the gate cannot read: 104, the previous fault forgotten.
TEST(Evaluation, NamesUnknownWordsAndRefusesMissingValues) {
  ClearUserFunctions();
  const testing::ReportRecorder recorder;
  Compiled expression("Z = X + 2");  // the literal takes slot 3
  // clang-format off
  const struct { CodeWord word; const char* name; int count; } rows[] = {{0, "Unknown operation", -1},
      {0x8002, "Z", -1}, {0x8003, "Unknown variable", -1}, {0xC000, "Unknown variable", -1}, {100, "Negation", 1},
      {146, "if", 3}, {147, "Unknown function", -1}, {99, "Unknown function", -1}, {1, "Unknown function", -1},
      {0x4005, "Unknown registered function", -1}};
  // clang-format on
  for (const auto& row : rows) {
    int count = 99;
    EXPECT_STREQ(GetCodeWordName(expression.program, row.word, &count), row.name) << row.word;
    EXPECT_EQ(count, row.count) << row.word;
  }
  double values[3] = {1, 0, 0};
  Compiled failing("Y = X / 0");
  EXPECT_FALSE(failing.Run(values) || failing.Run(nullptr));
  EXPECT_EQ(failing.Text(), "MATH ERROR:  Unknown operation\r\nInternal error: bad address");
  ASSERT_EQ(recorder.Count(), 2u);
  EXPECT_NE(recorder.Reports()[0].find("userfunc"), std::string::npos);
  EXPECT_NE(recorder.Reports()[1].find("Parse"), std::string::npos);
}

// A random value is drawn anew on each evaluation, even with constant operands. Seeded, a draw is
// as documented: randu from three 15-bit draws, the first least significant; randn from the sum
// of twelve, scaled by 1/32767.
TEST(Evaluation, RandomDrawsAreFreshAndAsDocumented) {
  Compiled fixed("Y = randu(10)"), uniform("Y = randu(X)"), normal("Y = randn(X, Z)");
  double values[3] = {10, 0, 0.5}, previous = NaN, draws[12], sum = 0;
  int differing = 0;
  for (int i = 0; i < 200; ++i, differing += values[1] != previous, previous = values[1])
    ASSERT_TRUE(fixed.Run(values) && values[1] >= 0 && values[1] < 10) << values[1];
  EXPECT_GT(differing, 150);
  SeedRandom(1);  // the classic linear congruential sequence
  for (int expected : {41, 18467, 6334}) EXPECT_EQ(DrawRandom(), expected);
  SeedRandom(7);
  for (double& draw : draws) sum += draw = DrawRandom();
  for (double x : {10.0, -10.0, 0x1p45}) {
    SeedRandom(7), values[0] = x;
    ASSERT_TRUE(uniform.Run(values));
    EXPECT_EQ(values[1], x * (((draws[0] / 32768 + draws[1]) / 32768 + draws[2]) / 32768));
  }
  SeedRandom(7), values[0] = 10;
  ASSERT_TRUE(normal.Run(values));
  EXPECT_DOUBLE_EQ(values[1], (sum / 32767 - 6) * 0.5 + 10);
}

int Identity(double* arguments, double* result, long /*user*/) { return *result = arguments[0], 0; }

// SSE flags the host left set neither end the run nor survive it, nor do flush-to-zero and
// denormals-are-zero hide a denormal from it. The x87 unit's flags are left alone by a run that
// cannot touch the unit, and cleared around host code (and a maths library that uses the unit).
TEST(HostState, ClearsFlagsOnlyWhereTheRunMayTouchThem) {
  RegisterUserFunction("same", 1, &Identity, 0);
  constexpr unsigned FTZ_DAZ = 0x8040;
  constexpr int ALL = FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW | FE_INVALID | FE_INEXACT;
  // clang-format off
  const struct { const char* equation; double x; bool clearsX87; int code; } rows[] = {{"Y = X + 1", 0, false, 0},
      {"Y = cos(X)", 0, platform::LIBRARY_USES_X87, 0}, {"Y = same(X) + 1", 0, true, 0}, {"Y = X + 1", 1e-310, false, 201}};
  // clang-format on
  for (const auto& row : rows) {
    Compiled expression(row.equation);
    double values[3] = {row.x, 0, 0};
    const unsigned saved = _mm_getcsr() & ~FTZ_DAZ;
    std::feraiseexcept(ALL), SetX87Flags(ALL), _mm_setcsr(_mm_getcsr() | FTZ_DAZ);
    const bool returned = expression.Run(values);
    const unsigned csr = _mm_getcsr();
    const int x87 = X87Flags();
    _mm_setcsr(saved), std::feclearexcept(FE_ALL_EXCEPT);
    EXPECT_TRUE(returned == (row.code == 0) && (row.code != 0 || values[1] == 1) &&
                expression.record.errorCode == row.code && (csr & (FTZ_DAZ | FE_ALL_EXCEPT)) == 0 &&
                x87 == (row.clearsX87 ? 0 : ALL))
        << row.equation << ": " << csr << " " << x87;
  }
  ClearUserFunctions();
  // Constant parts are computed ahead in the run's rounding, not the one the host compiles in.
  std::fesetround(FE_UPWARD);
  Compiled folded("Y = 1 / 3 + X");
  std::fesetround(FE_TONEAREST);
  double values[3] = {0, 0, 0};
  EXPECT_TRUE(folded.Run(values) && values[1] == 1.0 / 3);
}

}  // namespace
}  // namespace kalo
