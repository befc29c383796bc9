// Side-by-side evaluation and compilation speed of kalo, the peer libraries found at build time
// and the same expressions compiled as C++ ("native", the physical reference).
//
// For each row of an expression list every engine compiles the row once. Then, repeat after
// repeat, each engine in turn is timed in two modes: one call per evaluation, with the variable
// `a` changing every call (so nothing can be hoisted out of the loop), and columns of COLUMN_ROWS
// rows, evaluated the way each engine offers (kalo's columns export, muparser's bulk mode, a
// plain C++ loop for native, one call per row for the others). The median of the repeats is
// reported: the machine is shared and noisy, and engines are interleaved within a repeat so that
// noise falls on all of them alike. Only ratios from one run mean anything. Every engine's
// results are checked against native; a mismatch is reported, never dropped.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/peers/expression_set.h"
#include "bench/peers/measurement.h"
#include "bench/peers/timing.h"
#include "kalo.h"

#ifdef KALO_BENCH_HAVE_MUPARSER
#include <muParser.h>
#endif
#ifdef KALO_BENCH_HAVE_FPARSER
#include <fparser.hh>
#endif
#ifdef KALO_BENCH_HAVE_MATHEVAL
#include <matheval.h>
#endif
#ifdef KALO_BENCH_HAVE_EXPRTK
#include "bench/peers/exprtk_engine.h"
#endif
#ifdef KALO_BENCH_HAVE_TINYEXPR
#include <tinyexpr.h>
#endif

namespace kalo::bench {
namespace {

constexpr double INITIAL_VALUES[VARIABLE_COUNT] = {
    1.1, 2.2, 3.3, 2.123456, 3.123456, 4.123456, 5.123456, 3.141592653589793, 2.718281828459045};

double aValues[A_COUNT];
volatile std::uint64_t bitsSink = 0;
constexpr double TOLERANCE = 1e-10;  // relative; rounding of rewritten powers stays far below it

// Every engine's input: column v holds variable v's values, `a` cycling like in one-call mode.
struct Columns {
  std::vector<double> values[VARIABLE_COUNT];
  Columns() {
    for (int v = 0; v < VARIABLE_COUNT; ++v) {
      values[v].assign(COLUMN_ROWS, INITIAL_VALUES[v]);
      if (v == 0)
        for (long row = 0; row < COLUMN_ROWS; ++row) values[v][row] = aValues[row & A_MASK];
    }
  }
  double* Column(int variable) { return values[variable].data(); }
};

// --- Engines: each compiles a row, exposes a slot per variable, evaluates one row ---

class NativeEngine {
 public:
  bool Compile(const ExpressionRow& row, std::string* /*problem*/) {
    function_ = row.native;
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values_);
    return true;
  }
  double* Slot(int variable) { return &values_[variable]; }
  double Evaluate() { return function_(values_); }
  long long Failures() const { return 0; }

 private:
  NativeFunction function_ = nullptr;
  double values_[VARIABLE_COUNT] = {};
};

constexpr const char* KALO_VARIABLES = "a b c x y z w pi e R";

// The result is the last declared variable; the others are a prefix of a b c x y z w pi e.
class KaloEngine {
 public:
  KaloEngine() = default;
  KaloEngine(const KaloEngine&) = delete;
  KaloEngine& operator=(const KaloEngine&) = delete;
  ~KaloEngine() { KaloDestroyExpression(handle_); }

  bool Compile(const ExpressionRow& row, std::string* problem) {
    int code = 0;
    char text[512] = "";
    const char* variables = Variables(row);
    handle_ = KaloParseExpression(row.kalo, variables, &code, text);
    if (handle_ == nullptr) *problem = std::string("kalo: ") + text;
    resultIndex_ = ResultIndex(variables);
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values_);
    return handle_ != nullptr;
  }
  double* Slot(int variable) { return &values_[variable]; }
  // A failed evaluation (a math error) yields 0 and is counted.
  double Evaluate() {
    if (KaloEvalExpression(handle_, values_) != 0) return values_[resultIndex_];
    ++failures_;
    return 0.0;
  }
  void EvaluateColumns(Columns& columns, double* results) {
    double* pointers[VARIABLE_COUNT + 1];
    for (int v = 0; v < resultIndex_; ++v) pointers[v] = columns.Column(v);
    pointers[resultIndex_] = results;
    if (KaloEvalExpressionColumns(handle_, pointers, COLUMN_ROWS) != COLUMN_ROWS) ++failures_;
  }
  long long Failures() const { return failures_; }

