// What one evaluation computes and reports, through the public header: operator semantics, the
// floating-point faults and their texts, angular units, and the state the host gets back.
#include <cmath>
#include <limits>

#include "support/eval_harness.h"

namespace kalo_test {
namespace {

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double PI = 3.141592653589793;
constexpr KAL_ANGULAR_UNITS RAD = KAL_RADIANS;
constexpr KAL_ANGULAR_UNITS DEG = KAL_DEGREES;
constexpr KAL_ANGULAR_UNITS GRAD = KAL_GRADS;

struct Row {
  const char* equation;  // over the variables X Y Z
  std::vector<double> inputs;
  double expected;   // the assigned variable's new value, when `code` is 0
  int code;          // else the error code...
  const char* text;  // ...and its exact text
  KAL_ANGULAR_UNITS units;
};

Row Ok(const char* eq, std::vector<double> in, double expected, KAL_ANGULAR_UNITS u = RAD) {
  return {eq, std::move(in), expected, 0, "No errors", u};
}
Row Fails(const char* eq, std::vector<double> in, int code, const char* text) {
  return {eq, std::move(in), 0.0, code, text, RAD};
}

void PrintTo(const Row& row, std::ostream* out) { *out << row.equation; }

class Evaluation : public ::testing::TestWithParam<Row> {};

TEST_P(Evaluation, GivesResultOrExactError) {
  const Row& row = GetParam();
  Handle expression(row.equation, "X Y Z");
  ASSERT_NE(expression.get(), nullptr);
  KaloSetAngularUnits(expression.get(), row.units);
  std::vector<double> values = row.inputs;
  values.resize(3, 0.0);
  const std::vector<double> before = values;
  const int assigned = row.equation[0] - 'X';
  const Outcome outcome = Evaluate(expression.get(), values.data());

  EXPECT_EQ(outcome.flagsAfter, 0) << "floating-point flags left set";
  EXPECT_EQ(outcome.code, row.code);
  EXPECT_EQ(outcome.text, row.text);
  EXPECT_EQ(outcome.returned, row.code == 0 ? 1 : 0);
  for (int i = 0; i < 3; ++i) {
    if (row.code == 0 && i == assigned)
      EXPECT_TRUE(Same(values[i], row.expected)) << values[i] << " expected " << row.expected;
    else
      EXPECT_TRUE(Same(values[i], before[i])) << "element " << i << " changed";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Operators, Evaluation,
    ::testing::Values(
        Ok("Z = 2*sin(X) + Y/3", {0.5, 6}, 2 * std::sin(0.5) + 2),
        Ok("Y = Y + 1", {0, 2}, 3),  // reads the host's value of the assigned variable
        Ok("Y = X", {NaN}, NaN), Ok("Y = X", {-INF}, -INF), Ok("Y = -X", {0}, -0.0),
        Ok("Y = X - 7 * 2", {20}, 6), Ok("Y = X / 4", {1}, 0.25), Ok("Y = 1 < 2", {}, -1),
        Ok("Y = 2 < 1", {}, 0), Ok("Y = not 0", {}, -1), Ok("Y = 2 <= 2", {}, -1),
        Ok("Y = 1 >= 2", {}, 0), Ok("Y = 3 > 2", {}, -1), Ok("Y = 3 <> 3", {}, 0),
        Ok("Y = 5 and 3", {}, 1), Ok("Y = 5 or 3", {}, 7), Ok("Y = 5 xor 3", {}, 6),
        Ok("Y = not 5", {}, -6),
        // NearlyEqual: a tolerance of 1e-15 relative to the left operand only.
        Ok("Y = 1e15 = 999999999999999", {}, -1), Ok("Y = 999999999999999 = 1e15", {}, 0),
        Ok("Z = X = Y", {5e15, 4999999999999995.0}, -1),  // the tolerance is closed
        Ok("Z = X = Y", {std::ldexp(5e15, -1000), std::ldexp(4999999999999995.0, -1000)}, -1),
        Ok("Y = 0 = X", {1e-300}, 0), Ok("Y = 0 = 0", {}, -1), Ok("Y = X = 0", {-0.0}, -1),
        Ok("Y = 1 = X", {1 + 0x4p-52}, -1), Ok("Y = 1 = X", {1 + 0x5p-52}, 0),
        Ok("Y = X = X", {NaN}, 0), Ok("Y = X <> X", {NaN}, -1), Ok("Y = X < 1", {NaN}, 0),
        Ok("Y = X >= 1", {NaN}, 0),
        // ToInteger32: nearest, halves away from zero, bounds tested before rounding.
        Ok("Y = 2.5 and 7", {}, 3), Ok("Y = 0.5 or 0", {}, 1), Ok("Y = -2.5 or 0", {}, -3),
        Ok("Y = X or 0", {-0.4}, 0), Ok("Y = 2147483647 or 0", {}, 2147483647),
        Ok("Y = X or 0", {-2147483648.0}, -2147483648.0), Ok("Y = X and 1", {NaN}, 0),
        Fails("Y = 2147483647.4 or 0", {}, 303,
              "MATH ERROR:  or(2.14748E+09,0)\r\nOverflow range error"),
        Fails("Y = -2147483648.5 or 0", {}, 303,
              "MATH ERROR:  or(-2.14748E+09,0)\r\nOverflow range error"),
        Fails("Y = 1e10 and 1", {}, 303, "MATH ERROR:  and(1E+10,1)\r\nOverflow range error"),
        Fails("Y = 1 xor X", {-3e9}, 303, "MATH ERROR:  xor(1,-3E+09)\r\nOverflow range error"),
        Fails("Y = not X", {4e9}, 303, "MATH ERROR:  not(4E+09)\r\nOverflow range error"),
        // The failed operation completes, and the run stops before the next word.
        Fails("Y = (X or 0) / 0", {1e10}, 303,
              "MATH ERROR:  or(1E+10,0)\r\nOverflow range error")));

// A maths routine's fault is named from its operands and result, whatever flags it raised.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    LibraryFaults, Evaluation,
    ::testing::Values(
        Fails("Y = exp(X)", {-708.4}, 206, "MATH ERROR:  exp(-708.4)\r\nUnderflow error"),
        Fails("Y = exp(X)", {-1000}, 206, "MATH ERROR:  exp(-1000)\r\nUnderflow error"),
        Fails("Y = pow(X, 2)", {1e-160}, 206, "MATH ERROR:  pow(1E-160,2)\r\nUnderflow error"),
        Fails("Y = jn(300, 1)", {}, 206, "MATH ERROR:  jn(300,1)\r\nUnderflow error"),
        Fails("Y = atan2(X, Z)", {1e-300, 0, 1e300}, 206, "MATH ERROR:  atan2(1E-300,1E+300)\r\nUnderflow error"),
        Fails("Y = cos(X)", {1e-310}, 201, "MATH ERROR:  cos(1E-310)\r\nDenormalized number"),
        Fails("Y = floor(X)", {-1e-310}, 201, "MATH ERROR:  floor(-1E-310)\r\nDenormalized number"),
        Fails("Y = jn(X, 1)", {1e-310}, 201, "MATH ERROR:  jn(1E-310,1)\r\nDenormalized number"),
        Fails("Y = pow(X, -1)", {0}, 202, "MATH ERROR:  pow(0,-1)\r\nDivide by 0 error"),
        Fails("Y = log10(X)", {-0.0}, 202, "MATH ERROR:  log10(-0)\r\nDivide by 0 error"),
        Fails("Y = yn(2, X)", {0}, 202, "MATH ERROR:  yn(2,0)\r\nDivide by 0 error"),
        Fails("Y = pow(X, 0.5)", {-1}, 205, "MATH ERROR:  pow(-1,0.5)\r\nOverflow error"),
        Fails("Y = ln(X)", {-1}, 205, "MATH ERROR:  ln(-1)\r\nOverflow error"),
        Fails("Y = pow(X, 400)", {10}, 205, "MATH ERROR:  pow(10,400)\r\nOverflow error"),
        Fails("Y = ln(X)", {INF}, 205, "MATH ERROR:  ln(INF)\r\nOverflow error"),
        Fails("Y = jn(1e6, 1)", {}, 303, "MATH ERROR:  jn(1E+06,1)\r\nOverflow range error"),
        Ok("Y = fmod(4, 2)", {}, 0), Ok("Y = floor(0.5)", {}, 0), Ok("Y = ceil(X)", {-0.5}, -0.0),
        Ok("Y = ln(1)", {}, 0), Ok("Y = log10(1)", {}, 0), Ok("Y = acos(1)", {}, 0),
        Ok("Y = sin(X)", {-0.0}, -0.0), Ok("Y = tanh(0)", {}, 0), Ok("Y = pow(X, 3)", {0}, 0),
        Ok("Y = exp(X)", {-INF}, 0), Ok("Y = pow(0.5, X)", {INF}, 0), Ok("Y = atan2(1, X)", {INF}, 0),
        Ok("Y = jn(2, X)", {0}, 0), Ok("Y = j0(X)", {INF}, 0), Ok("Y = atan(X)", {INF}, PI / 2),
        // The operand as written counts, not the radians it converts to.
        Ok("Y = cos(X)", {1e-306}, 1, DEG),
        // Constant parts computed ahead follow the unit set after compilation.
        Ok("Y = sin(90) * X", {2}, 2, DEG), Ok("Y = X * cos(200) + 1", {3}, -2, GRAD),
        // Whole powers by multiplication.
        Ok("Y = pow(X, 3)", {-2}, -8), Ok("Y = pow(X, 16)", {2}, 65536),
        Ok("Y = pow(X, 0 - 2)", {4}, 0.0625), Ok("Y = pow(X, 2.5)", {4}, 32),
        Fails("Y = pow(X, 7)", {1e50}, 205, "MATH ERROR:  pow(1E+50,7)\r\nOverflow error"),
        Fails("Y = pow(X, 0 - 7)", {1e50}, 206, "MATH ERROR:  pow(1E+50,-7)\r\nUnderflow error")));
// clang-format on

INSTANTIATE_TEST_SUITE_P(
    Faults, Evaluation,
    ::testing::Values(
        Fails("Y = X / 0", {1}, 202, "MATH ERROR:  Divide(1,0)\r\nDivide by 0 error"),
        Fails("Y = 0 / 0", {}, 202, "MATH ERROR:  Divide(0,0)\r\nDivide by 0 error"),
        Fails("Y = X / Z", {-0.0, 0, 0}, 202, "MATH ERROR:  Divide(-0,0)\r\nDivide by 0 error"),
        // A constant part that faults is not computed ahead; the run reaches it and stops there.
        Fails("Y = X + 1 / 0", {1}, 202, "MATH ERROR:  Divide(1,0)\r\nDivide by 0 error"),
        Fails("Y = 2 + sqrt(X)", {-4}, 205, "MATH ERROR:  sqrt(-4)\r\nOverflow error"),
        Fails("Y = ln(X)", {0}, 202, "MATH ERROR:  ln(0)\r\nDivide by 0 error"),
        Fails("Y = exp(X)", {1000}, 205, "MATH ERROR:  exp(1000)\r\nOverflow error"),
        Fails("Y = X * X", {1e200}, 205, "MATH ERROR:  Multiply(1E+200,1E+200)\r\nOverflow error"),
        Fails("Y = X * X", {1e-200}, 206,
              "MATH ERROR:  Multiply(1E-200,1E-200)\r\nUnderflow error"),
        // An exact tiny result raises no flag on a masked unit, but is an underflow all the same.
        Fails("Y = X * 0.5", {0x1p-1022}, 206,
              "MATH ERROR:  Multiply(2.22507E-308,0.5)\r\nUnderflow error"),
        Fails("Y = X + 1", {1e-310}, 201, "MATH ERROR:  Add(1E-310,1)\r\nDenormalized number"),
        Fails("Y = Z * X", {1e300, 0, 1e-310}, 201,
              "MATH ERROR:  Multiply(1E-310,1E+300)\r\nDenormalized number"),
        Fails("Y = X < 1", {1e-310}, 201, "MATH ERROR:  <(1E-310,1)\r\nDenormalized number"),
        Fails("Y = 1 > X", {1e-310}, 201, "MATH ERROR:  >(1,1E-310)\r\nDenormalized number"),
        Fails("Y = X >= 1", {1e-310}, 201, "MATH ERROR:  >=(1E-310,1)\r\nDenormalized number"),
        Fails("Y = X <= 1", {1e-310}, 201, "MATH ERROR:  <=(1E-310,1)\r\nDenormalized number"),
        Fails("Y = X = 1", {1e-310}, 201, "MATH ERROR:  =(1E-310,1)\r\nDenormalized number"),
        Fails("Y = X <> 1", {1e-310}, 201, "MATH ERROR:  <>(1E-310,1)\r\nDenormalized number"),
        Fails("Y = X + 1", {INF}, 205, "MATH ERROR:  Add(INF,1)\r\nOverflow error"),
        Fails("Y = X * 1", {NaN}, 205, "MATH ERROR:  Multiply(NAN,1)\r\nOverflow error"),
        Fails("Y = X - X", {INF}, 205, "MATH ERROR:  Subtract(INF,INF)\r\nOverflow error"),
        Fails("Y = -X", {-INF}, 205, "MATH ERROR:  Negation(-INF)\r\nOverflow error"),
        // max, min and if with a NaN: the NaN is chosen only where the rule says, then tested.
        Ok("Y = max(X, 1)", {NaN}, 1), Ok("Y = min(X, 1)", {NaN}, 1),
        Fails("Y = max(1, X)", {NaN}, 205, "MATH ERROR:  max(1,NAN)\r\nOverflow error"),
        Fails("Y = min(1, X)", {NaN}, 205, "MATH ERROR:  min(1,NAN)\r\nOverflow error"),
        Ok("Y = if(X, 1, 2)", {NaN}, 1), Ok("Y = if(X, 1, 2)", {-0.0}, 2),
        Fails("Y = if(0, 1, X)", {INF}, 205, "MATH ERROR:  if\r\nOverflow error"),
        Ok("Z = max(X, Y)", {0.0, -0.0}, -0.0), Ok("Z = min(X, Y)", {-0.0, 0.0}, 0.0),
        Ok("Y = max(2, X)", {3}, 3), Ok("Y = min(2, X)", {3}, 2)));

INSTANTIATE_TEST_SUITE_P(
    Functions, Evaluation,
    ::testing::Values(
        Ok("Y = sin(90)", {}, 1, DEG), Ok("Y = acos(-1)", {}, 180, DEG),
        Ok("Y = atan2(1, 1)", {}, 45, DEG), Ok("Y = sin(100)", {}, 1, GRAD),
        Ok("Y = acos(-1)", {}, 200, GRAD), Ok("Y = acos(-1)", {}, PI),
        Ok("Y = acos(-1)", {}, PI, KAL_ANGULAR_UNITS(7)),
        Ok("Y = sin(X)", {2}, std::sin(2.0), KAL_ANGULAR_UNITS(7)),
        Ok("Y = sinh(X)", {90}, std::sinh((PI * 90) * 0.005555555555555556), DEG),
        Ok("Y = tanh(X)", {50}, std::tanh((PI * 50) * 0.005), GRAD), Ok("Y = d2r(180)", {}, PI),
        Ok("Y = d2r(180)", {}, PI, DEG), Ok("Y = r2d(X)", {PI}, 180, GRAD),
        Ok("Y = exp(X)", {0}, 1, DEG), Ok("Y = fmod(7, X)", {3}, 1),
        Ok("Y = pow(2, X)", {10}, 1024), Ok("Y = floor(X) + ceil(X)", {-2.5}, -5),
        Ok("Y = fabs(X)", {-3}, 3), Ok("Y = log10(X)", {1000}, 3),
        // The Bessel order is truncated toward zero.
        Ok("Y = jn(2.9, X)", {1.5}, ::jn(2, 1.5)), Ok("Y = jn(-2.9, X)", {1.5}, ::jn(-2, 1.5)),
        Ok("Y = yn(3.99, X)", {2.5}, ::yn(3, 2.5)), Ok("Y = j0(X) + j1(X)", {1}, ::j0(1) + ::j1(1)),
        Ok("Y = randn(5, 0)", {}, 5), Ok("Y = randu(0)", {}, 0),
        // Orders beyond 100000 either way are refused: the routines take time in proportion.
        Ok("Y = jn(-100000.9, X)", {1e6}, ::jn(-100000, 1e6)),
        Ok("Y = yn(100000.9, X)", {1e6}, ::yn(100000, 1e6)),
        Fails("Y = jn(-100001, X)", {1e6}, 303,
              "MATH ERROR:  jn(-100001,1E+06)\r\nOverflow range error"),
        Fails("Y = yn(X, 2)", {100001}, 303, "MATH ERROR:  yn(100001,2)\r\nOverflow range error"),
        Fails("Y = jn(X, 2)", {NaN}, 303, "MATH ERROR:  jn(NAN,2)\r\nOverflow range error")));

// A random value must be drawn anew on each evaluation and stay in its range.
TEST(Random, RangesAndFifteenBitDraws) {
  struct RangeRow {
    const char* equation;
    double low, high;  // low <= value < high, unless `closedHigh`
    bool closedHigh;
    double mean, tolerance;  // of the mean of 200 draws: seven standard deviations
  } const rows[] = {
      {"Y = randu(10)", 0, 10, false, 5, 1.5},
      {"Y = randu(-10)", -10, 0, true, -5, 1.5},
      {"Y = randn(0, 1)", -6, 6, true, 0, 0.5},
      {"Y = randn(X, 2)", 100 - 12, 100 + 12, true, 100, 1.0},
  };
  for (const RangeRow& row : rows) {
    Handle expression(row.equation, "X Y");
    double distinct = NaN, sum = 0;
    int differing = 0;
    for (int i = 0; i < 200; ++i) {
      double values[2] = {100, 0};
      const Outcome outcome = Evaluate(expression.get(), values);
      ASSERT_EQ(outcome.code, 0) << row.equation << outcome.text;
      EXPECT_EQ(outcome.flagsAfter, 0);
      EXPECT_GE(values[1], row.low) << row.equation;
      if (row.closedHigh)
        EXPECT_LE(values[1], row.high) << row.equation;
      else
        EXPECT_LT(values[1], row.high) << row.equation;
      if (i > 0 && values[1] != distinct) ++differing;
      sum += values[1];
      distinct = values[1];
    }
    EXPECT_GT(differing, 150) << row.equation << " does not draw anew";
    EXPECT_NEAR(sum / 200, row.mean, row.tolerance) << row.equation;
  }
  // Three 15-bit draws, each scaled by 1/32768: times 2^45 the value is a whole number.
  Handle whole("Y = randu(35184372088832)", "X Y");
  for (int i = 0; i < 50; ++i) {
    double values[2] = {0, 0};
    ASSERT_EQ(KaloEvalExpression(whole.get(), values), 1);
    EXPECT_EQ(values[1], std::floor(values[1]));
    EXPECT_LT(values[1], 35184372088832.0);
  }
}

TEST(Errors, NoErrorsAfterSuccessAndBadAddressAfterNull) {
  const HostReports recorder;
  const std::vector<std::string>& reports = HostReports::Texts();
  Handle expression("Y = X / 0", "X Y");
  double values[2] = {1, 0};
  EXPECT_EQ(Evaluate(expression.get(), values).code, 202);
  // The gate forgets the previous fault's word before probing the array.
  const Outcome bad = Evaluate(expression.get(), nullptr);
  EXPECT_EQ(bad.returned, 0);
  EXPECT_EQ(bad.code, 104);
  EXPECT_EQ(bad.text, "MATH ERROR:  Unknown operation\r\nInternal error: bad address");
  EXPECT_EQ(bad.flagsAfter, 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("Parse"), std::string::npos) << reports[0];

  Handle fine("Y = X + 1", "X Y");
  const Outcome ok = Evaluate(fine.get(), values);
  EXPECT_EQ(ok.returned, 1);
  EXPECT_EQ(ok.code, 0);
  EXPECT_EQ(ok.text, "No errors");
  EXPECT_EQ(values[1], 2);
  // A handle that is not an Expression is refused without touching the values.
  EXPECT_EQ(KaloEvalExpression(nullptr, values), 0);
  EXPECT_EQ(reports.size(), 1u);
}

// The host's floating-point state around an evaluation: the SSE unit is reset for the run, the
// flags are clear afterwards, and only the denormal, division-by-zero, overflow and underflow
// traps are taken back from the host; the x87 control word is the host's.
struct TrapRow {
  int enabledBefore;
  int roundingBefore;
};

class FloatState : public ::testing::TestWithParam<TrapRow> {};

TEST_P(FloatState, KeepsOnlyTheGuardedTraps) {
  const TrapRow& row = GetParam();
  // The arithmetic path, a fault, and a maths-library call, which may use the x87 unit.
  const char* const equations[] = {"Y = X / 3", "Y = X / 0", "Y = jn(3, X)"};
  for (const char* equation : equations) {
    Handle expression(equation, "X Y");
    double values[2] = {1, 0};
    int returned = -1;
    const StateAfter after = WithTrapsEnabled(row.enabledBefore, row.roundingBefore, [&] {
      returned = KaloEvalExpression(expression.get(), values);
    });
    EXPECT_EQ(after.traps.x87, row.enabledBefore) << equation;
    EXPECT_EQ(after.traps.sse, row.enabledBefore & KEPT_TRAPS) << equation;
    EXPECT_EQ(after.flags, 0) << equation;
    EXPECT_EQ(after.rounding, FE_TONEAREST) << equation;
    EXPECT_EQ(after.x87Rounding, row.roundingBefore) << equation;
    if (std::string(equation) == "Y = X / 3") {
      // The run itself rounds to nearest, whatever the host had set.
      EXPECT_EQ(returned, 1);
      EXPECT_EQ(values[1], 1.0 / 3);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Traps, FloatState,
                         ::testing::Values(TrapRow{0, FE_TONEAREST},
                                           TrapRow{FE_DIVBYZERO | FE_INVALID, FE_UPWARD},
                                           TrapRow{FE_OVERFLOW | FE_UNDERFLOW, FE_DOWNWARD},
                                           TrapRow{FE_INEXACT, FE_TOWARDZERO}));

int Identity(double* arguments, double* result, long /*user*/) {
  *result = arguments[0];
  return 0;
}

// SSE flags the host left set neither end the run nor survive it. The x87 unit's are left alone
// by a run that cannot touch the unit, and cleared around host code (and, on Windows, around a
// maths library that uses the unit).
TEST(FloatFlags, HostFlagsAreClearedWhereTheRunMayTouchThem) {
  KaloRegisterFunction("same", 1, &Identity, 0);
  struct FlagRow {
    const char* equation;
    bool clearsX87;
  };
  const FlagRow rows[] = {{"Y = X + 1", false},
                          {"Y = cos(X)", kalo_test_fenv::LIBRARY_USES_X87},
                          {"Y = same(X) + 1", true}};
  for (const FlagRow& row : rows) {
    Handle expression(row.equation, "X Y");
    double values[2] = {0, 0};
    const int all = FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW | FE_INVALID | FE_INEXACT;
    std::feraiseexcept(all);
    SetX87Flags(all);
    const int returned = KaloEvalExpression(expression.get(), values);
    const int sse = SseFlags(), x87 = X87Flags();
    std::feclearexcept(FE_ALL_EXCEPT);
    EXPECT_EQ(returned, 1) << row.equation;
    EXPECT_EQ(values[1], 1) << row.equation;
    EXPECT_EQ(sse, 0) << row.equation;
    EXPECT_EQ(x87, row.clearsX87 ? 0 : all) << row.equation;
  }
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
}

// Constant parts are computed ahead in the run's rounding, not in the one the host compiles in.
TEST(FloatFlags, ConstantPartsRoundAsTheRunDoes) {
  std::fesetround(FE_UPWARD);
  Handle expression("Y = 1 / 3 + X", "X Y");
  std::fesetround(FE_TONEAREST);
  double values[2] = {0, 0};
  EXPECT_EQ(KaloEvalExpression(expression.get(), values), 1);
  EXPECT_EQ(values[1], 1.0 / 3);
}

#if defined(__x86_64__)
// Flush-to-zero and denormals-are-zero set by the host neither hide a denormal operand from the
// run nor survive it.
TEST(FloatFlags, HostFlushToZeroIsResetForAndAfterTheRun) {
  constexpr unsigned FTZ_DAZ = 0x8040;
  Handle expression("Y = X + 1", "X Y");
  double values[2] = {1e-310, 0};
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(saved | FTZ_DAZ);
  const int returned = KaloEvalExpression(expression.get(), values);
  const unsigned after = _mm_getcsr();
  _mm_setcsr(saved);
  EXPECT_EQ(returned, 0);
  EXPECT_EQ(KaloGetEvalError(expression.get(), nullptr, nullptr), 201);
  EXPECT_EQ(after & FTZ_DAZ, 0u);
}
#endif

}  // namespace
}  // namespace kalo_test
