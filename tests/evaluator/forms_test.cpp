// Oracles for evaluation: machine code, the register form, the interpreter and columns of rows
// agree to the bit in result, code, record and text; each operation computes what <cmath> says.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <iterator>
#include <limits>
#include <random>

#include "interface/handle.h"
#include "platform/bessel.h"
#include "support/eval_harness.h"

namespace kalo {
namespace {

const double INF = std::numeric_limits<double>::infinity(), NAN_ = std::nan("");
char scratch[MESSAGE_SIZE];

using kalo_test::Bits;
#if defined(KALO_HAS_MACHINE_CODE)
constexpr bool NATIVE = true;
#else
constexpr bool NATIVE = false;
#endif

// Everything a run leaves that a host can see, as text: the result Y, the record and its text.
std::string Signature(Expression& expression, bool returned, double y) {
  const EvalRecord& record = expression.record;
  ComposeEvalError(expression.program, record, expression.message);
  char text[MESSAGE_SIZE + 100];
  std::snprintf(text, sizeof text,
                "%d Y=%" PRIx64 " code=%d word=%d next=%" PRIx64 " top=%" PRIx64 " %s", returned,
                Bits(y), record.errorCode, record.lastCodeWord, Bits(record.nextValue),
                Bits(record.topValue), expression.message);
  return text;
}

// clang-format off
struct Outcome { std::string signature; bool returned; double y; };
struct Tally { int native = 0, registers = 0, runs = 0, faults = 0; };
// clang-format on

Outcome RunIn(Expression& expression, Form form, const double* inputs) {
  double values[4];
  std::memcpy(values, inputs, sizeof values);
  expression.evaluator.fastest = form;
  const bool returned =
      Evaluate(expression.program, &expression.evaluator, &expression.record, values);
  return {Signature(expression, returned, values[3]), returned, values[3]};
}

// Runs `equation` over A B C Y on each row in every form, then as columns; the interpreter's runs.
std::vector<Outcome> Compare(const std::string& equation,
                             const std::vector<std::vector<double>>& rows, Tally* tally,
                             KAL_ANGULAR_UNITS units = KAL_RADIANS) {
  Expression expression("A B C Y", scratch, MESSAGE_SIZE);
  if (!expression.Compile(equation.c_str())) return {};  // too complex: nothing to compare
  SetAngularUnits(expression.program, &expression.evaluator, units);
  const RegisterForm& fast = expression.evaluator.fast;
  std::vector<Outcome> exact;
  for (const std::vector<double>& row : rows) {
    exact.push_back(RunIn(expression, Form::INTERPRETER, row.data()));
    ++tally->runs, tally->faults += !exact.back().returned;
    for (Form form : {Form::REGISTER_FORM, Form::MACHINE_CODE}) {
      if (!fast.usable || (form == Form::MACHINE_CODE && fast.native.entry == nullptr)) break;
      ++(form == Form::MACHINE_CODE ? tally->native : tally->registers);
      EXPECT_EQ(RunIn(expression, form, row.data()).signature, exact.back().signature) << equation;
    }
  }
  // As columns: the rows before the first failure written, that failure's record, nothing after.
  std::vector<double> columns[4];
  for (const std::vector<double>& row : rows)
    for (size_t v = 0; v < 4; ++v) columns[v].push_back(row[v]);
  double* pointers[4] = {columns[0].data(), columns[1].data(), columns[2].data(),
                         columns[3].data()};
  size_t failed = 0;
  while (failed < rows.size() && exact[failed].returned) ++failed;
  const long count = EvaluateColumns(expression.program, &expression.evaluator, &expression.record,
                                     pointers, long(rows.size()));
  EXPECT_EQ(count, long(failed)) << equation;
  const Outcome& last = exact[std::min(failed, rows.size() - 1)];
  EXPECT_EQ(Signature(expression, last.returned, last.y), last.signature)
      << "columns: " << equation;
  for (size_t r = 0; r < rows.size(); ++r)
    EXPECT_EQ(Bits(columns[3][r]), Bits(r < failed ? exact[r].y : 0.0)) << "columns: " << equation;
  return exact;
}

// Random equations, operators and functions drawn with equal weight. Arithmetic ones keep to what
// machine code computes inline and lean to literals that underflow. Written exponents stop short
// of 299, but a long mantissa still writes a denormal or an infinity.
std::string RandomTerm(std::mt19937& random, bool arithmetic, int depth = 4) {
  const auto pick = [&](size_t n) {
    return std::uniform_int_distribution<size_t>(0, n - 1)(random);
  };
  // clang-format off
  static const char* const LEAVES[] = {"A", "B", "C", "0", "1", "2.5", "0.5", "1e250", "1e-250",
      "0.00000000000000000001e-298", "100000000000000000000e298", "1e200", "1e-200", "3e-160"};
  static const char* const BINARY[] = {" + ", " - ", " * ", " / ", " < ", " <= ", " > ", " >= ", " = ", " <> ",
                                       " and ", " or ", " xor "};
  // clang-format on
  if (depth == 0 || pick(4) == 0) return LEAVES[pick(arithmetic ? 14 : 11)];
  const std::string inner = RandomTerm(random, arithmetic, depth - 1);
  switch (pick(4)) {
    case 0: return "-" + inner;
    case 1: return (arithmetic ? "fabs(" : "not (") + inner + ")";
    case 2:
      return "(" + inner + BINARY[pick(arithmetic ? 8 : 13)] +
             RandomTerm(random, arithmetic, depth - 1) + ")";
  }
  const OperationInfo* f = nullptr;
  while (f == nullptr || f->code < OP_FIRST_BUILTIN || f->computation == BY_RANDOM_DRAWS ||
         (arithmetic && f->computation != BY_INSTRUCTIONS))
    f = &OPERATIONS[pick(std::size(OPERATIONS))];
  std::string call = std::string(f->name) + "(" + inner;
  for (int i = 1; i < f->operandCount; ++i)
    call += ", " + RandomTerm(random, arithmetic, depth - 1);
  return call + ")";
}

class Forms : public ::testing::TestWithParam<bool> {};

TEST_P(Forms, AgreeOnEveryResultFaultAndRecord) {
  // clang-format off
  const double interesting[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, -2.5, 3.0, 7.25, 100.0, 1e-310, -1e-310, 1e-300,
      1e300, 1e308, -1e308, 1e-20, 0.125, 2.2250738585072014e-308, 700.0, -700.0, 1e5, INF, -INF, NAN_};
  // clang-format on
  std::mt19937 random(20261205), pick(7);
  std::uniform_int_distribution<size_t> value(0, std::size(interesting) - 1);
  Tally tally;
  for (int i = 0; i < 3000 && !::testing::Test::HasFailure(); ++i) {
    const std::string equation = "Y = " + RandomTerm(random, GetParam());
    std::vector<std::vector<double>> rows(6);
    for (auto& row : rows)
      row = {interesting[value(pick)], interesting[value(pick)], interesting[value(pick)], 0};
    Compare(equation, rows, &tally, static_cast<KAL_ANGULAR_UNITS>(i % 3));
  }
  // The comparison means something only if the fast forms ran, on faults as well as not.
  EXPECT_GT(tally.registers, tally.runs / 2);
  EXPECT_TRUE(tally.faults > tally.runs / 20 && tally.faults < tally.runs * 9 / 10) << tally.faults;
  EXPECT_TRUE(!NATIVE || tally.native > tally.runs / 3) << tally.native;
}

INSTANTIATE_TEST_SUITE_P(Equations, Forms, ::testing::Bool());

// Results at the edges of the fast forms' value tests, where random equations rarely land.
TEST(FormsAtEdges, AgreeWhereTheValueTestsDecide) {
  const double MIN = std::numeric_limits<double>::min();
  // clang-format off
  const struct { const char* equation; double a, b; } edges[] = {
      // Tiny before the final rounding, which brings it up to the smallest normal: underflow.
      {"Y = A * B", 1.0 - 0x1p-53, MIN}, {"Y = d2r(A) * B", 180 / 3.141592653589793, MIN}, {"Y = A / B", MIN, 1.0 + 0x1p-52},
      {"Y = A * B", 1e-200, 1e-200}, {"Y = A * B - A * B", 1e-200, 0.0}, {"Y = -(A * B) / B", 1e300, 1e10},
      {"Y = if(A, B, -(100000000000000000000e298))", 1.0, 2.0}, {"Y = sqrt(A - B)", 1.0, 1.0 + 0x1p-52},
      // Whole powers written inline: a pole, an underflow to zero, a product that underflows
      // before the reciprocal overflows, and exact ones.
      {"Y = pow(A, -3) + B", 0.0, 1.0}, {"Y = pow(A, 7) * B", 1e-50, 1.0}, {"Y = pow(A, -2) - B", 1e-200, 1.0},
      {"Y = pow(A, 16) + pow(B, -1)", -2.0, 0.5}};
  // clang-format on
  Tally tally;
  for (const auto& edge : edges) Compare(edge.equation, {{edge.a, edge.b, 1.0, 0.0}}, &tally);
  EXPECT_TRUE(tally.runs == int(std::size(edges)) && tally.faults > 0);
}

double Truth(bool b) { return b ? -1.0 : 0.0; }
int32_t Integer(double x) { return static_cast<int32_t>(std::lround(x)); }  // halves away from 0
// clang-format off
#define REF(op, ...) {op, [](double x, double y, double z) -> double { return (void)x, (void)y, (void)z, __VA_ARGS__; }}
const struct { Operation code; double (*f)(double x, double y, double z); } REFERENCES[] = {
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
// clang-format on
#undef REF

TEST(Operations, ComputeWhatCMathSaysAndFailWhereItIsNoNumber) {
  const double values[] = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 2.0, -2.5, 3.0, 7.25, -100.0, 1000.0};
  std::vector<std::vector<double>> rows;
  for (double a : values)
    for (double b : values) rows.push_back({a, b, 7.25, 0});
  Tally tally;
  int checked = 0;
  for (const OperationInfo& info : OPERATIONS) {
    if (info.computation == BY_RANDOM_DRAWS) continue;
    const auto* reference = std::find_if(std::begin(REFERENCES), std::end(REFERENCES),
                                         [&](const auto& r) { return r.code == info.code; });
    ASSERT_NE(reference, std::end(REFERENCES)) << info.name;
    const char* const operands[] = {"", "(A)", "(A, B)", "(A, B, C)"};
    std::string term = std::string(info.name) + operands[info.operandCount];
    if (info.symbol != nullptr) term = "A " + std::string(info.symbol) + " B";
    if (info.symbol != nullptr && info.operandCount == 1)
      term = info.code == OP_NEG ? "-A" : "not A";
    // The operation table says what machine code writes inline; a program must not lose it.
    const int native = tally.native;
    const std::vector<Outcome> runs = Compare("Y = " + term, rows, &tally);
    ASSERT_EQ(runs.size(), rows.size()) << term;
    EXPECT_TRUE(!NATIVE || info.computation != BY_INSTRUCTIONS ||
                tally.native == native + int(rows.size()))
        << term;
    for (size_t r = 0; r < rows.size(); ++r) {
      const double expected = reference->f(rows[r][0], rows[r][1], rows[r][2]);
      // Within a few units in the last place (powers and conversions may round differently),
      // with a zero's sign. A normal result or an exact zero must be given (a Bessel function's
      // tiny result may be an underflow), and no infinity or NaN ever.
      const bool close = expected == 0
                             ? Bits(runs[r].y) == Bits(expected)
                             : std::fabs(runs[r].y - expected) <= 4e-16 * std::fabs(expected);
      const bool tinyBessel = (info.code == OP_JN || info.code == OP_YN) &&
                              std::isfinite(expected) && !std::isnormal(expected);
      checked += runs[r].returned;
      EXPECT_TRUE((!runs[r].returned || close) &&
                  (runs[r].returned == std::isfinite(expected) || tinyBessel))
          << term << " on " << rows[r][0] << ", " << rows[r][1] << ": " << runs[r].signature;
    }
  }
  EXPECT_GT(checked, 3000);
}

}  // namespace
}  // namespace kalo