  static double CompileToFirstResult(const ExpressionRow& row) {
    double values[VARIABLE_COUNT + 1];
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values);
    const char* variables = Variables(row);
    values[ResultIndex(variables)] = 0.0;
    void* handle = KaloParseExpression(row.kalo, variables, nullptr, nullptr);
    KaloEvalExpression(handle, values);
    KaloDestroyExpression(handle);
    return values[ResultIndex(variables)];
  }

 private:
  static const char* Variables(const ExpressionRow& row) {
    return row.kaloVariables != nullptr ? row.kaloVariables : KALO_VARIABLES;
  }
  static int ResultIndex(const char* variables) {
    return static_cast<int>(std::count(variables, variables + std::strlen(variables), ' '));
  }

  void* handle_ = nullptr;
  int resultIndex_ = VARIABLE_COUNT;
  double values_[VARIABLE_COUNT + 1] = {};
  long long failures_ = 0;
};

#ifdef KALO_BENCH_HAVE_MUPARSER
// One Parser with the variables bound to a host array; a host that recompiles calls SetExpr.
// The bulk parser binds each variable to its column instead, as muparser's bulk mode wants.
class MuparserEngine {
 public:
  MuparserEngine() {
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values_);
    for (int i = 0; i < VARIABLE_COUNT; ++i) parser_.DefineVar(VARIABLE_NAMES[i], &values_[i]);
  }
  bool Compile(const ExpressionRow& row, std::string* problem) {
    try {
      parser_.SetExpr(row.muparser);
      parser_.Eval();  // muparser parses on the first evaluation
      return true;
    } catch (const mu::Parser::exception_type& error) {
      *problem = "muparser: " + error.GetMsg();
      return false;
    }
  }
  double* Slot(int variable) { return &values_[variable]; }
  double Evaluate() { return parser_.Eval(); }
  long long Failures() const { return 0; }

  void BindColumns(const ExpressionRow& row, Columns& columns) {
    for (int i = 0; i < VARIABLE_COUNT; ++i) bulk_.DefineVar(VARIABLE_NAMES[i], columns.Column(i));
    bulk_.SetExpr(row.muparser);
  }
  void EvaluateColumns(double* results) { bulk_.Eval(results, static_cast<int>(COLUMN_ROWS)); }

  double CompileToFirstResult(const ExpressionRow& row) {
    parser_.SetExpr(row.muparser);
    return parser_.Eval();
  }

 private:
  mu::Parser parser_;
  mu::Parser bulk_;
  double values_[VARIABLE_COUNT] = {};
};
#endif

#ifdef KALO_BENCH_HAVE_FPARSER
constexpr const char* FPARSER_VARIABLES = "a,b,c,x,y,z,w,pi,e";

// Parsed, then optimised (its documented fast path), then evaluated over the host array.
class FparserEngine {
 public:
  bool Compile(const ExpressionRow& row, std::string* problem) {
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values_);
    if (parser_.Parse(row.fparser, FPARSER_VARIABLES) >= 0) {
      *problem = std::string("fparser: ") + parser_.ErrorMsg();
      return false;
    }
    parser_.Optimize();
    return true;
  }
  double* Slot(int variable) { return &values_[variable]; }
  double Evaluate() { return parser_.Eval(values_); }
  long long Failures() const { return 0; }

  double CompileToFirstResult(const ExpressionRow& row) {
    parser_.Parse(row.fparser, FPARSER_VARIABLES);
    parser_.Optimize();
    return parser_.Eval(INITIAL_VALUES);
  }

 private:
  FunctionParser parser_;
  double values_[VARIABLE_COUNT] = {};
};
#endif

