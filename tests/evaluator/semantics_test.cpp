// Facts of one evaluation that no oracle knows: each fault's code and text, the record the text is
// made from, angular units, bounds, random draws, and the floating-point state the host gets back.
// What the forms agree on and what each operation computes are checked in forms_test.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "interface/handle.h"
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

struct Compiled : Expression {
  explicit Compiled(const char* equation) : Expression("X Y Z", scratch, MESSAGE_SIZE) {
    EXPECT_TRUE(Compile(equation)) << equation << ": " << message;
  }
  bool Run(double* values) { return Evaluate(program, &evaluator, &record, values); }
  std::string Text() {
    ComposeEvalError(program, record, message);
    return message;
  }
};

struct Row {
  const char* equation;  // over X Y Z
  double x, y, z;
  int code;          // 0: the assigned variable becomes `value`
  double value;      //
  const char* text;  // else the text after "MATH ERROR:  "
  KAL_ANGULAR_UNITS units = RAD;
  int word = -1;  // when not -1, the record: the last word and the last operation's operands
  double next = 0, top = 0;
};

// clang-format off
const Row ROWS[] = {
    {"Z = 2*sin(X) + Y/3", 0.5, 6, 0, 0, 2 * std::sin(0.5) + 2, nullptr, RAD, 101, 2 * std::sin(0.5), 2},
    {"Z = 2*sin(X) + Y/3", NaN, 6, 0, 205, 0, "sin(NAN)\r\nOverflow error", RAD, 126, 2, NaN},
    {"Y = X", 5, 0, 0, 0, 5, nullptr, RAD, 0x8000, 0, 0}, {"Y = Y + 1", 0, 2, 0, 0, 3, nullptr},
    {"Y = X", NaN, 0, 0, 0, NaN, nullptr}, {"Y = -X", 0, 0, 0, 0, -0.0, nullptr},
    {"Y = 3 * -X", 2, 0, 0, 0, -6, nullptr, RAD, 103, 3, -2},
    {"Y = if(X, 2, 3)", 0, 0, 0, 0, 3, nullptr, RAD, 146, 2, 3},
    {"Y = 1 + if(X, 2, 3)", 0, 0, 0, 0, 4, nullptr, RAD, 101, 1, 3},
    // Faults of the arithmetic, named from the operands as written.
    {"Y = X / 0", 1, 0, 0, 202, 0, "Divide(1,0)\r\nDivide by 0 error", RAD, 104, 1, 0},
    {"Y = 0 / 0", 0, 0, 0, 202, 0, "Divide(0,0)\r\nDivide by 0 error", RAD, 104, 0, 0},
    {"Y = X / Z", -0.0, 0, 0, 202, 0, "Divide(-0,0)\r\nDivide by 0 error"},
    // A constant part that faults is not computed ahead; the run reaches it and stops there.
    {"Y = X + 1 / 0", 1, 0, 0, 202, 0, "Divide(1,0)\r\nDivide by 0 error"},
    {"Y = 2 + sqrt(X)", -4, 0, 0, 205, 0, "sqrt(-4)\r\nOverflow error", RAD, 128, 2, -4},
    {"Y = sqrt(X) + 2", -4, 0, 0, 205, 0, "sqrt(-4)\r\nOverflow error", RAD, 128, 0, -4},
    {"Y = ln(X)", 0, 0, 0, 202, 0, "ln(0)\r\nDivide by 0 error"},
    {"Y = exp(X)", 1000, 0, 0, 205, 0, "exp(1000)\r\nOverflow error"},
    {"Y = X * X", 1e200, 0, 0, 205, 0, "Multiply(1E+200,1E+200)\r\nOverflow error"},
    {"Y = X * X", 1e-200, 0, 0, 206, 0, "Multiply(1E-200,1E-200)\r\nUnderflow error"},
    // An exact tiny result raises no flag on a masked unit, but is an underflow all the same.
    {"Y = X * 0.5", 0x1p-1022, 0, 0, 206, 0, "Multiply(2.22507E-308,0.5)\r\nUnderflow error", RAD, 103, 0x1p-1022, 0.5},
    {"Y = X + 1", 1e-310, 0, 0, 201, 0, "Add(1E-310,1)\r\nDenormalized number", RAD, 101, 1e-310, 1},
    {"Y = Z * X", 1e300, 0, 1e-310, 201, 0, "Multiply(1E-310,1E+300)\r\nDenormalized number"},
    {"Y = X < 1", 1e-310, 0, 0, 201, 0, "<(1E-310,1)\r\nDenormalized number"},
    {"Y = 1 >= X", 1e-310, 0, 0, 201, 0, ">=(1,1E-310)\r\nDenormalized number"},
    {"Y = X = 1", 1e-310, 0, 0, 201, 0, "=(1E-310,1)\r\nDenormalized number"},
    {"Y = X + 1", INF, 0, 0, 205, 0, "Add(INF,1)\r\nOverflow error"},
    {"Y = X * 1", NaN, 0, 0, 205, 0, "Multiply(NAN,1)\r\nOverflow error"},
    {"Y = X - X", INF, 0, 0, 205, 0, "Subtract(INF,INF)\r\nOverflow error"},
    {"Y = -X", -INF, 0, 0, 205, 0, "Negation(-INF)\r\nOverflow error"},
    // max, min and if with a NaN: the NaN is chosen only where the rule says, then tested.
    {"Y = max(X, 1)", NaN, 0, 0, 0, 1, nullptr}, {"Y = min(X, 1)", NaN, 0, 0, 0, 1, nullptr},
    {"Y = max(1, X) * 2", NaN, 0, 0, 205, 0, "max(1,NAN)\r\nOverflow error", RAD, 141, 1, NaN},
    {"Y = min(1, X)", NaN, 0, 0, 205, 0, "min(1,NAN)\r\nOverflow error"},
    {"Y = if(X, 1, 2)", NaN, 0, 0, 0, 1, nullptr},
    {"Y = if(0, 1, X)", INF, 0, 0, 205, 0, "if\r\nOverflow error"},
    // = and <>: a closed tolerance of 1e-15 relative to the left operand, scaled for tiny ones.
    {"Y = 1e15 = 999999999999999", 0, 0, 0, 0, -1, nullptr}, {"Y = 999999999999999 = 1e15", 0, 0, 0, 0, 0, nullptr},
    {"Z = X = Y", 5e15, 4999999999999995.0, 0, 0, -1, nullptr},
    {"Z = X = Y", std::ldexp(5e15, -1000), std::ldexp(4999999999999995.0, -1000), 0, 0, -1, nullptr},
    {"Y = 0 = X", 1e-300, 0, 0, 0, 0, nullptr}, {"Y = X = 0", -0.0, 0, 0, 0, -1, nullptr},
    {"Y = 1 = X", 1 + 0x4p-52, 0, 0, 0, -1, nullptr}, {"Y = 1 = X", 1 + 0x5p-52, 0, 0, 0, 0, nullptr},
    {"Y = X = X", NaN, 0, 0, 0, 0, nullptr}, {"Y = X <> X", NaN, 0, 0, 0, -1, nullptr},
    // Logical operands: 32-bit integers, bounds tested before rounding, both converted.
    {"Y = 2147483647 or 0", 0, 0, 0, 0, 2147483647, nullptr}, {"Y = X or 0", -2147483648.0, 0, 0, 0, -2147483648.0, nullptr},
    {"Y = X and 1", NaN, 0, 0, 0, 0, nullptr},
    {"Y = 2147483647.4 or 0", 0, 0, 0, 303, 0, "or(2.14748E+09,0)\r\nOverflow range error"},
    {"Y = -2147483648.5 or 0", 0, 0, 0, 303, 0, "or(-2.14748E+09,0)\r\nOverflow range error"},
    {"Y = (X and 1) / 0", 1e10, 0, 0, 303, 0, "and(1E+10,1)\r\nOverflow range error", RAD, 105, 1e10, 1},
    {"Y = 1 xor X", -3e9, 0, 0, 303, 0, "xor(1,-3E+09)\r\nOverflow range error"},
    {"Y = not X", 4e9, 0, 0, 303, 0, "not(4E+09)\r\nOverflow range error"},
    // A maths routine's fault is named from its operands and result, whatever flags it raised.
    {"Y = exp(X)", -708.4, 0, 0, 206, 0, "exp(-708.4)\r\nUnderflow error"},
    {"Y = exp(X)", -1000, 0, 0, 206, 0, "exp(-1000)\r\nUnderflow error"},
    {"Y = pow(X, 2)", 1e-160, 0, 0, 206, 0, "pow(1E-160,2)\r\nUnderflow error"},
    {"Y = jn(300, 1)", 0, 0, 0, 206, 0, "jn(300,1)\r\nUnderflow error"},
    {"Y = atan2(X, Z)", 1e-300, 0, 1e300, 206, 0, "atan2(1E-300,1E+300)\r\nUnderflow error"},
    {"Y = cos(X)", 1e-310, 0, 0, 201, 0, "cos(1E-310)\r\nDenormalized number"},
    {"Y = floor(X)", -1e-310, 0, 0, 201, 0, "floor(-1E-310)\r\nDenormalized number"},
    {"Y = jn(X, 1)", 1e-310, 0, 0, 201, 0, "jn(1E-310,1)\r\nDenormalized number"},
    {"Y = pow(X, -1)", 0, 0, 0, 202, 0, "pow(0,-1)\r\nDivide by 0 error"},
    {"Y = log10(X)", -0.0, 0, 0, 202, 0, "log10(-0)\r\nDivide by 0 error"},
    {"Y = yn(2, X)", 0, 0, 0, 202, 0, "yn(2,0)\r\nDivide by 0 error"},
    {"Y = pow(X, 0.5)", -1, 0, 0, 205, 0, "pow(-1,0.5)\r\nOverflow error"},
    {"Y = ln(X)", -1, 0, 0, 205, 0, "ln(-1)\r\nOverflow error"},
    {"Y = pow(X, 400)", 10, 0, 0, 205, 0, "pow(10,400)\r\nOverflow error"},
    {"Y = ln(X)", INF, 0, 0, 205, 0, "ln(INF)\r\nOverflow error"},
    {"Y = pow(X, 7)", 1e50, 0, 0, 205, 0, "pow(1E+50,7)\r\nOverflow error"},  // by multiplication
    {"Y = pow(X, 0 - 7)", 1e50, 0, 0, 206, 0, "pow(1E+50,-7)\r\nUnderflow error"},
    {"Y = fmod(4, 2)", 0, 0, 0, 0, 0, nullptr}, {"Y = floor(0.5)", 0, 0, 0, 0, 0, nullptr},
    {"Y = ceil(X)", -0.5, 0, 0, 0, -0.0, nullptr}, {"Y = ln(1)", 0, 0, 0, 0, 0, nullptr},
    {"Y = log10(1)", 0, 0, 0, 0, 0, nullptr}, {"Y = acos(1)", 0, 0, 0, 0, 0, nullptr},
    {"Y = sin(X)", -0.0, 0, 0, 0, -0.0, nullptr}, {"Y = tanh(0)", 0, 0, 0, 0, 0, nullptr},
    {"Y = pow(X, 3)", 0, 0, 0, 0, 0, nullptr}, {"Y = exp(X)", -INF, 0, 0, 0, 0, nullptr},
    {"Y = pow(0.5, X)", INF, 0, 0, 0, 0, nullptr}, {"Y = atan2(1, X)", INF, 0, 0, 0, 0, nullptr},
    {"Y = jn(2, X)", 0, 0, 0, 0, 0, nullptr}, {"Y = j0(X)", INF, 0, 0, 0, 0, nullptr},
    {"Y = atan(X)", INF, 0, 0, 0, PI / 2, nullptr},
    // Angular units; the operand as written is tested, not the radians it converts to.
    {"Y = cos(X)", 1e-306, 0, 0, 0, 1, nullptr, DEG}, {"Y = sin(X)", 90, 0, 0, 0, 1, nullptr, DEG},
    {"Y = acos(-1)", 0, 0, 0, 0, 180, nullptr, DEG}, {"Y = atan2(1, 1)", 0, 0, 0, 0, 45, nullptr, DEG},
    {"Y = sin(X)", 100, 0, 0, 0, 1, nullptr, GRAD}, {"Y = acos(-1)", 0, 0, 0, 0, 200, nullptr, GRAD},
    {"Y = acos(-1)", 0, 0, 0, 0, PI, nullptr, KAL_ANGULAR_UNITS(7)},
    {"Y = sin(X)", 2, 0, 0, 0, std::sin(2.0), nullptr, KAL_ANGULAR_UNITS(7)},
    {"Y = sinh(X)", 90, 0, 0, 0, std::sinh((PI * 90) * 0.005555555555555556), nullptr, DEG},
    {"Y = tanh(X)", 50, 0, 0, 0, std::tanh((PI * 50) * 0.005), nullptr, GRAD},
    {"Y = d2r(180)", 0, 0, 0, 0, PI, nullptr, DEG}, {"Y = r2d(X)", PI, 0, 0, 0, 180, nullptr, GRAD},
    {"Y = exp(X)", 0, 0, 0, 0, 1, nullptr, DEG},
    // Constant parts computed ahead follow the unit set after compilation.
    {"Y = sin(90) * X", 2, 0, 0, 0, 2, nullptr, DEG}, {"Y = X * cos(200) + 1", 3, 0, 0, 0, -2, nullptr, GRAD},
    // Bessel orders beyond 100000 either way are refused: the routines take time in proportion.
    {"Y = jn(-100000.9, X)", 1e6, 0, 0, 0, ::jn(-100000, 1e6), nullptr},
    {"Y = yn(100000.9, X)", 1e6, 0, 0, 0, ::yn(100000, 1e6), nullptr},
    {"Y = jn(-100001, X)", 1e6, 0, 0, 303, 0, "jn(-100001,1E+06)\r\nOverflow range error"},
    {"Y = yn(X, 2)", 100001, 0, 0, 303, 0, "yn(100001,2)\r\nOverflow range error"},
    {"Y = jn(X, 2)", NaN, 0, 0, 303, 0, "jn(NAN,2)\r\nOverflow range error"},
    {"Y = randn(5, 0)", 0, 0, 0, 0, 5, nullptr}, {"Y = randu(0)", 0, 0, 0, 0, 0, nullptr},
};
// clang-format on

