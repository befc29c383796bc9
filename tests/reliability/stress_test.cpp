// Evaluation under pressure, through the public header: several threads compiling, evaluating
// and reading errors at once, where only one evaluation may run in the process and every other
// one is refused with 102, host functions that throw among them.
#include <atomic>
#include <cmath>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/eval_harness.h"

namespace kalo_test {
namespace {

constexpr int THREAD_COUNT = 4;
constexpr int ROUNDS_PER_THREAD = 40;  // compilations, each with its own literals
constexpr int EVALUATIONS_PER_ROUND = 250;
constexpr int BUSY = 102;
constexpr int DIVIDE_BY_ZERO = 202;

struct HostFailure : std::runtime_error {
  explicit HostFailure(double argument) : std::runtime_error("host failure"), argument_(argument) {}
  double argument_;
};

// boom(x) throws for negative x.
int Twice(double* arguments, double* result, long /*userValue*/) {
  *result = 2.0 * arguments[0];
  return 0;
}
int Boom(double* arguments, double* result, long /*userValue*/) {
  if (arguments[0] < 0) throw HostFailure(arguments[0]);
  *result = arguments[0] + 1.0;
  return 0;
}

// An equation over X and Y with a literal k ("%d") that differs per thread and round; its exact
// result (all values stay integers) or NAN for a division by zero, and whether boom throws.
struct Form {
  const char* pattern;
  double (*expected)(double x, double k);
  bool (*throws)(double x);
};

bool Never(double) { return false; }
bool Negative(double x) { return x < 0; }

// clang-format off
const Form FORMS[] = {
    {"Y = if(X > %d, X - %d, %d - X)", [](double x, double k) { return std::fabs(x - k); }, Never},
    {"Y = twice(X) + max(X, %d)", [](double x, double k) { return 2 * x + std::fmax(x, k); }, Never},
    {"Y = %d / (X - %d) * 0 + %d", [](double x, double k) { return x == k ? NAN : k; }, Never},
    {"Y = boom(X) * %d", [](double x, double k) { return (x + 1) * k; }, Negative},
};
// clang-format on
constexpr int FORM_COUNT = sizeof FORMS / sizeof FORMS[0];

std::string Instantiate(std::string text, int k) {
  for (size_t at = text.find("%d"); at != std::string::npos; at = text.find("%d", at))
    text.replace(at, 2, std::to_string(k));
  return text;
}

std::string Tail(const std::string& text) { return text.substr(text.rfind("\r\n") + 2); }

struct Tally {
  std::atomic<long> succeeded{0}, wrong{0};
  std::string firstWrong;
  std::atomic_flag firstWrongTaken = ATOMIC_FLAG_INIT;
  void Wrong(const std::string& what) {
    ++wrong;
    if (!firstWrongTaken.test_and_set()) firstWrong = what;
  }
};

void Worker(int thread, Tally* tally) {
  for (int round = 0; round < ROUNDS_PER_THREAD; ++round) {
    const int k = 3 + thread * ROUNDS_PER_THREAD + round;
    const Form& form = FORMS[(thread + round) % FORM_COUNT];
    const std::string equation = Instantiate(form.pattern, k);
    Handle compiled(equation.c_str(), "X Y");
    if (compiled.get() == nullptr) {
      tally->Wrong("no compile: " + equation);
      continue;
    }
    for (int i = 0; i < EVALUATIONS_PER_ROUND; ++i) {
      const double x = static_cast<double>(i % 41 - 20 + (i % 7 == 0 ? k + 20 : 0));
      double values[2] = {x, -1.0};
      int result = -1;
      try {
        result = KaloEvalExpression(compiled.get(), values);
      } catch (const HostFailure& failure) {
        if (!form.throws(x) || failure.argument_ != x)
          tally->Wrong(equation + ": unexpected throw");
        continue;
      }
      int code = -1;
      const std::string text = ErrorText(compiled.get(), &code);
      const double expected = form.expected(x, k);
      const std::string where = equation + " at X=" + std::to_string(x) + ": ";
      if (result == 1) {
        ++tally->succeeded;
        if (code != 0 || text != "No errors" || values[1] != expected || form.throws(x))
          tally->Wrong(where + "got " + std::to_string(values[1]) + ", " + text);
      } else if (code == BUSY) {
        if (values[1] != -1.0 || Tail(text) != "Busy with another expression")
          tally->Wrong(where + "refusal wrote or said " + text);
      } else if (code == DIVIDE_BY_ZERO && std::isnan(expected)) {
        if (values[1] != -1.0 || Tail(text) != "Divide by 0 error")
          tally->Wrong(where + "division by zero said " + text);
      } else {
        tally->Wrong(where + "failed with " + std::to_string(code) + ": " + text);
      }
    }
  }
}

class Reliability : public ::testing::Test {
 protected:
  void SetUp() override {
    // The registry must not change while others compile or evaluate: register first.
    ASSERT_EQ(KaloRegisterFunction("twice", 1, &Twice, 0), 1);
    ASSERT_EQ(KaloRegisterFunction("boom", 1, &Boom, 0), 1);
  }
  void TearDown() override { KaloRegisterFunction(nullptr, 0, nullptr, 0); }

  // A plain evaluation right now: it must be admitted and right.
  static void ExpectIdle() {
    Handle plain("Y = X + 1", "X Y");
    double values[2] = {41.0, 0.0};
    EXPECT_EQ(KaloEvalExpression(plain.get(), values), 1);
    EXPECT_EQ(values[1], 42.0);
  }
};

TEST_F(Reliability, ThreadsEvaluateTheirOwnExpressionsAtOnce) {
  Tally tally;
  std::vector<std::thread> threads;
  for (int t = 0; t < THREAD_COUNT; ++t) threads.emplace_back(Worker, t, &tally);
  for (std::thread& thread : threads) thread.join();

  EXPECT_EQ(tally.wrong.load(), 0) << tally.firstWrong;
  EXPECT_GT(tally.succeeded.load(), 0);
  ExpectIdle();
}

// An exception thrown while the host function itself was refused a nested evaluation. The
// inner handle is passed beside the user value, which is too narrow for a pointer on Windows.
void* nestedInner = nullptr;

int NestedThenThrow(double* arguments, double* /*result*/, long /*userValue*/) {
  double values[2] = {1.0, 0.0};
  EXPECT_EQ(KaloEvalExpression(nestedInner, values), 0);
  throw HostFailure(arguments[0]);
}

TEST_F(Reliability, ExceptionAfterARefusedNestedEvaluation) {
  Handle inner("Y = X + 1", "X Y");
  nestedInner = inner.get();
  ASSERT_EQ(KaloRegisterFunction("nested", 1, &NestedThenThrow, 0), 1);
  Handle outer("Y = nested(X)", "X Y");
  double values[2] = {-1.0, 0.0};
  EXPECT_THROW(KaloEvalExpression(outer.get(), values), HostFailure);
  EXPECT_EQ(KaloGetEvalError(inner.get(), nullptr, nullptr), BUSY);
  ExpectIdle();
}

}  // namespace
}  // namespace kalo_test