#ifdef KALO_BENCH_HAVE_MATHEVAL
// Evaluated with the names the expression uses, as evaluator_get_variables lists them; pi and e
// are the library's own constants with the same values.
class MathevalEngine {
 public:
  MathevalEngine() = default;
  MathevalEngine(const MathevalEngine&) = delete;
  MathevalEngine& operator=(const MathevalEngine&) = delete;
  ~MathevalEngine() {
    if (evaluator_ != nullptr) evaluator_destroy(evaluator_);
  }

  bool Compile(const ExpressionRow& row, std::string* problem) {
    std::string text = row.matheval;
    evaluator_ = evaluator_create(&text[0]);
    if (evaluator_ == nullptr) {
      *problem = "matheval: does not parse";
      return false;
    }
    evaluator_get_variables(evaluator_, &names_, &count_);
    std::fill(slots_, slots_ + VARIABLE_COUNT, &unused_);
    for (int i = 0; i < count_ && i < VARIABLE_COUNT; ++i)
      for (int v = 0; v < VARIABLE_COUNT; ++v)
        if (std::strcmp(names_[i], VARIABLE_NAMES[v]) == 0) {
          values_[i] = INITIAL_VALUES[v];
          slots_[v] = &values_[i];
        }
    return true;
  }
  double* Slot(int variable) { return slots_[variable]; }
  double Evaluate() { return evaluator_evaluate(evaluator_, count_, names_, values_); }
  long long Failures() const { return 0; }

  static double CompileToFirstResult(const ExpressionRow& row) {
    MathevalEngine engine;
    std::string problem;
    engine.Compile(row, &problem);
    return engine.Evaluate();
  }

 private:
  void* evaluator_ = nullptr;
  char** names_ = nullptr;
  int count_ = 0;
  double values_[VARIABLE_COUNT] = {};
  double* slots_[VARIABLE_COUNT] = {};
  double unused_ = 0.0;  // the slot of a variable the expression does not use
};
#endif

#ifdef KALO_BENCH_HAVE_TINYEXPR
// Compiled with every variable bound to the host array (its own pi and e are shadowed by ours).
class TinyexprEngine {
 public:
  TinyexprEngine() = default;
  TinyexprEngine(const TinyexprEngine&) = delete;
  TinyexprEngine& operator=(const TinyexprEngine&) = delete;
  ~TinyexprEngine() { te_free(expression_); }

  bool Compile(const ExpressionRow& row, std::string* problem) {
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values_);
    expression_ = CompileBound(row.tinyexpr, values_);
    if (expression_ == nullptr) *problem = "tinyexpr: does not parse";
    return expression_ != nullptr;
  }
  double* Slot(int variable) { return &values_[variable]; }
  double Evaluate() { return te_eval(expression_); }
  long long Failures() const { return 0; }

  static double CompileToFirstResult(const ExpressionRow& row) {
    double values[VARIABLE_COUNT];
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values);
    te_expr* expression = CompileBound(row.tinyexpr, values);
    const double result = te_eval(expression);
    te_free(expression);
    return result;
  }

 private:
  static te_expr* CompileBound(const char* text, const double* values) {
    te_variable bindings[VARIABLE_COUNT] = {};
    for (int v = 0; v < VARIABLE_COUNT; ++v) bindings[v] = {VARIABLE_NAMES[v], &values[v], 0, 0};
    int error = 0;
    return te_compile(text, bindings, VARIABLE_COUNT, &error);
  }

  te_expr* expression_ = nullptr;
  double values_[VARIABLE_COUNT] = {};
};
#endif

