// The three ways a program runs must be indistinguishable: machine code, the register form and
// the postfix interpreter. Random equations over every deterministic operation are run on
// values chosen to provoke faults (zeros, denormals, huge and tiny numbers, NaN, infinities),
// and each form must leave the same result, code, record and text, bit for bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "interface/handle.h"

namespace kalo {
namespace {

constexpr int EQUATIONS = 3000;
constexpr int VARIABLES = 3;  // A, B, C; Y is assigned

const double INF = std::numeric_limits<double>::infinity();
const double NAN_ = std::numeric_limits<double>::quiet_NaN();
// clang-format off
const double INTERESTING[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, -2.5, 3.0, 7.25, 100.0, 1e-310, -1e-310,
                              1e-300, 1e300, 1e308, -1e308, 1e-20, 0.125, 2.2250738585072014e-308,
                              700.0, -700.0, 1e5, INF, -INF, NAN_};
// clang-format on

// Builds random equations; the operators and functions are drawn with equal weight. Arithmetic
// equations keep to what machine code computes inline, and lean to values that underflow.
class EquationMaker {
 public:
  EquationMaker(unsigned seed, bool arithmetic) : random_(seed), arithmetic_(arithmetic) {
    for (CodeWord op = OP_FIRST_BUILTIN; op <= OP_LAST; ++op) {
      const OperationInfo& info = InfoOf(op);
      // Random draws differ between runs by design, so only deterministic functions compare.
      if (info.computation == BY_RANDOM_DRAWS) continue;
      if (!arithmetic || info.computation == BY_INSTRUCTIONS)
        functions_.push_back({info.name, info.operandCount});
    }
  }

  std::string Make() { return "Y = " + Term(4); }

 private:
  struct Function {
    std::string name;
    int count;
  };

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  template <size_t N>
  const char* PickOf(const char* const (&choices)[N], size_t count = N) {
    return choices[Pick(static_cast<int>(count))];
  }

  std::string Leaf() {
    // Written exponents stop short of 299, but a long mantissa still writes a denormal or an
    // infinity. Arithmetic equations get more of the literals that underflow.
    // clang-format off
    static const char* const LEAVES[] = {"A", "B", "C", "0", "1", "2.5", "0.5", "1e250", "1e-250",
                                         "0.00000000000000000001e-298", "100000000000000000000e298",
                                         "1e200", "1e-200", "3e-160"};
    // clang-format on
    return arithmetic_ ? PickOf(LEAVES) : PickOf(LEAVES, 11);
  }

  std::string Term(int depth) {
    if (depth == 0 || Pick(4) == 0) return Leaf();
    static const char* const BINARY[] = {" + ",  " - ", " * ",  " / ",   " < ",  " <= ", " > ",
                                         " >= ", " = ", " <> ", " and ", " or ", " xor "};
    switch (Pick(4)) {
      case 0: return "-" + Term(depth - 1);
      case 1:
        return arithmetic_ ? "fabs(" + Term(depth - 1) + ")" : "not (" + Term(depth - 1) + ")";
      case 2:
        return "(" + Term(depth - 1) + (arithmetic_ ? PickOf(BINARY, 8) : PickOf(BINARY)) +
               Term(depth - 1) + ")";
      default: {
        const Function& function =
            functions_[static_cast<size_t>(Pick(static_cast<int>(functions_.size())))];
        std::string call = function.name + "(";
        for (int i = 0; i < function.count; ++i) call += (i ? ", " : "") + Term(depth - 1);
        return call + ")";
      }
    }
  }

  std::mt19937 random_;
  bool arithmetic_;
  std::vector<Function> functions_;
};

// Everything an evaluation leaves behind that a host can see.
struct Outcome {
  bool returned;
  double values[VARIABLES + 1];
  int32_t code;
  CodeWord lastCodeWord;
  double topValue, nextValue;
  std::string text;

