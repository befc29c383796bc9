// The timing loops every engine shares. They are templates so that each engine's evaluation is
// inlined into the loop where a host would inline it; an engine kept in its own translation unit
// (ExprTk) instantiates them there.
#pragma once

#include <time.h>

namespace kalo::bench {

// The calling thread's CPU time in ns. The machine is shared: time during which another process
// holds the core is not the engine's, and wall-clock time would charge it to whichever engine was
// running. The clock is read twice per timed loop, so its cost (a system call) does not count.
inline double CpuNs() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

// `a` cycles through this many values, the same for every engine (a power of two).
constexpr int A_COUNT = 1024;
constexpr int A_MASK = A_COUNT - 1;

// Where one variable's value goes for each row: the engine's slot, and the column it comes from.
struct Binding {
  double* slot;
  const double* column;
};

// ns per evaluation of `iterations` calls, `a` changing every call; the results are summed into
// *checksum so that no call can be dropped.
template <class Engine>
double TimeCalls(Engine& engine, const double* aValues, long long iterations, double* checksum) {
  double* a = engine.Slot(0);
  double sum = 0.0;
  const double start = CpuNs();
  for (long long i = 0; i < iterations; ++i) {
    *a = aValues[i & A_MASK];
    sum += engine.Evaluate();
  }
  const double stop = CpuNs();
  *checksum += sum;
  return (stop - start) / static_cast<double>(iterations);
}

// A host with columns and an engine that evaluates one row per call: copy the row's values of
// the variables the expression uses into the engine's slots, evaluate, store.
template <class Engine>
void EvaluateRows(Engine& engine, const Binding* bindings, int bindingCount, double* results,
                  long rowCount) {
  for (long row = 0; row < rowCount; ++row) {
    for (int i = 0; i < bindingCount; ++i) *bindings[i].slot = bindings[i].column[row];
    results[row] = engine.Evaluate();
  }
}

}  // namespace kalo::bench