TEST(Evaluation, ResultOrExactErrorAndRecord) {
  for (const Row& row : ROWS) {
    Compiled expression(row.equation);
    SetAngularUnits(expression.program, &expression.evaluator, row.units);
    for (int run = 0; run < 2; ++run) {  // a second run leaves the same record
      const double inputs[3] = {row.x, row.y, row.z};
      double values[3] = {row.x, row.y, row.z};
      std::feclearexcept(FE_ALL_EXCEPT);
      EXPECT_EQ(expression.Run(values), row.code == 0) << row.equation;
      EXPECT_EQ(std::fetestexcept(FE_ALL_EXCEPT), 0) << row.equation;
      EXPECT_EQ(expression.record.errorCode, row.code) << row.equation;
      EXPECT_EQ(expression.Text(), row.code ? "MATH ERROR:  " + std::string(row.text) : "No errors")
          << row.equation;
      for (int i = 0; i < 3; ++i) {
        const double expected = row.code == 0 && i == row.equation[0] - 'X' ? row.value : inputs[i];
        EXPECT_TRUE(Same(values[i], expected)) << row.equation << ": [" << i << "] " << values[i];
      }
      if (row.word < 0) continue;
      EXPECT_EQ(expression.record.lastCodeWord, row.word) << row.equation;
      EXPECT_TRUE(Same(expression.record.nextValue, row.next)) << row.equation;
      EXPECT_TRUE(Same(expression.record.topValue, row.top)) << row.equation;
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
    EXPECT_EQ(deep.Run(values), pushes == 200);
    EXPECT_EQ(values[1], pushes == 200 ? 200 : 0);
    EXPECT_EQ(deep.Text(), pushes == 200 ? "No errors" : "MATH ERROR:  X\r\nInternal error");
  }
}

TEST(Evaluation, NamesEveryKindOfCodeWord) {
  ClearUserFunctions();
  const testing::ReportRecorder recorder;
  Compiled expression("Z = X + 2");  // the literal takes slot 3
  // clang-format off
  const struct { CodeWord word; const char* name; int count; } rows[] = {
      {0, "Unknown operation", -1}, {0x8002, "Z", -1}, {0x8000, "X", -1}, {0x8003, "Unknown variable", -1},
      {0xC000, "Unknown variable", -1}, {100, "Negation", 1}, {114, ">=", 2}, {115, "acos", 1},
      {146, "if", 3}, {147, "Unknown function", -1}, {99, "Unknown function", -1}, {1, "Unknown function", -1}};
  // clang-format on
  for (const auto& row : rows) {
    int count = 99;
    EXPECT_STREQ(GetCodeWordName(expression.program, row.word, &count), row.name) << row.word;
    EXPECT_EQ(count, row.count) << row.word;
  }
  EXPECT_EQ(recorder.Count(), 0u);
  // A registered-function word whose record is gone is named, after a report, as unknown.
  int count = 99;
  EXPECT_STREQ(GetCodeWordName(expression.program, 0x4005, &count), "Unknown registered function");
  EXPECT_EQ(count, -1);
  // Values the gate cannot read: 104, after a report, and the previous fault forgotten.
  double values[3] = {1, 0, 0};
  Compiled failing("Y = X / 0");
  EXPECT_FALSE(failing.Run(values));
  EXPECT_FALSE(failing.Run(nullptr));
  EXPECT_EQ(failing.Text(), "MATH ERROR:  Unknown operation\r\nInternal error: bad address");
  ASSERT_EQ(recorder.Count(), 2u);
  EXPECT_NE(recorder.Reports()[0].find("userfunc"), std::string::npos);
  EXPECT_NE(recorder.Reports()[1].find("Parse"), std::string::npos);
}

// A random value is drawn anew on each evaluation and stays in its range; the mean of 200 draws
// is within seven standard deviations.
TEST(Evaluation, RandomDrawsKeepTheirRanges) {
  // clang-format off
  const struct { const char* equation; double low, high, mean, tolerance; } rows[] = {
      {"Y = randu(10)", 0, 10, 5, 1.5}, {"Y = randu(-10)", -10, 0, -5, 1.5}, {"Y = randn(0, 1)", -6, 6, 0, 0.5},
      {"Y = randn(X, 2)", 100 - 12, 100 + 12, 100, 1.0}, {"Y = randu(35184372088832)", 0, 0x1p45, 0x1p44, 1e13}};
  // clang-format on
  for (const auto& row : rows) {
    Compiled expression(row.equation);
    double previous = NaN, sum = 0;
    int differing = 0;
    for (int i = 0; i < 200; ++i) {
      double values[3] = {100, 0, 0};
      ASSERT_TRUE(expression.Run(values)) << row.equation;
      EXPECT_TRUE(values[1] >= row.low && values[1] <= row.high) << row.equation << values[1];
      EXPECT_FALSE(row.equation[6] == 'u' && row.high > 0 && values[1] == row.high) << row.equation;
      // Three 15-bit draws, each scaled by 1/32768: times 2^45 the value is a whole number.
      EXPECT_TRUE(row.high != 0x1p45 || values[1] == std::floor(values[1])) << values[1];
      differing += values[1] != previous;
      sum += previous = values[1];
    }
    EXPECT_GT(differing, 150) << row.equation << " does not draw anew";
    EXPECT_NEAR(sum / 200, row.mean, row.tolerance) << row.equation;
  }
}

// The host's floating-point state around a run: the SSE unit is reset for it, its flags are clear
// afterwards, and only the denormal, division-by-zero, overflow and underflow traps come back
// from the host; the x87 control word is the host's.
TEST(HostState, KeepsOnlyTheGuardedTrapsAndTheX87ControlWord) {
  // clang-format off
  const struct { int traps, rounding; } rows[] = {{0, FE_TONEAREST}, {FE_DIVBYZERO | FE_INVALID, FE_UPWARD},
      {FE_OVERFLOW | FE_UNDERFLOW, FE_DOWNWARD}, {FE_INEXACT, FE_TOWARDZERO}};
  // clang-format on
  for (const auto& row : rows) {
    for (const char* equation : {"Y = X / 3", "Y = X / 0", "Y = jn(3, X)"}) {
      Compiled expression(equation);
      double values[3] = {1, 0, 0};
      bool returned = false;
      const kalo_test::StateAfter after = kalo_test::WithTrapsEnabled(
          row.traps, row.rounding, [&] { returned = expression.Run(values); });
      EXPECT_EQ(after.traps.x87, row.traps) << equation;
      EXPECT_EQ(after.traps.sse, row.traps & kalo_test::KEPT_TRAPS) << equation;
      EXPECT_EQ(after.flags, 0) << equation;
      EXPECT_EQ(after.rounding, FE_TONEAREST) << equation;
      EXPECT_EQ(after.x87Rounding, row.rounding) << equation;
      // A division by 3 is rounded to nearest all the same.
      EXPECT_TRUE(equation[8] != '3' || (returned && values[1] == 1.0 / 3)) << equation;
    }
  }
}

int Identity(double* arguments, double* result, long /*user*/) {
  *result = arguments[0];
  return 0;
}

// SSE flags the host left set neither end the run nor survive it. The x87 unit's are left alone
// by a run that cannot touch the unit, and cleared around host code (and, on Windows, around a
// maths library that uses the unit).
TEST(HostState, ClearsFlagsOnlyWhereTheRunMayTouchThem) {
  RegisterUserFunction("same", 1, &Identity, 0);
  // clang-format off
  const struct { const char* equation; bool clearsX87; } rows[] = {{"Y = X + 1", false},
      {"Y = cos(X)", kalo_test_fenv::LIBRARY_USES_X87}, {"Y = same(X) + 1", true}};
  // clang-format on
  for (const auto& row : rows) {
    Compiled expression(row.equation);
    double values[3] = {0, 0, 0};
    const int all = FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW | FE_INVALID | FE_INEXACT;
    std::feraiseexcept(all);
    SetX87Flags(all);
    const bool returned = expression.Run(values);
    const int sse = SseFlags(), x87 = X87Flags();
    std::feclearexcept(FE_ALL_EXCEPT);
    EXPECT_TRUE(returned && values[1] == 1) << row.equation;
    EXPECT_EQ(sse, 0) << row.equation;
    EXPECT_EQ(x87, row.clearsX87 ? 0 : all) << row.equation;
  }
  ClearUserFunctions();
  // Constant parts are computed ahead in the run's rounding, not the one the host compiles in.
  std::fesetround(FE_UPWARD);
  Compiled folded("Y = 1 / 3 + X");
  std::fesetround(FE_TONEAREST);
  double values[3] = {0, 0, 0};
  EXPECT_TRUE(folded.Run(values));
  EXPECT_EQ(values[1], 1.0 / 3);
#if defined(__x86_64__)
  // Flush-to-zero and denormals-are-zero neither hide a denormal from the run nor survive it.
  constexpr unsigned FTZ_DAZ = 0x8040;
  Compiled denormal("Y = X + 1");
  values[0] = 1e-310;
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | FTZ_DAZ);
  const bool returned = denormal.Run(values);
  const unsigned after = _mm_getcsr();
  _mm_setcsr(saved);
  EXPECT_FALSE(returned);
  EXPECT_EQ(denormal.record.errorCode, 201);
  EXPECT_EQ(after & FTZ_DAZ, 0u);
#endif
}

}  // namespace
}  // namespace kalo
