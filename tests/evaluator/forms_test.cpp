// Oracles for evaluation. The ways a program runs (machine code, the register form, the postfix
// interpreter, and columns of rows) must be indistinguishable: random equations are run on values
// chosen to provoke faults, and every form must leave the same result, code, record and text,
// bit for bit. Each operation alone must compute what <cmath> says, and fail where that is not a
// number.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "interface/handle.h"

namespace kalo {
namespace {

constexpr int VARIABLES = 3;  // A, B, C; Y is assigned
char scratch[MESSAGE_SIZE];
const double INF = std::numeric_limits<double>::infinity();
const double NAN_ = std::numeric_limits<double>::quiet_NaN();
// clang-format off
const double INTERESTING[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, -2.5, 3.0, 7.25, 100.0, 1e-310, -1e-310,
                              1e-300, 1e300, 1e308, -1e308, 1e-20, 0.125, 2.2250738585072014e-308,
                              700.0, -700.0, 1e5, INF, -INF, NAN_};
// clang-format on

// Random equations, operators and functions drawn with equal weight. Arithmetic ones keep to what
// machine code computes inline and lean to literals that underflow.
class EquationMaker {
 public:
  EquationMaker(unsigned seed, bool arithmetic) : random_(seed), arithmetic_(arithmetic) {
    for (const OperationInfo& info : OPERATIONS)
      if (info.code >= OP_FIRST_BUILTIN && info.computation != BY_RANDOM_DRAWS &&
          (!arithmetic || info.computation == BY_INSTRUCTIONS))
        functions_.push_back(&info);
  }
  std::string Make() { return "Y = " + Term(4); }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  std::string Term(int depth) {
    // Written exponents stop short of 299, but a long mantissa still writes a denormal or an
    // infinity.
    // clang-format off
    static const char* const LEAVES[] = {"A", "B", "C", "0", "1", "2.5", "0.5", "1e250", "1e-250",
        "0.00000000000000000001e-298", "100000000000000000000e298", "1e200", "1e-200", "3e-160"};
    static const char* const BINARY[] = {" + ", " - ", " * ", " / ", " < ", " <= ", " > ", " >= ",
                                         " = ", " <> ", " and ", " or ", " xor "};
    // clang-format on
    if (depth == 0 || Pick(4) == 0) return LEAVES[Pick(arithmetic_ ? 14 : 11)];
    const std::string inner = Term(depth - 1);
    switch (Pick(4)) {
      case 0: return "-" + inner;
      case 1: return arithmetic_ ? "fabs(" + inner + ")" : "not (" + inner + ")";
      case 2: return "(" + inner + BINARY[Pick(arithmetic_ ? 8 : 13)] + Term(depth - 1) + ")";
      default: {
        const OperationInfo& f = *functions_[static_cast<size_t>(Pick(int(functions_.size())))];
        std::string call = std::string(f.name) + "(" + inner;
        for (int i = 1; i < f.operandCount; ++i) call += ", " + Term(depth - 1);
        return call + ")";
      }
    }
  }
  std::mt19937 random_;
  bool arithmetic_;
  std::vector<const OperationInfo*> functions_;
};

// Everything an evaluation leaves behind that a host can see.
struct Outcome {
  bool returned;
  double values[VARIABLES + 1];
  EvalRecord record;
  std::string text;
  bool operator==(const Outcome& o) const {
    return returned == o.returned && std::memcmp(values, o.values, sizeof values) == 0 &&
           record.errorCode == o.record.errorCode && record.lastCodeWord == o.record.lastCodeWord &&
           std::memcmp(&record.topValue, &o.record.topValue, sizeof(double)) == 0 &&
           std::memcmp(&record.nextValue, &o.record.nextValue, sizeof(double)) == 0 &&
           text == o.text;
  }
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  return out << (o.returned ? "ok" : "fault") << " Y=" << o.values[VARIABLES]
             << " code=" << o.record.errorCode << " word=" << o.record.lastCodeWord
             << " next=" << o.record.nextValue << " top=" << o.record.topValue
             << " text=" << o.text;
}

Outcome Run(Expression& expression, const double* inputs) {
  Outcome outcome{};
  std::memcpy(outcome.values, inputs, sizeof outcome.values);
  outcome.returned =
      Evaluate(expression.program, &expression.evaluator, &expression.record, outcome.values);
  outcome.record = expression.record;
  ComposeEvalError(expression.program, expression.record, expression.message);
  outcome.text = expression.message;
  return outcome;
}

struct Tally {
  int native = 0, registers = 0, runs = 0, faults = 0;
};

// Runs one equation on `inputs` in every form the expression has; returns the interpreter's run.
Outcome Compare(Expression& expression, const std::string& equation, const double* inputs,
                Tally* tally) {
  Evaluator& evaluator = expression.evaluator;
  evaluator.fastest = Form::INTERPRETER;
  const Outcome exact = Run(expression, inputs);
  ++tally->runs;
  tally->faults += exact.returned ? 0 : 1;
  if (evaluator.fast.usable) {
    evaluator.fastest = Form::REGISTER_FORM;
    EXPECT_EQ(Run(expression, inputs), exact) << "register form: " << equation;
    ++tally->registers;
  }
  evaluator.fastest = Form::MACHINE_CODE;
  if (evaluator.fast.usable && evaluator.fast.native.entry != nullptr) {
    EXPECT_EQ(Run(expression, inputs), exact) << "machine code: " << equation;
    ++tally->native;
  }
  return exact;
}

// Rows through EvaluateColumns: those before the first failure written as row by row, that
// failure's record and text, nothing written from it on.
void CompareColumns(Expression& expression, const std::string& equation,
                    const std::vector<Outcome>& rows,
                    const std::vector<std::vector<double>>& inputs) {
  std::vector<double> columns[VARIABLES + 1];
  for (const std::vector<double>& row : inputs)
    for (int v = 0; v <= VARIABLES; ++v) columns[v].push_back(row[v]);
  double* pointers[VARIABLES + 1] = {columns[0].data(), columns[1].data(), columns[2].data(),
                                     columns[3].data()};
  size_t failed = 0;
  while (failed < rows.size() && rows[failed].returned) ++failed;
  EXPECT_EQ(EvaluateColumns(expression.program, &expression.evaluator, &expression.record, pointers,
                            static_cast<long>(rows.size())),
            static_cast<long>(failed))
      << equation;
  for (size_t r = 0; r < rows.size(); ++r) {
    const double written = r < failed ? rows[r].values[VARIABLES] : 0.0;
    EXPECT_EQ(std::memcmp(&columns[VARIABLES][r], &written, sizeof written), 0) << equation;
  }
  const Outcome& expected = rows[failed < rows.size() ? failed : rows.size() - 1];
  Outcome got = expected;
  got.record = expression.record;
  ComposeEvalError(expression.program, expression.record, expression.message);
  got.text = expression.message;
  EXPECT_EQ(got, expected) << "columns: " << equation;
}

class Forms : public ::testing::TestWithParam<bool> {};

TEST_P(Forms, AgreeOnEveryResultFaultAndRecord) {
  EquationMaker maker(20261205, GetParam());
  std::mt19937 pick(7);
  std::uniform_int_distribution<size_t> value(0, std::size(INTERESTING) - 1);
  Tally tally;
  for (int i = 0; i < 3000 && !::testing::Test::HasFailure(); ++i) {
    const std::string equation = maker.Make();
    Expression expression("A B C Y", scratch, MESSAGE_SIZE);
    if (!expression.Compile(equation.c_str())) continue;  // too complex: nothing to compare
    SetAngularUnits(expression.program, &expression.evaluator,
                    static_cast<KAL_ANGULAR_UNITS>(i % 3));
    std::vector<Outcome> rows;
    std::vector<std::vector<double>> inputs;
    for (int sample = 0; sample < 6; ++sample) {
      inputs.push_back(
          {INTERESTING[value(pick)], INTERESTING[value(pick)], INTERESTING[value(pick)], 0.0});
      rows.push_back(Compare(expression, equation, inputs.back().data(), &tally));
    }
    CompareColumns(expression, equation, rows, inputs);
  }
  // The comparison means something only if the fast forms ran, on faults as well as not.
  EXPECT_GT(tally.registers, tally.runs / 2);
  EXPECT_GT(tally.faults, tally.runs / 20);
  EXPECT_LT(tally.faults, tally.runs * 9 / 10);
#if defined(KALO_HAS_MACHINE_CODE)
  EXPECT_GT(tally.native, tally.runs / 3);
#endif
}

INSTANTIATE_TEST_SUITE_P(Equations, Forms, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Arithmetic" : "AnyFunction";
                         });

// Results at the edges of the fast forms' value tests, where random equations rarely land.
TEST(Forms, AgreeWhereTheValueTestsDecide) {
  const double MIN = std::numeric_limits<double>::min();
  // clang-format off
  const struct { const char* equation; double a, b; } edges[] = {
      // Tiny before the final rounding, which brings it up to the smallest normal: underflow.
      {"Y = A * B", 1.0 - 0x1p-53, MIN}, {"Y = d2r(A) * B", 180 / 3.141592653589793, MIN},
      {"Y = A / B", MIN, 1.0 + 0x1p-52}, {"Y = A * B", 1e-200, 1e-200}, {"Y = A * B - A * B", 1e-200, 0.0},
      {"Y = -(A * B) / B", 1e300, 1e10}, {"Y = if(A, B, -(100000000000000000000e298))", 1.0, 2.0},
      {"Y = sqrt(A - B)", 1.0, 1.0 + 0x1p-52},
      // Whole powers written inline: a pole, an underflow to zero, a product that underflows
      // before the reciprocal overflows, and exact ones.
      {"Y = pow(A, -3) + B", 0.0, 1.0}, {"Y = pow(A, 7) * B", 1e-50, 1.0},
      {"Y = pow(A, -2) - B", 1e-200, 1.0}, {"Y = pow(A, 16) + pow(B, -1)", -2.0, 0.5}};
  // clang-format on
  Tally tally;
  for (const auto& edge : edges) {
    Expression expression("A B C Y", scratch, MESSAGE_SIZE);
    ASSERT_TRUE(expression.Compile(edge.equation)) << edge.equation;
    const double inputs[VARIABLES + 1] = {edge.a, edge.b, 1.0, 0.0};
    Compare(expression, edge.equation, inputs, &tally);
  }
  EXPECT_GT(tally.faults, 0);
}

// What each operation computes, independently of the library's code.
using Reference = double (*)(double x, double y, double z);
#define REF(op, ...)                                 \
  {                                                  \
    op, [](double x, double y, double z) -> double { \
      (void)x, (void)y, (void)z;                     \
      return __VA_ARGS__;                            \
    }                                                \
  }
double Truth(bool b) { return b ? -1.0 : 0.0; }
int32_t Integer(double x) { return static_cast<int32_t>(std::lround(x)); }  // halves away
// clang-format off
const struct { Operation code; Reference f; } REFERENCES[] = {
    REF(OP_NEG, -x), REF(OP_ADD, x + y), REF(OP_SUB, x - y), REF(OP_MUL, x * y), REF(OP_DIV, x / y),
    REF(OP_AND, Integer(x) & Integer(y)), REF(OP_OR, Integer(x) | Integer(y)), REF(OP_NOT, ~Integer(x)),
    REF(OP_XOR, Integer(x) ^ Integer(y)), REF(OP_EQ, Truth(x == y)), REF(OP_NE, Truth(x != y)),
    REF(OP_LT, Truth(x < y)), REF(OP_LE, Truth(x <= y)), REF(OP_GT, Truth(x > y)), REF(OP_GE, Truth(x >= y)),
    REF(OP_ACOS, std::acos(x)), REF(OP_ASIN, std::asin(x)), REF(OP_ATAN, std::atan(x)), REF(OP_CEIL, std::ceil(x)),
    REF(OP_COS, std::cos(x)), REF(OP_COSH, std::cosh(x)), REF(OP_EXP, std::exp(x)), REF(OP_FABS, std::fabs(x)),
    REF(OP_FLOOR, std::floor(x)), REF(OP_LN, std::log(x)), REF(OP_LOG10, std::log10(x)), REF(OP_SIN, std::sin(x)),
    REF(OP_SINH, std::sinh(x)), REF(OP_SQRT, std::sqrt(x)), REF(OP_TAN, std::tan(x)), REF(OP_TANH, std::tanh(x)),
    REF(OP_J0, ::j0(x)), REF(OP_J1, ::j1(x)), REF(OP_Y0, ::y0(x)), REF(OP_Y1, ::y1(x)),
    REF(OP_D2R, x * 3.141592653589793 / 180), REF(OP_R2D, x * 180 / 3.141592653589793),
    REF(OP_ATAN2, std::atan2(x, y)), REF(OP_FMOD, std::fmod(x, y)), REF(OP_POW, std::pow(x, y)),
    REF(OP_MAX, x > y ? x : y), REF(OP_MIN, x < y ? x : y), REF(OP_JN, ::jn(static_cast<int>(x), y)),
    REF(OP_YN, ::yn(static_cast<int>(x), y)), REF(OP_IF, x != 0 ? y : z)};
const double OPERANDS[] = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 2.0, -2.5, 3.0, 7.25, -100.0, 1000.0};
// clang-format on
#undef REF

