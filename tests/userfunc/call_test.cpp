// Host functions called during evaluation, through the public header: how arguments and the
// result travel, how a host's failure is reported, and hosts that misbehave (re-enter, change
// the registry, throw, raise floating-point faults).
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/eval_harness.h"

namespace kalo_test {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr long USER_BASE = -7000000;  // user values are USER_BASE + behaviour index

// What a host function does, chosen per registration.
// clang-format off
enum class Action {
  NONE, WRITE_SUM, WRITE_42,
  EVAL_TARGET,  // evaluates `target` and keeps what that gave
  CLEAR,        // clears the registry
  REREGISTER,   // registers 64 new names and its own again, writing 42 from then on
  THROW, DIVIDE_BY_ZERO, OVERFLOW_, UNDERFLOW_, DENORMAL_OPERAND, INEXACT,
  INVALID_THEN_5,  // raises the invalid flag, then writes 5
  RETURN_NAN,
  X87_INEXACT_THEN_5, X87_INVALID_THEN_5, X87_DIVIDE_BY_ZERO,  // long double: the x87's own flags
};
// clang-format on

struct Behaviour {
  const char* name;
  int count;
  Action action;
  int code;
};

struct Call {
  std::vector<double> arguments;
  double resultOnEntry;
  long userValue;
};

std::vector<Behaviour> behaviours;
std::vector<Call> calls;
void* target = nullptr;
Outcome targetOutcome;
double targetValues[3];

volatile double vSink, vZero = 0.0, vHuge = 1e300, vTiny = 1e-300, vDenormal = 1e-310;
volatile long double vLongSink, vLongZero = 0.0L, vLongOne = 1.0L;

int Host(double* arguments, double* result, long userValue);

long Register(const char* name, int count, Action action, int code = 0) {
  behaviours.push_back({name, count, action, code});
  const long user = USER_BASE + static_cast<long>(behaviours.size()) - 1;
  EXPECT_EQ(KaloRegisterFunction(name, count, &Host, user), 1) << name;
  return user;
}

double Sum(const std::vector<double>& values) {
  double sum = 0;
  for (double v : values) sum += v;
  return sum;
}

int Host(double* arguments, double* result, long userValue) {
  const Behaviour behaviour = behaviours.at(static_cast<size_t>(userValue - USER_BASE));
  calls.push_back({{arguments, arguments + behaviour.count}, *result, userValue});
  static std::vector<std::string> fillers;
  // clang-format off
  switch (behaviour.action) {
    case Action::NONE: break;
    case Action::WRITE_SUM: *result = Sum(calls.back().arguments); break;
    case Action::WRITE_42: *result = 42; break;
    case Action::EVAL_TARGET:
      targetOutcome.returned = KaloEvalExpression(target, targetValues);
      targetOutcome.text = ErrorText(target, &targetOutcome.code);
      break;
    case Action::CLEAR: KaloRegisterFunction(nullptr, 0, nullptr, 0); break;
    case Action::REREGISTER:
      for (int i = 0; i < 64; ++i) fillers.push_back("filler" + std::to_string(fillers.size()));
      for (const std::string& name : fillers) Register(name.c_str(), 1, Action::NONE);
      Register(behaviour.name, 1, Action::WRITE_42);
      break;
    case Action::THROW: throw std::runtime_error("host failure");
    case Action::DIVIDE_BY_ZERO: vSink = 1.0 / vZero; break;
    case Action::OVERFLOW_: vSink = vHuge * vHuge; break;
    case Action::UNDERFLOW_: vSink = vTiny * vTiny; break;
    case Action::DENORMAL_OPERAND: vSink = vDenormal * 2.0; break;
    case Action::INEXACT: vSink = 1.0 / (vZero + 3.0); break;
    case Action::INVALID_THEN_5: vSink = vZero / vZero; *result = 5; break;
    case Action::RETURN_NAN: *result = NaN; break;
    case Action::X87_INEXACT_THEN_5: vLongSink = vLongOne / 3.0L; *result = 5; break;
    case Action::X87_INVALID_THEN_5: vLongSink = vLongZero / vLongZero; *result = 5; break;
    case Action::X87_DIVIDE_BY_ZERO: vLongSink = vLongOne / vLongZero; break;
  }
  // clang-format on
  return behaviour.code;
}

class HostCall : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { KaloRegisterFunction(nullptr, 0, nullptr, 0); }
  // An empty registry and no calls or reports, for each row of a table.
  void Reset() {
    KaloRegisterFunction(nullptr, 0, nullptr, 0);
    behaviours.clear();
    calls.clear();
    reports.clear();
  }
  HostReports recorder_;
  std::vector<std::string>& reports = HostReports::Texts();
};