// ExprTk keeps its loops in its own translation unit; every other engine uses the templates here.
template <class Engine>
double TimeEngineCalls(Engine& engine, long long iterations, double* checksum) {
  return TimeCalls(engine, aValues, iterations, checksum);
}
template <class Engine>
void EvaluateEngineRows(Engine& engine, const Binding* bindings, int count, double* results) {
  EvaluateRows(engine, bindings, count, results, COLUMN_ROWS);
}
#ifdef KALO_BENCH_HAVE_EXPRTK
double TimeEngineCalls(ExprtkEngine& engine, long long iterations, double* checksum) {
  return engine.TimeCalls(aValues, iterations, checksum);
}
void EvaluateEngineRows(ExprtkEngine& engine, const Binding* bindings, int count, double* results) {
  engine.EvaluateRows(bindings, count, results, COLUMN_ROWS);
}
#endif

// ns per call like TimeCalls, with no floating-point arithmetic in the loop: the results are
// combined as bit patterns, so the host's sticky flags stay as the engine leaves them.
template <class Engine>
double TimeCallsCleanFlags(Engine& engine, long long iterations) {
  double* a = engine.Slot(0);
  std::uint64_t bits = 0;
  const double start = CpuNs();
  for (long long i = 0; i < iterations; ++i) {
    *a = aValues[i & A_MASK];
    const double result = engine.Evaluate();
    std::uint64_t resultBits;
    std::memcpy(&resultBits, &result, sizeof resultBits);
    bits ^= resultBits;
  }
  const double stop = CpuNs();
  bitsSink = bitsSink ^ bits;
  return (stop - start) / static_cast<double>(iterations);
}

// --- Measurement ---

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

