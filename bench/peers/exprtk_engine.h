// ExprTk behind a small interface: the header takes a minute and over a gigabyte to compile, so it
// lives in one translation unit of its own, which also holds the timing loops that call it (a host
// would inline `expression.value()` into its loop, and so do these).
#pragma once

#include <memory>
#include <string>

#include "bench/peers/expression_set.h"
#include "bench/peers/timing.h"

namespace kalo::bench {

class ExprtkEngine {
 public:
  explicit ExprtkEngine(const double* initialValues);
  ExprtkEngine(const ExprtkEngine&) = delete;
  ExprtkEngine& operator=(const ExprtkEngine&) = delete;
  ~ExprtkEngine();

  bool Compile(const ExpressionRow& row, std::string* problem);
  double* Slot(int variable) { return &values_[variable]; }
  double Evaluate();
  long long Failures() const { return 0; }

  double TimeCalls(const double* aValues, long long iterations, double* checksum);
  void EvaluateRows(const Binding* bindings, int bindingCount, double* results, long rowCount);
  // Compiles `row` with this engine's symbol table and parser, as a host that recompiles would.
  double CompileToFirstResult(const ExpressionRow& row);

 private:
  struct State;
  double values_[VARIABLE_COUNT] = {};
  std::unique_ptr<State> state_;
};

}  // namespace kalo::bench