// The module a report names: the library's file name, never empty.
std::string ReportedModule(const std::string& report) {
  const size_t start = report.find("Module: ");
  const size_t end = report.find(", File: ");
  if (start == std::string::npos || end == std::string::npos || end < start) return "";
  return report.substr(start + 8, end - start - 8);
}

// ---- Arguments and result -------------------------------------------------------------------

struct ArgumentRow {
  int count;
  Action action;
  std::string equation;                        // calls f, with X = 5
  std::vector<std::vector<double>> arguments;  // per call, in call order
  std::vector<double> resultsOnEntry;
  double expected;
};

// f over the arguments 1, 2, ..., count - 1 and X: more than fit the fixed array, beyond 10.
ArgumentRow Many(int count) {
  std::string equation = "Y = 1000 * f(";
  std::vector<double> arguments;
  for (int k = 1; k < count; ++k) {
    equation += std::to_string(k % 10) + ",";
    arguments.push_back(k % 10);
  }
  arguments.push_back(5);
  return {count,       Action::WRITE_SUM, equation + "X)",
          {arguments}, {arguments[0]},    1000 * Sum(arguments)};
}

TEST_F(HostCall, ArgumentsDeepestFirstAndResultSlotPrefilled) {
  const ArgumentRow rows[] = {
      {1, Action::NONE, "Y = f(X) * 2", {{5}}, {5}, 10},
      {3, Action::WRITE_SUM, "Y = 100 + f(X, 2, X + 1)", {{5, 2, 6}}, {5}, 113},
      {2, Action::WRITE_SUM, "Y = f(f(X, 1), 2)", {{5, 1}, {6, 2}}, {5, 6}, 8},
      Many(10),
      Many(11),
      Many(100),
  };
  for (const ArgumentRow& row : rows) {
    Reset();
    const long user = Register("f", row.count, row.action);
    Handle expression(row.equation.c_str(), "X Y");
    ASSERT_NE(expression.get(), nullptr);
    double values[2] = {5, -1};
    const Outcome outcome = Evaluate(expression.get(), values);
    EXPECT_EQ(outcome.code, 0) << row.equation << ": " << outcome.text;
    EXPECT_EQ(outcome.flagsAfter, 0) << row.equation;
    EXPECT_EQ(values[1], row.expected) << row.equation;
    ASSERT_EQ(calls.size(), row.arguments.size()) << row.equation;
    for (size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].arguments, row.arguments[i]) << row.equation << " call " << i;
      EXPECT_EQ(calls[i].resultOnEntry, row.resultsOnEntry[i]) << row.equation << " call " << i;
      EXPECT_EQ(calls[i].userValue, user) << row.equation;
    }
  }
}

// ---- Failures and floating-point faults of the host function ------------------------------

struct FailureRow {
  int count;
  Action action;
  int hostCode;          // what f returns
  const char* equation;  // calls f once before the run ends, with X = 3
  int code;
  const char* text;
  double expected;  // when code is 0
};