  bool operator==(const Outcome& other) const {
    return returned == other.returned && std::memcmp(values, other.values, sizeof values) == 0 &&
           code == other.code && lastCodeWord == other.lastCodeWord &&
           std::memcmp(&topValue, &other.topValue, sizeof topValue) == 0 &&
           std::memcmp(&nextValue, &other.nextValue, sizeof nextValue) == 0 && text == other.text;
  }
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  out << (outcome.returned ? "ok" : "fault") << " Y=" << outcome.values[VARIABLES]
      << " code=" << outcome.code << " word=" << outcome.lastCodeWord << " top=" << outcome.topValue
      << " next=" << outcome.nextValue << " text=" << outcome.text;
  return out;
}

Outcome Run(Expression& expression, const double (&inputs)[VARIABLES + 1]) {
  Outcome outcome{};
  std::memcpy(outcome.values, inputs, sizeof inputs);
  outcome.returned =
      Evaluate(expression.program, &expression.evaluator, &expression.record, outcome.values);
  outcome.code = expression.record.errorCode;
  outcome.lastCodeWord = expression.record.lastCodeWord;
  outcome.topValue = expression.record.topValue;
  outcome.nextValue = expression.record.nextValue;
  ComposeEvalError(expression.program, expression.record, expression.message);
  outcome.text = expression.message;
  return outcome;
}

struct Tally {
  int native = 0, registers = 0, runs = 0, faults = 0;
};

// Runs one equation on `inputs` in every form the expression has and compares them.
void Compare(Expression& expression, const std::string& equation,
             const double (&inputs)[VARIABLES + 1], Tally* tally) {
  Evaluator& evaluator = expression.evaluator;
  evaluator.fastest = Form::INTERPRETER;
  const Outcome exact = Run(expression, inputs);
  ++tally->runs;
  tally->faults += exact.returned ? 0 : 1;
  if (!evaluator.fast.usable) return;
  evaluator.fastest = Form::REGISTER_FORM;
  EXPECT_EQ(Run(expression, inputs), exact) << "register form: " << equation;
  ++tally->registers;
  evaluator.fastest = Form::MACHINE_CODE;
  if (evaluator.fast.native.entry == nullptr) return;
  EXPECT_EQ(Run(expression, inputs), exact) << "machine code: " << equation;
  ++tally->native;
}

// Results at the edges of the value tests, where random equations rarely land.
struct EdgeCase {
  const char* equation;
  double a, b;
};

const double DBL_MIN_ = std::numeric_limits<double>::min();
const EdgeCase EDGES[] = {
    // Tiny before the final rounding, which brings it up to the smallest normal: underflow.
    {"Y = A * B", 1.0 - 0x1p-53, DBL_MIN_},
    {"Y = d2r(A) * B", 180 / 3.141592653589793, DBL_MIN_},
    {"Y = A / B", DBL_MIN_, 1.0 + 0x1p-52},
    {"Y = A * B", 1e-200, 1e-200},  // underflow to zero
    {"Y = A * B - A * B", 1e-200, 0.0},
    {"Y = -(A * B) / B", 1e300, 1e10},
    {"Y = if(A, B, -(100000000000000000000e298))", 1.0, 2.0},
    {"Y = sqrt(A - B)", 1.0, 1.0 + 0x1p-52},
    // Whole powers by multiplication, written inline: a pole, an underflow to zero, a product
    // that underflows before the reciprocal overflows, and exact ones.
    {"Y = pow(A, -3) + B", 0.0, 1.0},
    {"Y = pow(A, 7) * B", 1e-50, 1.0},
    {"Y = pow(A, -2) - B", 1e-200, 1.0},
    {"Y = pow(A, 16) + pow(B, -1)", -2.0, 0.5},
};

TEST(FormsAtEdges, AgreeWhereTheValueTestsDecide) {
  Tally tally;
  for (const EdgeCase& edge : EDGES) {
    char message[MESSAGE_SIZE];
    Expression expression("A B C Y", message, MESSAGE_SIZE);
    ASSERT_TRUE(expression.Compile(edge.equation)) << edge.equation;
    const double inputs[VARIABLES + 1] = {edge.a, edge.b, 1.0, 0.0};
    Compare(expression, edge.equation, inputs, &tally);
  }
  EXPECT_GT(tally.faults, 0);
}

class Forms : public ::testing::TestWithParam<bool> {};

TEST_P(Forms, AgreeOnEveryResultFaultAndRecord) {
  const bool arithmetic = GetParam();
  EquationMaker maker(20261205, arithmetic);
  std::mt19937 pick(7);
  std::uniform_int_distribution<size_t> value(0, sizeof INTERESTING / sizeof INTERESTING[0] - 1);
  Tally tally;
  for (int i = 0; i < EQUATIONS; ++i) {
    const std::string equation = maker.Make();
    char message[MESSAGE_SIZE];
    Expression expression("A B C Y", message, MESSAGE_SIZE);
    if (!expression.Compile(equation.c_str())) continue;  // too complex: nothing to compare
    SetAngularUnits(expression.program, &expression.evaluator,
                    static_cast<KAL_ANGULAR_UNITS>(i % 3));
    for (int sample = 0; sample < 6; ++sample) {
      double inputs[VARIABLES + 1] = {INTERESTING[value(pick)], INTERESTING[value(pick)],
                                      INTERESTING[value(pick)], 0.0};
      Compare(expression, equation, inputs, &tally);
    }
    if (::testing::Test::HasFailure()) break;  // one equation's report is enough to debug
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

#if defined(KALO_HAS_MACHINE_CODE)
// The operation table says which operations machine code writes inline; the emitter must keep
// that promise, or programs silently lose their machine code.
TEST(MachineCode, WritesInlineWhatTheOperationTableSays) {
  for (const OperationInfo& info : OPERATIONS) {
    if (info.computation != BY_INSTRUCTIONS) continue;
    std::string term = std::string(info.name) + "(A";
    for (int i = 1; i < info.operandCount; ++i) term += ", B";
    term += ")";
    if (info.symbol != nullptr)
      term = info.code == OP_NEG ? "-A" : std::string("A ") + info.symbol + " B";
    char message[MESSAGE_SIZE];
    Expression expression("A B C Y", message, MESSAGE_SIZE);
    ASSERT_TRUE(expression.Compile(("Y = " + term).c_str())) << term;
    EXPECT_NE(expression.evaluator.fast.native.entry, nullptr) << term;
  }
}
#endif

}  // namespace
}  // namespace kalo
