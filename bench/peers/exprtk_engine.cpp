#include "bench/peers/exprtk_engine.h"

#include <algorithm>

// Features the lists never use; leaving them out shortens the build, not the evaluation.
#define exprtk_disable_string_capabilities
#define exprtk_disable_rtl_io
#define exprtk_disable_rtl_io_file
#define exprtk_disable_rtl_vecops
#include "exprtk.hpp"

namespace kalo::bench {

using SymbolTable = exprtk::symbol_table<double>;
using Expression = exprtk::expression<double>;
using Parser = exprtk::parser<double>;

// One symbol table over the engine's values and one parser, reused for every compilation.
struct ExprtkEngine::State {
  SymbolTable symbols;
  Expression expression;
  Parser parser;

  double* slots = nullptr;
  double* Slot(int variable) const { return &slots[variable]; }
  double Evaluate() const { return expression.value(); }
};

ExprtkEngine::ExprtkEngine(const double* initialValues) : state_(std::make_unique<State>()) {
  std::copy(initialValues, initialValues + VARIABLE_COUNT, values_);
  state_->slots = values_;
  for (int v = 0; v < VARIABLE_COUNT; ++v)
    state_->symbols.add_variable(VARIABLE_NAMES[v], values_[v]);
  state_->expression.register_symbol_table(state_->symbols);
}

ExprtkEngine::~ExprtkEngine() = default;

bool ExprtkEngine::Compile(const ExpressionRow& row, std::string* problem) {
  if (state_->parser.compile(row.exprtk, state_->expression)) return true;
  *problem = "exprtk: " + state_->parser.error();
  return false;
}

double ExprtkEngine::Evaluate() { return state_->Evaluate(); }

double ExprtkEngine::TimeCalls(const double* aValues, long long iterations, double* checksum) {
  return kalo::bench::TimeCalls(*state_, aValues, iterations, checksum);
}

void ExprtkEngine::EvaluateRows(const Binding* bindings, int bindingCount, double* results,
                                long rowCount) {
  kalo::bench::EvaluateRows(*state_, bindings, bindingCount, results, rowCount);
}

double ExprtkEngine::CompileToFirstResult(const ExpressionRow& row) {
  Expression expression;
  expression.register_symbol_table(state_->symbols);
  state_->parser.compile(row.exprtk, expression);
  return expression.value();
}

}  // namespace kalo::bench
