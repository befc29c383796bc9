// Micro benchmarks through the C API: compile time for a short, a medium and a long equation,
// evaluation time for three programs with X changing every iteration, the same three as C++
// for reference, and the primitives that make up the fixed cost of one KaloEvalExpression call.
//
//   kalo_micro                                  everything
//   kalo_micro --benchmark_filter=Eval          evaluation only
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>

#include "kalo.h"

namespace {

// The equations and their variable lists.
struct Equation {
  const char* name;
  const char* text;
  const char* variables;
};

constexpr const char* XYZ = "X Y Z";

// A long equation just under the 303-character limit, mixing operators, calls and literals.
constexpr const char* LONG_EQUATION =
    "Z = 2*sin(X) + Y/3 - sqrt(fabs(X*Y) + 1.5)*cos(Y - X/7) + pow(X, 2) - pow(Y, 3)/11 "
    "+ exp(-X*X/4)*ln(Y*Y + 2) - atan2(Y, X + 10)*(X - 1)*(Y + 2)/(X*X + Y*Y + 1) "
    "+ max(X, Y) - min(X/2, Y/3) + fmod(X*100, 7) + floor(Y*3.5) - ceil(X/1.5) "
    "+ tanh(X/5) + if(X > Y, X - Y, Y - X)";
static_assert(sizeof "Z = 2*sin(X) + Y/3" < 303, "");

// 20 operations: ten multiplications and ten additions in Horner form.
constexpr const char* POLYNOMIAL =
    "Y = ((((((((((0.5*X+1.5)*X+2.5)*X+3.5)*X+4.5)*X+5.5)*X+6.5)*X+7.5)*X+8.5)*X+9.5)*X+10.5)";

const Equation SHORT{"short", "Y = X", "X Y"};
const Equation MEDIUM{"medium", "Z = 2*sin(X) + Y/3", XYZ};
const Equation LONG{"long", LONG_EQUATION, XYZ};
const Equation POLY{"polynomial20", POLYNOMIAL, "X Y"};

// X cycles through these values, so no result can be reused.
constexpr int X_COUNT = 1024;
struct XValues {
  double values[X_COUNT];
  XValues() {
    for (int i = 0; i < X_COUNT; ++i) values[i] = 0.75 + i * 1e-6;
  }
};
const XValues xValues;

void Compile(benchmark::State& state, const Equation& equation) {
  int code = 0;
  char text[512];
  for (auto _ : state) {
    void* handle = KaloParseExpression(equation.text, equation.variables, &code, text);
    benchmark::DoNotOptimize(handle);
    KaloDestroyExpression(handle);
  }
  void* handle = KaloParseExpression(equation.text, equation.variables, &code, text);
  if (handle == nullptr) state.SkipWithError(text);
  KaloDestroyExpression(handle);
  state.SetLabel(std::to_string(std::strlen(equation.text)) + " characters");
}

// The variables are X first, then Y (and Z); the result goes to the assigned variable.
void Evaluate(benchmark::State& state, const Equation& equation, int resultIndex) {
  int code = 0;
  char text[512];
  void* handle = KaloParseExpression(equation.text, equation.variables, &code, text);
  if (handle == nullptr) {
    state.SkipWithError(text);
    return;
  }
  double values[3] = {0.75, 6.0, 0.0};
  long long failures = 0;
  unsigned i = 0;
  double sum = 0.0;
  for (auto _ : state) {
    values[0] = xValues.values[i++ & (X_COUNT - 1)];
    if (KaloEvalExpression(handle, values) != 0)
      sum += values[resultIndex];
    else
      ++failures;
  }
  benchmark::DoNotOptimize(sum);
  if (failures != 0) state.SkipWithError("an evaluation failed");
  KaloDestroyExpression(handle);
}

// The columns export over X_COUNT rows per call; the time is reported per row.
void EvaluateColumns(benchmark::State& state, const Equation& equation, int resultIndex) {
  void* handle = KaloParseExpression(equation.text, equation.variables, nullptr, nullptr);
  if (handle == nullptr) {
    state.SkipWithError("does not compile");
    return;
  }
  static double columns[3][X_COUNT];
  for (int i = 0; i < X_COUNT; ++i) columns[0][i] = xValues.values[i], columns[1][i] = 6.0;
  double* pointers[3] = {columns[0], columns[1], columns[2]};
  long long failures = 0;
  for (auto _ : state) {
    failures += KaloEvalExpressionColumns(handle, pointers, X_COUNT) == X_COUNT ? 0 : 1;
    benchmark::DoNotOptimize(columns[resultIndex][X_COUNT - 1]);
  }
  if (failures != 0) state.SkipWithError("an evaluation failed");
  state.SetItemsProcessed(state.iterations() * X_COUNT);
  KaloDestroyExpression(handle);
}

// The same programs as C++, called through a pointer so the call cannot be inlined away.
[[gnu::noinline]] double NativeShort(const double* v) { return v[0]; }
[[gnu::noinline]] double NativeMedium(const double* v) { return 2 * std::sin(v[0]) + v[1] / 3; }
inline double Polynomial(double x) {
  return (
      (((((((((0.5 * x + 1.5) * x + 2.5) * x + 3.5) * x + 4.5) * x + 5.5) * x + 6.5) * x + 7.5) *
            x +
        8.5) *
           x +
       9.5) *
          x +
      10.5);
}
[[gnu::noinline]] double NativePolynomial(const double* v) { return Polynomial(v[0]); }

void EvaluateNative(benchmark::State& state, double (*function)(const double*)) {
  double (*volatile call)(const double*) = function;
  double values[3] = {0.75, 6.0, 0.0};
  unsigned i = 0;
  double sum = 0.0;
  for (auto _ : state) {
    values[0] = xValues.values[i++ & (X_COUNT - 1)];
    sum += call(values);
  }
  benchmark::DoNotOptimize(sum);
}

// The same programs as a plain C++ loop over the same columns, for the columns export to match.
template <typename Function>
void EvaluateNativeColumns(benchmark::State& state, Function function) {
  static double columns[3][X_COUNT];
  for (int i = 0; i < X_COUNT; ++i) columns[0][i] = xValues.values[i], columns[1][i] = 6.0;
  for (auto _ : state) {
    for (int i = 0; i < X_COUNT; ++i) {
      const double row[2] = {columns[0][i], columns[1][i]};
      columns[2][i] = function(row);
    }
    benchmark::DoNotOptimize(columns[2][X_COUNT - 1]);
  }
  state.SetItemsProcessed(state.iterations() * X_COUNT);
}

BENCHMARK_CAPTURE(Compile, short, SHORT);
BENCHMARK_CAPTURE(Compile, medium, MEDIUM);
BENCHMARK_CAPTURE(Compile, long, LONG);
BENCHMARK_CAPTURE(Evaluate, short, SHORT, 1);
BENCHMARK_CAPTURE(Evaluate, medium, MEDIUM, 2);
BENCHMARK_CAPTURE(Evaluate, polynomial20, POLY, 1);
BENCHMARK_CAPTURE(EvaluateColumns, short, SHORT, 1);
BENCHMARK_CAPTURE(EvaluateColumns, medium, MEDIUM, 2);
BENCHMARK_CAPTURE(EvaluateColumns, polynomial20, POLY, 1);
// Inlined into the loop, as a host's own code would be.
BENCHMARK_CAPTURE(EvaluateNativeColumns, short, [](const double* v) { return v[0]; });
BENCHMARK_CAPTURE(EvaluateNativeColumns, medium,
                  [](const double* v) { return 2 * std::sin(v[0]) + v[1] / 3; });
BENCHMARK_CAPTURE(EvaluateNativeColumns, polynomial20,
                  [](const double* v) { return Polynomial(v[0]); });
BENCHMARK_CAPTURE(EvaluateNative, short, &NativeShort);
BENCHMARK_CAPTURE(EvaluateNative, medium, &NativeMedium);
BENCHMARK_CAPTURE(EvaluateNative, polynomial20, &NativePolynomial);

// --- The pieces of the fixed cost of one evaluation, measured alone ---

// The busy gate: one compare-and-swap to take it and one release store to give it back.
void FixedBusyGate(benchmark::State& state) {
  static std::atomic<int*> gate{nullptr};
  int marker = 0;
  for (auto _ : state) {
    int* idle = nullptr;
    benchmark::DoNotOptimize(
        gate.compare_exchange_strong(idle, &marker, std::memory_order_acquire));
    gate.store(nullptr, std::memory_order_release);
  }
}
BENCHMARK(FixedBusyGate);

// An indirect call into a function that does nothing: what dispatch to generated code costs.
[[gnu::noinline]] double Identity(const double* v) { return v[0]; }
void FixedIndirectCall(benchmark::State& state) {
  double (*volatile call)(const double*) = &Identity;
  double value = 1.0;
  for (auto _ : state) benchmark::DoNotOptimize(call(&value));
}
BENCHMARK(FixedIndirectCall);

// Copying the host's values in (with the NaN test) and the result out, for three variables.
void FixedValueCopies(benchmark::State& state) {
  double host[3] = {0.75, 6.0, 0.0};
  double pool[3];
  for (auto _ : state) {
    benchmark::DoNotOptimize(host);
    bool ordered = true;
    for (int i = 0; i < 3; ++i) {
      pool[i] = host[i];
      ordered &= !std::isnan(host[i]);
    }
    benchmark::DoNotOptimize(pool);
    host[2] = ordered ? pool[0] : 0.0;
  }
}
BENCHMARK(FixedValueCopies);

#if defined(__x86_64__)
// Reading the SSE control and status register (to save it and to read the sticky flags).
void FixedReadMxcsr(benchmark::State& state) {
  for (auto _ : state) {
    unsigned value;
    __asm__ __volatile__("stmxcsr %0" : "=m"(value));
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(FixedReadMxcsr);

// Writing it back (to clear flags and restore the host's masks): a serialising instruction.
void FixedWriteMxcsr(benchmark::State& state) {
  unsigned value;
  __asm__ __volatile__("stmxcsr %0" : "=m"(value));
  for (auto _ : state) {
    __asm__ __volatile__("ldmxcsr %0" : : "m"(value));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(FixedWriteMxcsr);

// The x87 control word read and status word read that guard code which may use the x87 unit.
void FixedX87ControlAndStatus(benchmark::State& state) {
  for (auto _ : state) {
    unsigned short control, status;
    __asm__ __volatile__("fnstcw %0" : "=m"(control));
    __asm__ __volatile__("fnstsw %0" : "=am"(status));
    benchmark::DoNotOptimize(control);
    benchmark::DoNotOptimize(status);
  }
}
BENCHMARK(FixedX87ControlAndStatus);

// Clearing the x87 flags, done only when a run may have used the x87 unit.
void FixedX87Clear(benchmark::State& state) {
  for (auto _ : state) {
    __asm__ __volatile__("fnclex");
    benchmark::ClobberMemory();
  }
}
BENCHMARK(FixedX87Clear);
#endif

}  // namespace

BENCHMARK_MAIN();