bool SameValue(double value, double reference) {
  if (std::isnan(value) || std::isnan(reference)) return std::isnan(value) && std::isnan(reference);
  if (value == reference) return true;
  return std::fabs(value - reference) <= TOLERANCE * std::fabs(reference);
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

template <class Engine>
void CheckSamples(Engine& engine, NativeEngine& native, Cell* cell) {
  for (int point : SAMPLE_POINTS) {
    *native.Slot(0) = aValues[point];
    *engine.Slot(0) = aValues[point];
    const double reference = native.Evaluate();
    const long long failuresBefore = engine.Failures();
    const double value = engine.Evaluate();
    const bool failed = engine.Failures() != failuresBefore;
    if (!failed && SameValue(value, reference)) continue;
    if (cell->mismatches++ == 0)
      cell->mismatchText = (failed ? std::string("error") : Format("%.17g", value)) + " vs " +
                           Format("%.17g", reference);
  }
}

// How a timed loop evaluates. CLEAN_FLAGS is one call per evaluation like ONE_CALL, but the
// loop combines the results as bit patterns, so that no floating-point arithmetic of the host
// sets a sticky flag between two calls (a real host's arithmetic usually does).
enum Mode { ONE_CALL, COLUMNS, CLEAN_FLAGS };

// One timed loop of a row: an engine in one mode, run `count` times per repeat.
struct Timed {
  EngineId id;
  Mode mode;
  std::function<double(long long count)> run;  // ns per evaluation (per row for columns)
  long long count;
  std::vector<double> samples;
};

// The state one row's measurement shares between engines.
struct RowContext {
  const ExpressionRow& row;
  const Options& options;
  Columns& columns;
  std::vector<double> reference;  // the C++ loop's result column
  std::vector<Timed> timed;
  RowResult result;
  bool fixedCost;  // the `Y = X` row: native and kalo are also timed with clean flags
};

// Picks a count that makes one repeat last about options.repeatSeconds; a count is one
// evaluation, or one pass over the columns (`rowsPerCount` evaluations).
long long Calibrate(const std::function<double(long long)>& run, long long probe,
                    long long rowsPerCount, const Options& options) {
  const double ns = run(probe) * static_cast<double>(rowsPerCount);
  const double wanted = options.repeatSeconds * 1e9 / std::max(ns, 0.1);
  const long long low = std::max(1LL, options.minIterations / rowsPerCount);
  const long long high = std::max(1LL, options.maxIterations / rowsPerCount);
  return std::clamp(static_cast<long long>(wanted), low, high);
}

void AddTimed(RowContext& context, EngineId id, Mode mode, std::function<double(long long)> run) {
  const long long rowsPerCount = mode == COLUMNS ? COLUMN_ROWS : 1;
  const long long count = Calibrate(run, mode == COLUMNS ? 1 : 2000, rowsPerCount, context.options);
  context.timed.push_back(Timed{id, mode, std::move(run), count, {}});
}

int CountMismatches(const std::vector<double>& values, const std::vector<double>& reference) {
  int mismatches = 0;
  for (size_t i = 0; i < values.size(); ++i)
    mismatches += SameValue(values[i], reference[i]) ? 0 : 1;
  return mismatches;
}

// Adds an engine's columns mode: evaluates once for the check, then registers the timed loop,
// `count` passes over the columns that fill the engine's result column.
void AddColumns(RowContext& context, EngineId id, std::function<void(double*)> evaluate) {
  Cell& cell = context.result.cells[id];
  auto results = std::make_shared<std::vector<double>>(COLUMN_ROWS, 0.0);
  evaluate(results->data());
  if (id == NATIVE) context.reference = *results;
  cell.columnMismatches = CountMismatches(*results, context.reference);
  double* checksum = &cell.checksum;
  AddTimed(context, id, COLUMNS,
           [evaluate = std::move(evaluate), results, checksum](long long count) {
             const double start = CpuNs();
             for (long long pass = 0; pass < count; ++pass) evaluate(results->data());
             const double stop = CpuNs();
             *checksum += (*results)[COLUMN_ROWS - 1];
             return (stop - start) / static_cast<double>(count * COLUMN_ROWS);
           });
}

// Keeps the compiled results alive, so no compilation can be skipped.
volatile double compileSink = 0.0;

template <class CompileFunction>
double TimeCompiles(const Options& options, CompileFunction compile) {
  std::vector<double> samples;
  double sink = 0.0;
  for (int r = 0; r < options.compileRepeats; ++r) {
    const double start = CpuNs();
    for (int i = 0; i < options.compilesPerRepeat; ++i) sink += compile();
    samples.push_back((CpuNs() - start) / options.compilesPerRepeat);
  }
  compileSink = compileSink + sink;
  return Median(samples);
}

template <class Engine>
std::vector<Binding> Bindings(Engine& engine, const ExpressionRow& row, Columns& columns) {
  std::vector<Binding> bindings;
  for (int v = 0; v < VARIABLE_COUNT; ++v)
    if ((row.variableMask >> v) & 1u)
      bindings.push_back(Binding{engine.Slot(v), columns.Column(v)});
  return bindings;
}

// Registers an engine that compiled the row: one-call mode, compilation, and columns row by row
// unless `columns` is given (the engine's own way through columns).
template <class Engine, class CompileFunction>
void AddEngine(RowContext& context, EngineId id, Engine& engine, NativeEngine& native,
               CompileFunction compile, std::function<void(double*)> columns = nullptr) {
  Cell& cell = context.result.cells[id];
  cell.present = true;
  if (id != NATIVE) CheckSamples(engine, native, &cell);
  AddTimed(context, id, ONE_CALL, [&engine, &cell](long long count) {
    return TimeEngineCalls(engine, count, &cell.checksum);
  });
  if (context.fixedCost)
    AddTimed(context, id, CLEAN_FLAGS,
             [&engine](long long count) { return TimeCallsCleanFlags(engine, count); });
  if (!columns) {
    columns = [&engine, bindings = Bindings(engine, context.row, context.columns)](double* out) {
      EvaluateEngineRows(engine, bindings.data(), static_cast<int>(bindings.size()), out);
    };
  }
  AddColumns(context, id, std::move(columns));
  if (id != NATIVE) cell.compileNs = TimeCompiles(context.options, compile);
}

// Compiles `engine` for the row and registers it, or records why it cannot run the row.
template <class Engine, class CompileFunction>
void TryEngine(RowContext& context, EngineId id, const char* text, Engine& engine,
               NativeEngine& native, CompileFunction compile,
               std::function<void(double*)> columns = nullptr) {
  std::string problem;
  if (text == nullptr) return;
  if (engine.Compile(context.row, &problem))
    AddEngine(context, id, engine, native, compile, std::move(columns));
  else
    context.result.problems += problem + "; ";
}

RowResult MeasureRow(const ExpressionRow& row, const Options& options, Columns& columns,
                     bool fixedCost = false) {
  RowContext context{row, options, columns, {}, {}, RowResult{&row, {}, {}}, fixedCost};
  NativeEngine native;
  std::string problem;
  native.Compile(row, &problem);
  AddEngine(
      context, NATIVE, native, native, [] { return 0.0; },
      [&row, &columns](double* out) {
        const double* pointers[VARIABLE_COUNT];
        for (int v = 0; v < VARIABLE_COUNT; ++v) pointers[v] = columns.Column(v);
        row.nativeColumns(pointers, out, COLUMN_ROWS);
      });

  KaloEngine kalo;
  TryEngine(
      context, KALO, row.kalo, kalo, native,
      [&row] { return KaloEngine::CompileToFirstResult(row); },
      [&kalo, &columns](double* out) { kalo.EvaluateColumns(columns, out); });
#ifdef KALO_BENCH_HAVE_MUPARSER
  MuparserEngine muparser, muparserCompiler;
  if (row.muparser != nullptr) muparser.BindColumns(row, columns);
  TryEngine(
      context, MUPARSER, row.muparser, muparser, native,
      [&] { return muparserCompiler.CompileToFirstResult(row); },
      [&muparser](double* out) { muparser.EvaluateColumns(out); });
#endif
#ifdef KALO_BENCH_HAVE_FPARSER
  FparserEngine fparser, fparserCompiler;
  TryEngine(context, FPARSER, row.fparser, fparser, native,
            [&] { return fparserCompiler.CompileToFirstResult(row); });
#endif
#ifdef KALO_BENCH_HAVE_MATHEVAL
  MathevalEngine matheval;
  TryEngine(context, MATHEVAL, row.matheval, matheval, native,
            [&row] { return MathevalEngine::CompileToFirstResult(row); });
#endif
#ifdef KALO_BENCH_HAVE_EXPRTK
  ExprtkEngine exprtk(INITIAL_VALUES), exprtkCompiler(INITIAL_VALUES);
  TryEngine(context, EXPRTK, row.exprtk, exprtk, native,
            [&] { return exprtkCompiler.CompileToFirstResult(row); });
#endif
#ifdef KALO_BENCH_HAVE_TINYEXPR
  TinyexprEngine tinyexpr;
  TryEngine(context, TINYEXPR, row.tinyexpr, tinyexpr, native,
            [&row] { return TinyexprEngine::CompileToFirstResult(row); });
#endif

  for (int r = 0; r < options.repeats; ++r)
    for (Timed& timed : context.timed) timed.samples.push_back(timed.run(timed.count));
  for (Timed& timed : context.timed) {
    Cell& cell = context.result.cells[timed.id];
    const double median = Median(timed.samples);
    switch (timed.mode) {
      case ONE_CALL: cell.evalNs = median; break;
      case COLUMNS: cell.columnNs = median; break;
      case CLEAN_FLAGS: cell.cleanFlagsNs = median; break;
    }
  }
  context.result.cells[KALO].failures = kalo.Failures();
  return context.result;
}

// `Y = X`: kalo declares X and Y only, so the call copies one value in and one out; every peer
// evaluates `a` over its usual bindings. Against the C++ call this is the fixed cost of a call.
const ExpressionRow FIXED_ROW = {
    "Y = X",  "Y = X",         "a",  "a",  "a", "a", "a", "kalo declares X and Y only",
    Identity, IdentityColumns, 0x1u, "X Y"};

void Usage() {
  std::fprintf(stderr,
               "usage: kalo_peers [--set NAME] [--list] [--repeats N] [--repeat-ms MS]\n"
               "                  [--max-iterations N] [--compile-repeats N] [--compiles N]\n"
               "                  [--markdown FILE] [--csv FILE] [--json FILE] [--quiet]\n"
               "Writes markdown to standard output unless --markdown is given.\n");
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--list") {
      options->list = true;
    } else if (arg == "--quiet") {
      options->quiet = true;
    } else if (arg == "--set" && hasValue) {
      options->set = argv[++i];
    } else if (arg == "--repeats" && hasValue) {
      options->repeats = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--repeat-ms" && hasValue) {
      options->repeatSeconds = std::max(0.1, std::atof(argv[++i])) / 1e3;
    } else if (arg == "--max-iterations" && hasValue) {
      options->maxIterations = std::max(1000LL, std::atoll(argv[++i]));
      options->minIterations = std::min(options->minIterations, options->maxIterations);
    } else if (arg == "--compile-repeats" && hasValue) {
      options->compileRepeats = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--compiles" && hasValue) {
      options->compilesPerRepeat = std::max(1, std::atoi(argv[++i]));
    } else if (arg == "--markdown" && hasValue) {
      options->markdownPath = argv[++i];
    } else if (arg == "--csv" && hasValue) {
      options->csvPath = argv[++i];
    } else if (arg == "--json" && hasValue) {
      options->jsonPath = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

const ExpressionSet* FindSet(const Options& options) {
  int setCount = 0;
  const ExpressionSet* sets = ExpressionSets(&setCount);
  const ExpressionSet* found = nullptr;
  for (int i = 0; i < setCount; ++i)
    if (std::strcmp(sets[i].name, options.set) == 0) found = &sets[i];
  if (options.list || found == nullptr) {
    if (found == nullptr && !options.list) std::fprintf(stderr, "no set named %s\n", options.set);
    for (int i = 0; i < setCount; ++i)
      std::fprintf(stderr, "%s: %d rows\n", sets[i].name, sets[i].count);
    return nullptr;
  }
  return found;
}

// Writes one output file with `write`, to standard output when `path` is null.
template <class WriteFunction>
bool WriteFile(const char* path, WriteFunction write) {
  std::FILE* out = path != nullptr ? std::fopen(path, "w") : stdout;
  if (out == nullptr) {
    std::perror(path);
    return false;
  }
  write(out);
  if (out != stdout) std::fclose(out);
  return true;
}

}  // namespace
}  // namespace kalo::bench

