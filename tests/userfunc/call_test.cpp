// Host functions called during evaluation: arguments and result, a host's failure, fault or
// exception, hosts that re-enter or change the registry, or whose count changed after compiling.
#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/eval_harness.h"

namespace kalo_test {
namespace {

// clang-format off
enum class Action { NONE, FOLD, EVAL_SELF, EVAL_OTHER, CLEAR, REREGISTER, THROW, DIVIDE_BY_ZERO, OVERFLOW_, UNDERFLOW_,
    DENORMAL, INEXACT, INVALID_THEN_5, RETURN_NAN, X87_INEXACT_THEN_5, X87_INVALID_THEN_5, X87_DIVIDE_BY_ZERO };
// clang-format on
struct Behaviour {
  Action action;
  int count, code;
};
std::vector<Behaviour> behaviours;  // by user value
int calls = 0;
void *self, *other;  // the expression running, and another that ran before
double otherValues[3] = {0.5, 6, -1};
volatile double vSink, vZero = 0.0, vHuge = 1e300, vTiny = 1e-300, vDenormal = 1e-310;
volatile long double vLongSink, vLongZero = 0.0L, vLongOne = 1.0L;

// Order-sensitive, so that an argument in the wrong place gives another value.
double Fold(const double* arguments, size_t count) {
  double fold = 0;
  for (size_t i = 0; i < count; ++i) fold = fold * 3 + arguments[i];
  return fold;
}

int Host(double* arguments, double* result, long user);

void Register(const char* name, int count, Action action, int code = 0) {
  behaviours.push_back({action, count, code});
  EXPECT_EQ(KaloRegisterFunction(name, count, &Host, long(behaviours.size()) - 1), 1) << name;
}

int Host(double* arguments, double* result, long user) {
  ++calls;
  const Behaviour behaviour = behaviours.at(static_cast<size_t>(user));
  // clang-format off
  switch (behaviour.action) {
    case Action::NONE: break;
    case Action::FOLD: *result = Fold(arguments, static_cast<size_t>(behaviour.count)); break;
    case Action::EVAL_SELF: EXPECT_EQ(KaloEvalExpression(self, otherValues), 0); break;
    case Action::EVAL_OTHER:
      EXPECT_TRUE(KaloEvalExpression(other, otherValues) == 0 && otherValues[2] == -1 &&
                  ErrorText(other) == "MATH ERROR:  Add(0.958851,2)\r\nBusy with another expression"); break;
    case Action::CLEAR: KaloRegisterFunction(nullptr, 0, nullptr, 0); break;
    case Action::REREGISTER:  // moves the records: 64 new names, then itself, writing 5
      for (int i = 0; i < 64; ++i) Register(("filler" + std::to_string(i)).c_str(), 1, Action::NONE);
      Register("f", 1, Action::INVALID_THEN_5);
      break;
    case Action::THROW: throw std::runtime_error("host failure");
    case Action::DIVIDE_BY_ZERO: vSink = 1.0 / vZero; break;
    case Action::OVERFLOW_: vSink = vHuge * vHuge; break;
    case Action::UNDERFLOW_: vSink = vTiny * vTiny; break;
    case Action::DENORMAL: vSink = vDenormal * 2.0; break;
    case Action::INEXACT: vSink = 1.0 / (vZero + 3.0); break;
    case Action::INVALID_THEN_5: vSink = vZero / vZero, *result = 5; break;
    case Action::RETURN_NAN: *result = std::numeric_limits<double>::quiet_NaN(); break;
    case Action::X87_INEXACT_THEN_5: vLongSink = vLongOne / 3.0L, *result = 5; break;
    case Action::X87_INVALID_THEN_5: vLongSink = vLongZero / vLongZero, *result = 5; break;
    case Action::X87_DIVIDE_BY_ZERO: vLongSink = vLongOne / vLongZero; break;
  }
  // clang-format on
  return behaviour.code;
}

// f's parameter count when compiled and, unless 0, when run (-1: cleared; -2: 0); the equation,
// with X = 3; code -1: f's exception reaches the host; the text after "MATH ERROR:  " unless code
// is 0, else the value; f's calls, and the internal-error reports, which name `file`.
// clang-format off
struct Row {
  int count, recount; Action action; int hostCode; std::string equation; int code; const char* text; double value;
  int calls, reports; const char* file = "Parse";
};
// clang-format on

TEST(HostCall, ArgumentsResultsFailuresFaultsAndExceptions) {
  const HostReports recorder;
  std::vector<std::string>& reports = HostReports::Texts();
  const Handle previous("Z = 2*sin(X) + Y/3", "X Y Z");
  other = previous.get();
  ASSERT_EQ(KaloEvalExpression(other, otherValues), 1);
  otherValues[2] = -1;
  std::vector<double> many;  // arguments beyond any fixed array of ten
  std::string manyCall = "Y = f(";
  for (int i = 0; i < 49; ++i) many.push_back(1), many.push_back(2), manyCall += "1,2,";
  many.push_back(3), many.push_back(3);
  // clang-format off
  const Row rows[] = {
      // Without host code the run is rounded to nearest and faults end it all the same.
      {1, 0, Action::NONE, 0, "Y = 1 / X", 0, nullptr, 1.0 / 3, 0, 0}, {1, 0, Action::NONE, 0, "Y = cos(X)", 0, nullptr, std::cos(3.0), 0, 0},
      {1, 0, Action::NONE, 0, "Y = X / 0", 202, "Divide(3,0)\r\nDivide by 0 error", 0, 0, 0}, {1, 0, Action::NONE, 0, "Y = f(X) * 2", 0, nullptr, 6, 1, 0},
      {3, 0, Action::FOLD, 0, "Y = 100 + f(X, 2, X + 1)", 0, nullptr, 100 + 37, 1, 0}, {2, 0, Action::FOLD, 0, "Y = f(f(X, 1), 2)", 0, nullptr, 32, 2, 0},
      {100, 0, Action::FOLD, 0, manyCall + "X,X)", 0, nullptr, Fold(many.data(), 100), 1, 0},
      // A host's code ends the run; the text shows the last built-in operation's operands.
      {1, 0, Action::NONE, 7, "Y = f(X) + f(X)", 7, "f(0)\r\nUnknown error", 0, 1, 0}, {2, 0, Action::NONE, -5, "Y = f(X + 1, 2)", -5, "f(3,1)\r\nUnknown error", 0, 1, 0},
      {3, 0, Action::NONE, 12345, "Y = f(X * 2, 1, 2)", 12345, "f\r\nUnknown error", 0, 1, 0}, {1, 0, Action::NONE, 301, "Y = sqrt(X * 3) + f(X)", 301, "f(9)\r\nArgument domain error", 0, 1, 0},
      {2, 0, Action::NONE, 302, "Y = 5 - f(X, 3)", 302, "f(0,0)\r\nArgument singularity error", 0, 1, 0}, {1, 0, Action::NONE, 101, "Y = X / 4 * f(X)", 101, "f(4)\r\nUnknown math error", 0, 1, 0},
      {1, 0, Action::NONE, 306, "Y = f(X)", 306, "f(0)\r\nPartial loss of precision", 0, 1, 0},
      // A fault inside the host ends the run at the call, even with the host's traps enabled.
      {1, 0, Action::DIVIDE_BY_ZERO, 0, "Y = X * 2 + f(X)", 202, "f(2)\r\nDivide by 0 error", 0, 1, 0}, {2, 0, Action::OVERFLOW_, 0, "Y = f(X, 1)", 205, "f(0,0)\r\nOverflow error", 0, 1, 0},
      {1, 0, Action::UNDERFLOW_, 0, "Y = f(X) + 1", 206, "f(0)\r\nUnderflow error", 0, 1, 0}, {1, 0, Action::DENORMAL, 0, "Y = f(X)", 201, "f(0)\r\nDenormalized number", 0, 1, 0},
      {1, 0, Action::INEXACT, 0, "Y = f(X) + 1", 0, nullptr, 4, 1, 0}, {1, 0, Action::INVALID_THEN_5, 0, "Y = f(X) + 1", 0, nullptr, 6, 1, 0},
      // A host's NaN is not tested; the built-in operation that uses it is.
      {1, 0, Action::RETURN_NAN, 0, "Y = f(X)", 0, nullptr, std::numeric_limits<double>::quiet_NaN(), 1, 0}, {1, 0, Action::RETURN_NAN, 0, "Y = f(X) + 1", 205, "Add(NAN,1)\r\nOverflow error", 0, 1, 0},
      // The x87 unit, which long double uses, is left with its flags clear.
      {1, 0, Action::X87_INEXACT_THEN_5, 0, "Y = f(X) + 1", 0, nullptr, 6, 1, 0}, {1, 0, Action::X87_INVALID_THEN_5, 0, "Y = f(X) + 1", 0, nullptr, 6, 1, 0},
      {1, 0, Action::X87_DIVIDE_BY_ZERO, 0, "Y = f(X) * 2", 202, "f(0)\r\nDivide by 0 error", 0, 1, 0},
      // A count changed after compilation is read at the call, and the run ends in 103 where the
      // stack no longer balances: a value too many, an operation short, the call itself short.
      {2, 1, Action::NONE, 0, "Y = f(X, 1)", 103, "f(0)\r\nInternal error", 0, 1, 0}, {1, 2, Action::NONE, 0, "Y = 1 + f(X)", 103, "Add(0,1)\r\nInternal error", 0, 1, 1},
      {1, 3, Action::NONE, 0, "Y = f(X)", 103, "f\r\nInternal error", 0, 0, 1},
      // None: the result slot is 0, not the 5 the stack held there; the argument is a value too many.
      {1, -2, Action::NONE, 0, "Y = (X - (X - 5)) + f(X)", 103, "Add(3,0)\r\nInternal error", 0, 1, 0},
      // Registry cleared after compilation, then naming the word looks the record up again.
      {1, -1, Action::NONE, 0, "Y = f(X) + 1", 103, "Unknown registered function\r\nInternal error", 0, 0, 2, "userfunc"},
      // Evaluating inside is refused with 102, which changes only the code: another keeps its text.
      {1, 0, Action::EVAL_OTHER, 0, "Y = f(X) * 2", 0, nullptr, 6, 1, 0}, {1, 0, Action::EVAL_SELF, 0, "Y = f(X) * 2", 102, "f(0)\r\nBusy with another expression", 0, 1, 0},
      // The registry cleared, or its records moved, during the call: the call keeps its record's
      // values, and the next call reaches the new registration.
      {2, 0, Action::CLEAR, 0, "Y = f(X, 2) + 1", 0, nullptr, 4, 1, 0}, {1, 0, Action::REREGISTER, 0, "Y = f(X) + f(X)", 0, nullptr, 8, 2, 0},
      // An exception leaves the state as a finished run would, and nothing busy.
      {1, 0, Action::THROW, 0, "Y = if(X > 0, f(X), 0) + sin(X)", -1, nullptr, 0, 1, 0}, {1, 0, Action::THROW, 0, "Y = cos(f(X)) / 0", -1, nullptr, 0, 1, 0}};
  // The host's traps and rounding, each row under each: the SSE unit is reset for the run, and only
  // the division-by-zero, overflow and underflow traps come back; the x87 control word is the host's.
  const int traps[] = {FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID, FE_OVERFLOW | FE_UNDERFLOW | FE_INEXACT, 0,
                       FE_DIVBYZERO | FE_INVALID | FE_UNDERFLOW | FE_INEXACT};
  const int modes[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}, KEPT_TRAPS = FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
  // clang-format on
  for (const Row& row : rows)
    for (int k = 0; k < 4; ++k) {
      KaloRegisterFunction(nullptr, 0, nullptr, 0);
      behaviours.clear(), reports.clear(), calls = 0;
      Register("f", row.count, row.action, row.hostCode);
      Handle expression(row.equation.c_str(), "X Y");
      self = expression.get();
      if (row.recount == -1) KaloRegisterFunction(nullptr, 0, nullptr, 0);
      if (row.recount > 0 || row.recount == -2)
        Register("f", std::max(row.recount, 0), row.action, row.hostCode);
      double values[2] = {3, 9};
      int returned = -1;
      fenv_t saved;
      std::fegetenv(&saved);
      // mingw-w64's fesetenv leaves the SSE masks as they are, so the control register is restored
      // by hand as well: the next case must not inherit this one's traps.
      const unsigned savedSse = _mm_getcsr();
      std::feclearexcept(FE_ALL_EXCEPT), std::fesetround(modes[k]), feenableexcept(traps[k]);
      try {
        returned = KaloEvalExpression(expression.get(), values);
      } catch (const std::runtime_error&) {
      }
      // Read before the test's own arithmetic, which a wrongly left trap must not interrupt.
      const bool kept = std::fetestexcept(FE_ALL_EXCEPT) == 0 && fegetexcept() == traps[k] &&
                        SseTraps() == (traps[k] & KEPT_TRAPS) && SseRounding() == FE_TONEAREST &&
                        std::fegetround() == modes[k];
      std::fesetenv(&saved), _mm_setcsr(savedSse);
      int code = -1;
      const std::string text = ErrorText(expression.get(), &code);
      EXPECT_TRUE(row.code < 0 ||
                  (code == row.code &&
                   text == (row.code ? "MATH ERROR:  " + std::string(row.text) : "No errors")))
          << row.equation << ": " << code << " " << text;
      EXPECT_EQ(returned, row.code == 0 ? 1 : row.code == -1 ? -1 : 0) << row.equation;
      EXPECT_TRUE(Same(values[1], row.code == 0 ? row.value : 9) && values[0] == 3 &&
                  calls == row.calls)
          << row.equation << ": " << values[1] << ", " << calls;
      EXPECT_TRUE(kept) << row.equation;
      // Every report names the library's module (never an empty name) and the check's file.
      EXPECT_EQ(reports.size(), static_cast<size_t>(row.reports)) << row.equation;
      for (const std::string& report : reports) {
        const size_t start = report.find("Module: ") + 8, end = report.find(", File: ", start);
        EXPECT_TRUE(start > 8 &&
                    report.substr(start, end - start).find("kalo") != std::string::npos &&
                    report.find(row.file) != std::string::npos)
            << report;
      }
      const Handle plain("Y = X + 1", "X Y");
      EXPECT_EQ(KaloEvalExpression(plain.get(), values), 1) << row.equation << ": left busy";
    }
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
}

}  // namespace
}  // namespace kalo_test