TEST_F(HostCall, FailuresPassThroughAndHostCallsRecordNothing) {
  // clang-format off
  const FailureRow rows[] = {
      {1, Action::NONE, 7, "Y = f(X) + f(X)", 7, "MATH ERROR:  f(0)\r\nUnknown error", 0},
      {2, Action::NONE, -5, "Y = f(X + 1, 2)", -5, "MATH ERROR:  f(3,1)\r\nUnknown error", 0},
      {3, Action::NONE, 12345, "Y = f(X * 2, 1, 2)", 12345, "MATH ERROR:  f\r\nUnknown error", 0},
      {1, Action::NONE, 301, "Y = sqrt(X * 3) + f(X)", 301, "MATH ERROR:  f(9)\r\nArgument domain error", 0},
      {2, Action::NONE, 302, "Y = 5 - f(X, 3)", 302, "MATH ERROR:  f(0,0)\r\nArgument singularity error", 0},
      {1, Action::NONE, 101, "Y = X / 4 * f(X)", 101, "MATH ERROR:  f(4)\r\nUnknown math error", 0},
      {1, Action::NONE, 306, "Y = f(X)", 306, "MATH ERROR:  f(0)\r\nPartial loss of precision", 0},
      // A fault inside the host ends the run at the call, even with the host's traps enabled.
      {1, Action::DIVIDE_BY_ZERO, 0, "Y = X * 2 + f(X)", 202, "MATH ERROR:  f(2)\r\nDivide by 0 error", 0},
      {2, Action::OVERFLOW_, 0, "Y = f(X, 1)", 205, "MATH ERROR:  f(0,0)\r\nOverflow error", 0},
      {1, Action::UNDERFLOW_, 0, "Y = f(X) + 1", 206, "MATH ERROR:  f(0)\r\nUnderflow error", 0},
      {1, Action::DENORMAL_OPERAND, 0, "Y = f(X)", 201, "MATH ERROR:  f(0)\r\nDenormalized number", 0},
      {1, Action::INEXACT, 0, "Y = f(X) + 1", 0, "No errors", 4},
      {1, Action::INVALID_THEN_5, 0, "Y = f(X) + 1", 0, "No errors", 6},
      // A host's NaN is not tested; the built-in operation that uses it is.
      {1, Action::RETURN_NAN, 0, "Y = f(X)", 0, "No errors", NaN},
      {1, Action::RETURN_NAN, 0, "Y = f(X) + 1", 205, "MATH ERROR:  Add(NAN,1)\r\nOverflow error", 0},
      {1, Action::X87_INEXACT_THEN_5, 0, "Y = f(X) + 1", 0, "No errors", 6},
      {1, Action::X87_INVALID_THEN_5, 0, "Y = f(X) + 1", 0, "No errors", 6},
      {1, Action::X87_DIVIDE_BY_ZERO, 0, "Y = f(X) * 2", 202, "MATH ERROR:  f(0)\r\nDivide by 0 error", 0},
  };
  // clang-format on
  for (const FailureRow& row : rows) {
    Reset();
    Register("f", row.count, row.action, row.hostCode);
    Handle expression(row.equation, "X Y");
    double values[2] = {3, 9};
    int returned = -1;
    const StateAfter after =
        WithTrapsEnabled(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID, FE_TONEAREST,
                         [&] { returned = KaloEvalExpression(expression.get(), values); });
    int code = -1;
    EXPECT_EQ(ErrorText(expression.get(), &code), row.text) << row.equation;
    EXPECT_EQ(code, row.code) << row.equation;
    EXPECT_EQ(returned, row.code == 0 ? 1 : 0) << row.equation;
    EXPECT_EQ(values[0], 3);
    EXPECT_TRUE(Same(values[1], row.code == 0 ? row.expected : 9)) << row.equation << values[1];
    EXPECT_EQ(calls.size(), 1u) << row.equation << ": the run went on after a failure";
    EXPECT_EQ(after.flags, 0) << row.equation;
    EXPECT_EQ(after.traps.x87, FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID) << row.equation;
    EXPECT_EQ(after.traps.sse, FE_DIVBYZERO | FE_OVERFLOW) << row.equation;
    EXPECT_TRUE(reports.empty());
  }
}

// A count changed after compilation is read at the call: the stack no longer balances, and the
// run ends in 103 where the imbalance shows.
struct RecountRow {
  int compiledCount, registeredCount;
  const char* equation;  // calls f once, with X = 3
  const char* text;
  std::vector<double> arguments;  // of the call, none when the callback must not run
  size_t reportCount;
};