int main(int argc, char** argv) {
  using namespace kalo::bench;
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  const ExpressionSet* set = FindSet(options);
  if (set == nullptr) return options.list ? 0 : 2;

  for (int i = 0; i < A_COUNT; ++i) aValues[i] = INITIAL_VALUES[0] + i * 1e-6;
  Columns columns;
  const RowResult fixed = MeasureRow(FIXED_ROW, options, columns, true);
  std::vector<RowResult> results;
  for (int i = 0; i < set->count; ++i) {
    results.push_back(MeasureRow(set->rows[i], options, columns));
    if (!options.quiet) {
      const RowResult& r = results.back();
      std::fprintf(stderr, "[%d/%d] %-40.40s native %.1f kalo %.1f ns; columns %.2f %.2f\n", i + 1,
                   set->count, set->rows[i].source, r.cells[NATIVE].evalNs, r.cells[KALO].evalNs,
                   r.cells[NATIVE].columnNs, r.cells[KALO].columnNs);
    }
  }
  bool written = WriteFile(options.markdownPath, [&](std::FILE* out) {
    WriteMarkdown(out, *set, results, fixed, options);
  });
  if (written && options.csvPath != nullptr)
    written = WriteFile(options.csvPath, [&](std::FILE* out) { WriteCsv(out, *set, results); });
  if (written && options.jsonPath != nullptr)
    written =
        WriteFile(options.jsonPath, [&](std::FILE* out) { WriteJson(out, *set, results, fixed); });
  return written ? 0 : 1;
}
