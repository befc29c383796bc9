// Threads evaluating many handles of their own at once: only one evaluation may run in the
// process and every other one is refused with 102; a host function's exceptions pass through.
#include <atomic>
#include <cmath>
#include <deque>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/eval_harness.h"

namespace kalo_test {
namespace {

constexpr int THREAD_COUNT = 4, HANDLES_PER_THREAD = 40, ROUNDS = 25, BUSY = 102;

int Boom(double* arguments, double* result, long /*userValue*/) {
  if (arguments[0] < 0) throw std::range_error("host failure");
  *result = arguments[0] + 1.0;
  return 0;
}

// Even handles run in the fast forms, odd ones call the host, each with its own literal k.
std::string Equation(int h, int k) {
  const std::string K = std::to_string(k);
  return h % 2 ? "Y = boom(X) * " + K : "Y = fabs(X - " + K + ") + 1 / (X - " + K + ") * 0";
}

void Worker(int thread, std::atomic<long>* succeeded) {
  std::deque<Handle> handles;
  for (int h = 0; h < HANDLES_PER_THREAD; ++h)
    handles.emplace_back(Equation(h, 3 + thread * HANDLES_PER_THREAD + h).c_str(), "X Y");
  for (int i = 0; i < ROUNDS * HANDLES_PER_THREAD; ++i) {
    const int h = i % HANDLES_PER_THREAD, k = 3 + thread * HANDLES_PER_THREAD + h;
    const double x = i % 3 == 0 ? k : i % 41 - 20;
    const int expectedCode = h % 2 ? (x < 0 ? -1 : 0) : x == k ? 202 : 0;  // -1: boom throws
    const double expected = h % 2 ? (x + 1) * k : std::fabs(x - k);
    double values[2] = {x, -1.0};
    int result = -1, code = -1;
    try {
      result = KaloEvalExpression(handles[h].get(), values);
    } catch (const std::range_error&) {
      EXPECT_EQ(expectedCode, -1) << Equation(h, k) << " threw at X=" << x;
      continue;
    }
    const std::string text = ErrorText(handles[h].get(), &code);
    EXPECT_TRUE(code == BUSY || code == expectedCode) << Equation(h, k) << " at X=" << x;
    EXPECT_EQ(result, code == 0 ? 1 : 0);
    EXPECT_EQ(values[1], code == 0 ? expected : -1.0) << Equation(h, k) << " at X=" << x;
    EXPECT_EQ(text.substr(text.find('\n') + 1), code == BUSY  ? "Busy with another expression"
                                                : code == 202 ? "Divide by 0 error"
                                                              : "No errors");
    *succeeded += code == 0;
  }
}

TEST(Reliability, ThreadsEvaluateTheirOwnExpressionsAtOnce) {
  ASSERT_EQ(KaloRegisterFunction("boom", 1, &Boom, 0), 1);
  std::atomic<long> succeeded{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < THREAD_COUNT; ++t) threads.emplace_back(Worker, t, &succeeded);
  for (std::thread& thread : threads) thread.join();
  EXPECT_GT(succeeded.load(), 0);
  Handle plain("Y = X + 1", "X Y");  // the gate is open again
  double values[2] = {41.0, 0.0};
  EXPECT_TRUE(KaloEvalExpression(plain.get(), values) == 1 && values[1] == 42.0);
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
}

}  // namespace
}  // namespace kalo_test