TEST_F(HostCall, ParameterCountIsReadAtEvaluation) {
  // clang-format off
  const RecountRow rows[] = {
      {2, 1, "Y = f(X, 1)", "MATH ERROR:  f(0)\r\nInternal error", {1}, 0},       // a value too many
      {1, 2, "Y = 1 + f(X)", "MATH ERROR:  Add(0,1)\r\nInternal error", {1, 3}, 1},  // Add short
      {1, 3, "Y = f(X)", "MATH ERROR:  f\r\nInternal error", {}, 1},  // the call itself short
  };
  // clang-format on
  for (const RecountRow& row : rows) {
    Reset();
    Register("f", row.compiledCount, Action::NONE);
    Handle expression(row.equation, "X Y");
    Register("f", row.registeredCount, Action::NONE);
    double values[2] = {3, 9};
    const Outcome outcome = Evaluate(expression.get(), values);
    EXPECT_EQ(outcome.returned, 0) << row.equation;
    EXPECT_EQ(outcome.code, 103) << row.equation;
    EXPECT_EQ(outcome.text, row.text) << row.equation;
    EXPECT_EQ(outcome.flagsAfter, 0) << row.equation;
    EXPECT_EQ(values[1], 9) << row.equation;
    EXPECT_EQ(calls.size(), row.arguments.empty() ? 0u : 1u) << row.equation;
    if (!calls.empty()) {
      EXPECT_EQ(calls[0].arguments, row.arguments) << row.equation;
    }
    EXPECT_EQ(reports.size(), row.reportCount) << row.equation;
    for (const std::string& report : reports) {
      EXPECT_NE(report.find("Parse"), std::string::npos) << report;
      EXPECT_NE(ReportedModule(report).find("kalo"), std::string::npos) << report;
    }
  }
}

TEST_F(HostCall, ClearedRegistryGives103AndAReport) {
  Register("gone", 1, Action::WRITE_42);
  Handle expression("Y = gone(X) + 1", "X Y");
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
  double values[2] = {3, 9};
  EXPECT_EQ(KaloEvalExpression(expression.get(), values), 0);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("userfunc"), std::string::npos) << reports[0];
  EXPECT_NE(ReportedModule(reports[0]).find("kalo"), std::string::npos) << reports[0];
  int code = 0;
  EXPECT_EQ(ErrorText(expression.get(), &code),
            "MATH ERROR:  Unknown registered function\r\nInternal error");
  EXPECT_EQ(code, 103);
  EXPECT_EQ(reports.size(), 2u) << "naming the word looks the record up again";
  EXPECT_EQ(values[1], 9);
  EXPECT_TRUE(calls.empty());
  // The index now names whatever stands there.
  Register("other", 1, Action::WRITE_SUM);
  EXPECT_EQ(KaloEvalExpression(expression.get(), values), 1);
  EXPECT_EQ(values[1], 4);
}

// ---- Hosts that re-enter or change the registry --------------------------------------------

TEST_F(HostCall, EvaluatingInsideIsRefusedWith102) {
  // Another expression: refused, and the outer run goes on.
  Handle other("Z = 2*sin(X) + Y/3", "X Y Z");
  double otherValues[3] = {0.5, 6, 0};
  ASSERT_EQ(KaloEvalExpression(other.get(), otherValues), 1);
  const long user = Register("nest", 1, Action::EVAL_TARGET);
  Handle outer("Y = nest(X) * 2", "X Y");
  target = other.get();
  targetValues[0] = 0.5, targetValues[1] = 6, targetValues[2] = -1;
  double values[2] = {3, 0};
  Outcome outcome = Evaluate(outer.get(), values);
  EXPECT_EQ(outcome.code, 0) << outcome.text;
  EXPECT_EQ(values[1], 6);
  EXPECT_EQ(targetOutcome.returned, 0);
  EXPECT_EQ(targetOutcome.code, 102);
  // A refused evaluation changes only the code: the text names the previous run's last word.
  EXPECT_EQ(targetOutcome.text, "MATH ERROR:  Add(0.958851,2)\r\nBusy with another expression");
  EXPECT_EQ(targetValues[2], -1);
  EXPECT_EQ(KaloEvalExpression(other.get(), otherValues), 1);
  // The same expression: the run ends there too, and is not left busy.
  target = outer.get(), targetOutcome = {};
  values[1] = 9;
  outcome = Evaluate(outer.get(), values);
  EXPECT_EQ(targetOutcome.code, 102);
  EXPECT_EQ(outcome.returned, 0);
  EXPECT_EQ(outcome.code, 102);
  EXPECT_EQ(outcome.text, "MATH ERROR:  nest(0)\r\nBusy with another expression");
  EXPECT_EQ(values[1], 9);
  behaviours[static_cast<size_t>(user - USER_BASE)].action = Action::NONE;
  EXPECT_EQ(KaloEvalExpression(outer.get(), values), 1) << "left busy";
  EXPECT_EQ(values[1], 6);
}