// Within a few units in the last place (powers and conversions may round differently), and a
// zero of the same sign.
bool Close(double got, double expected) {
  if (expected == 0 || std::isnan(expected)) return std::memcmp(&got, &expected, sizeof got) == 0;
  return std::fabs(got - expected) <= 4e-16 * std::fabs(expected);
}

TEST(Operations, ComputeWhatCMathSaysAndFailWhereItIsNoNumber) {
  Tally tally;
  int checked = 0;
  for (const OperationInfo& info : OPERATIONS) {
    if (info.computation == BY_RANDOM_DRAWS) continue;
    Reference reference = nullptr;
    for (const auto& row : REFERENCES)
      if (row.code == info.code) reference = row.f;
    ASSERT_NE(reference, nullptr) << info.name;
    std::string term = std::string(info.name) + "(A" + (info.operandCount > 1 ? ", B" : "") +
                       (info.operandCount > 2 ? ", C)" : ")");
    if (info.symbol != nullptr)
      term = info.code == OP_NEG      ? "-A"
             : info.operandCount == 1 ? "not A"
                                      : std::string("A ") + info.symbol + " B";
    Expression expression("A B C Y", scratch, MESSAGE_SIZE);
    ASSERT_TRUE(expression.Compile(("Y = " + term).c_str())) << term;
#if defined(KALO_HAS_MACHINE_CODE)
    // The operation table says what machine code writes inline; a program must not lose it.
    EXPECT_TRUE(info.computation != BY_INSTRUCTIONS || expression.evaluator.fast.native.entry)
        << term;
#endif
    for (double a : OPERANDS)
      for (double b : OPERANDS) {
        const double inputs[VARIABLES + 1] = {a, b, 7.25, 0.0};
        const Outcome outcome = Compare(expression, term, inputs, &tally);
        const double expected = reference(a, b, 7.25);
        if (outcome.returned) {
          ++checked;
          EXPECT_TRUE(Close(outcome.values[VARIABLES], expected))
              << term << " on " << a << ", " << b << ": " << outcome.values[VARIABLES]
              << " expected " << expected;
        }
        // A normal result must be given, and no infinity or NaN ever.
        const bool decided = std::isnormal(expected) || !std::isfinite(expected);
        EXPECT_TRUE(!decided || outcome.returned == std::isnormal(expected))
            << term << " on " << a << ", " << b << ": " << outcome;
      }
  }
  EXPECT_GT(checked, 3000);
}

}  // namespace
}  // namespace kalo