TEST_F(HostCall, ClearingOrReregisteringDuringTheCallHarmsNotTheCall) {
  Register("clr", 2, Action::CLEAR);
  Handle clearing("Y = clr(X, 2) + 1", "X Y");
  double values[2] = {3, 0};
  EXPECT_EQ(KaloEvalExpression(clearing.get(), values), 1);
  EXPECT_EQ(values[1], 4);
  EXPECT_EQ(KaloEvalExpression(clearing.get(), values), 0);  // the record is gone now
  EXPECT_EQ(KaloGetEvalError(clearing.get(), nullptr, nullptr), 103);

  reports.clear();
  Register("rereg", 1, Action::REREGISTER);
  Handle moving("Y = rereg(X) * 2", "X Y");
  EXPECT_EQ(KaloEvalExpression(moving.get(), values), 1);
  EXPECT_EQ(values[1], 6);  // the call in progress kept its own record's values
  EXPECT_EQ(KaloEvalExpression(moving.get(), values), 1);
  EXPECT_EQ(values[1], 84);  // the next one reaches the new registration
  EXPECT_TRUE(reports.empty());
}

// A host exception leaves the library as a finished run would: the host's guarded SSE traps back,
// its x87 control word as it was, flags clear, SSE rounding reset, nothing written, and nothing
// left busy.
struct ThrowRow {
  const char* equation;  // boom throws; X = 3
  int traps;
  int rounding;
};

TEST_F(HostCall, ExceptionReachesTheHostAndLeavesNothingBehind) {
  // clang-format off
  const ThrowRow rows[] = {
      {"Y = boom(X) + 1", FE_DIVBYZERO | FE_INVALID, FE_UPWARD},
      {"Y = if(X > 0, boom(X), 0) + sin(X)", FE_INVALID | FE_INEXACT, FE_DOWNWARD},
      {"Y = cos(boom(X)) / 0", FE_OVERFLOW | FE_UNDERFLOW | FE_INVALID, FE_TOWARDZERO},
  };
  // clang-format on
  Register("boom", 1, Action::THROW);
  for (const ThrowRow& row : rows) {
    Handle expression(row.equation, "X Y");
    double values[2] = {3, 9};
    bool caught = false;
    const StateAfter after = WithTrapsEnabled(row.traps, row.rounding, [&] {
      try {
        KaloEvalExpression(expression.get(), values);
      } catch (const std::runtime_error&) {
        caught = true;
      }
    });
    EXPECT_TRUE(caught) << row.equation;
    EXPECT_EQ(after.traps.x87, row.traps) << row.equation;
    EXPECT_EQ(after.traps.sse, row.traps & KEPT_TRAPS) << row.equation;
    EXPECT_EQ(after.flags, 0) << row.equation;
    EXPECT_EQ(after.rounding, FE_TONEAREST) << row.equation;
    EXPECT_EQ(after.x87Rounding, row.rounding) << row.equation;
    EXPECT_EQ(values[1], 9) << row.equation;
    const Handle plain("Y = X + 1", "X Y");
    const Outcome outcome = Evaluate(plain.get(), values);
    EXPECT_EQ(outcome.code, 0) << row.equation << ": left busy, " << outcome.text;
    EXPECT_EQ(values[1], 4) << row.equation;
  }
  EXPECT_TRUE(reports.empty());
}

}  // namespace
}  // namespace kalo_test
