// Side-by-side evaluation and compilation speed of kalo, the peer libraries found at build time
// and the same expressions compiled as C++ ("native", the physical reference).
//
// For each row of an expression list every engine compiles the row once; then, repeat after
// repeat, each engine in turn evaluates it many times while the variable `a` changes every
// iteration (so nothing can be hoisted out of the loop) and the results are summed. The median
// of the repeats is reported: the machine is shared and noisy, and engines are interleaved within
// a repeat so that noise falls on all of them alike. Only ratios from one run mean anything.
// Every engine's result is checked against native on sample points; a mismatch is reported.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/peers/expression_set.h"
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

namespace {

using kalo::bench::ExpressionRow;
using kalo::bench::ExpressionSet;
using kalo::bench::VARIABLE_COUNT;
using kalo::bench::VARIABLE_NAMES;
using Clock = std::chrono::steady_clock;

constexpr double INITIAL_VALUES[VARIABLE_COUNT] = {
    1.1, 2.2, 3.3, 2.123456, 3.123456, 4.123456, 5.123456, 3.141592653589793, 2.718281828459045};

// `a` cycles through these values, the same for every engine.
constexpr int A_COUNT = 1024;
constexpr int A_MASK = A_COUNT - 1;
double aValues[A_COUNT];
constexpr int SAMPLE_POINTS[] = {0, 1, 333, 1023};
constexpr double TOLERANCE = 1e-10;  // relative; rounding of rewritten powers stays far below it

enum EngineId { NATIVE, KALO, MUPARSER, FPARSER, MATHEVAL, ENGINE_COUNT };
constexpr const char* ENGINE_NAMES[ENGINE_COUNT] = {"native", "kalo", "muparser", "fparser",
                                                    "matheval"};

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// --- Engines: each compiles a row, sets `a`, evaluates, and times "text to first result" ---

class NativeEngine {
 public:
  bool Compile(const ExpressionRow& row, std::string* /*problem*/) {
    function_ = row.native;
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values_);
    return true;
  }
  void SetA(double a) { values_[0] = a; }
  double Evaluate() { return function_(values_); }
  long long Failures() const { return 0; }

 private:
  kalo::bench::NativeFunction function_ = nullptr;
  double values_[VARIABLE_COUNT] = {};
};

constexpr const char* KALO_VARIABLES = "a b c x y z w pi e R";
constexpr int KALO_RESULT = VARIABLE_COUNT;

class KaloEngine {
 public:
  KaloEngine() = default;
  KaloEngine(const KaloEngine&) = delete;
  KaloEngine& operator=(const KaloEngine&) = delete;
  ~KaloEngine() { KaloDestroyExpression(handle_); }

  bool Compile(const ExpressionRow& row, std::string* problem) {
    int code = 0;
    char text[512] = "";
    handle_ = KaloParseExpression(row.kalo, KALO_VARIABLES, &code, text);
    if (handle_ == nullptr) *problem = std::string("kalo: ") + text;
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values_);
    return handle_ != nullptr;
  }
  void SetA(double a) { values_[0] = a; }
  // A failed evaluation (a math error) yields 0 and is counted.
  double Evaluate() {
    if (KaloEvalExpression(handle_, values_) != 0) return values_[KALO_RESULT];
    ++failures_;
    return 0.0;
  }
  long long Failures() const { return failures_; }

  static double CompileToFirstResult(const ExpressionRow& row) {
    double values[VARIABLE_COUNT + 1];
    std::copy(INITIAL_VALUES, INITIAL_VALUES + VARIABLE_COUNT, values);
    values[KALO_RESULT] = 0.0;
    void* handle = KaloParseExpression(row.kalo, KALO_VARIABLES, nullptr, nullptr);
    KaloEvalExpression(handle, values);
    KaloDestroyExpression(handle);
    return values[KALO_RESULT];
  }

 private:
  void* handle_ = nullptr;
  double values_[VARIABLE_COUNT + 1] = {};
  long long failures_ = 0;
};

#ifdef KALO_BENCH_HAVE_MUPARSER
// One Parser with the variables bound to a host array; a host that recompiles calls SetExpr.
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
  void SetA(double a) { values_[0] = a; }
  double Evaluate() { return parser_.Eval(); }
  long long Failures() const { return 0; }

  double CompileToFirstResult(const ExpressionRow& row) {
    parser_.SetExpr(row.muparser);
    return parser_.Eval();
  }

 private:
  mu::Parser parser_;
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
  void SetA(double a) { values_[0] = a; }
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
    for (int i = 0; i < count_ && i < VARIABLE_COUNT; ++i) {
      for (int v = 0; v < VARIABLE_COUNT; ++v) {
        if (std::strcmp(names_[i], VARIABLE_NAMES[v]) != 0) continue;
        values_[i] = INITIAL_VALUES[v];
        if (v == 0) aIndex_ = i;
      }
    }
    return true;
  }
  void SetA(double a) { values_[aIndex_] = a; }
  double Evaluate() { return evaluator_evaluate(evaluator_, count_, names_, values_); }
  long long Failures() const { return 0; }

  static double CompileToFirstResult(const ExpressionRow& row) {
    std::string text = row.matheval;
    void* evaluator = evaluator_create(&text[0]);
    char** names = nullptr;
    int count = 0;
    evaluator_get_variables(evaluator, &names, &count);
    double values[VARIABLE_COUNT] = {};
    for (int i = 0; i < count && i < VARIABLE_COUNT; ++i)
      for (int v = 0; v < VARIABLE_COUNT; ++v)
        if (std::strcmp(names[i], VARIABLE_NAMES[v]) == 0) values[i] = INITIAL_VALUES[v];
    const double result = evaluator_evaluate(evaluator, count, names, values);
    evaluator_destroy(evaluator);
    return result;
  }

 private:
  void* evaluator_ = nullptr;
  char** names_ = nullptr;
  int count_ = 0;
  // An expression without `a` gets a dummy slot past the names it uses.
  double values_[VARIABLE_COUNT + 1] = {};
  int aIndex_ = VARIABLE_COUNT;
};
#endif

// --- Measurement ---

struct Options {
  const char* set = "bench_expr";
  long long maxIterations = 2000000;
  long long minIterations = 20000;
  double repeatSeconds = 0.02;  // per engine and repeat
  int repeats = 5;
  int compileRepeats = 5;
  int compilesPerRepeat = 20;
  const char* markdownPath = nullptr;
  const char* csvPath = nullptr;
  bool list = false;
  bool quiet = false;
};

struct Cell {
  bool present = false;      // the engine can express the row and compiled it
  double evalNs = 0.0;       // median over repeats
  double compileNs = 0.0;    // median over repeats
  long long failures = 0;    // evaluations that reported an error (kalo)
  int mismatches = 0;        // sample points that differ from native
  std::string mismatchText;  // the first one
  double checksum = 0.0;
};

struct RowResult {
  const ExpressionRow* row;
  Cell cells[ENGINE_COUNT];
  std::string problems;
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : 0.5 * (values[n / 2 - 1] + values[n / 2]);
}

template <class Engine>
double TimeEvaluations(Engine& engine, long long iterations, double* checksum) {
  double sum = 0.0;
  const Clock::time_point start = Clock::now();
  for (long long i = 0; i < iterations; ++i) {
    engine.SetA(aValues[i & A_MASK]);
    sum += engine.Evaluate();
  }
  const Clock::time_point stop = Clock::now();
  *checksum += sum;
  return Seconds(stop - start) * 1e9 / static_cast<double>(iterations);
}

// Picks an iteration count that makes one repeat last about options.repeatSeconds.
template <class Engine>
long long Calibrate(Engine& engine, const Options& options, double* checksum) {
  const double ns = TimeEvaluations(engine, 2000, checksum);
  const double wanted = options.repeatSeconds * 1e9 / std::max(ns, 0.1);
  return std::clamp(static_cast<long long>(wanted), options.minIterations, options.maxIterations);
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
void CheckSamples(Engine& engine, NativeEngine& native, Cell* cell, bool countsFailures) {
  for (int point : SAMPLE_POINTS) {
    native.SetA(aValues[point]);
    engine.SetA(aValues[point]);
    const double reference = native.Evaluate();
    const long long failuresBefore = engine.Failures();
    const double value = engine.Evaluate();
    const bool failed = countsFailures && engine.Failures() != failuresBefore;
    if (!failed && SameValue(value, reference)) continue;
    if (cell->mismatches++ == 0)
      cell->mismatchText = (failed ? std::string("error") : Format("%.17g", value)) + " vs " +
                           Format("%.17g", reference);
  }
}

// One engine's part of a row: compiled once, checked, then timed by the caller's repeats.
struct Slot {
  EngineId id;
  double (*timeOnce)(void* engine, long long iterations, double* checksum);
  void* engine;
  long long iterations;
  std::vector<double> samples;
};

template <class Engine>
double TimeErased(void* engine, long long iterations, double* checksum) {
  return TimeEvaluations(*static_cast<Engine*>(engine), iterations, checksum);
}

template <class Engine>
void AddSlot(std::vector<Slot>& slots, EngineId id, Engine& engine, NativeEngine& native,
             const Options& options, RowResult& result, bool countsFailures) {
  Cell& cell = result.cells[id];
  cell.present = true;
  if (id != NATIVE) CheckSamples(engine, native, &cell, countsFailures);
  const long long iterations = Calibrate(engine, options, &cell.checksum);
  slots.push_back(Slot{id, &TimeErased<Engine>, &engine, iterations, {}});
}

// Keeps the compiled results alive, so no compilation can be skipped.
volatile double compileSink = 0.0;

template <class CompileFunction>
double TimeCompiles(const Options& options, CompileFunction compile) {
  std::vector<double> samples;
  double sink = 0.0;
  for (int r = 0; r < options.compileRepeats; ++r) {
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < options.compilesPerRepeat; ++i) sink += compile();
    samples.push_back(Seconds(Clock::now() - start) * 1e9 / options.compilesPerRepeat);
  }
  compileSink = compileSink + sink;
  return Median(samples);
}

RowResult MeasureRow(const ExpressionRow& row, const Options& options) {
  RowResult result{&row, {}, {}};
  std::vector<Slot> slots;
  std::string problem;

  NativeEngine native;
  native.Compile(row, &problem);
  AddSlot(slots, NATIVE, native, native, options, result, false);

  KaloEngine kalo;
  if (kalo.Compile(row, &problem)) {
    AddSlot(slots, KALO, kalo, native, options, result, true);
    result.cells[KALO].compileNs =
        TimeCompiles(options, [&row] { return KaloEngine::CompileToFirstResult(row); });
  } else {
    result.problems += problem + "; ";
  }
#ifdef KALO_BENCH_HAVE_MUPARSER
  MuparserEngine muparser;
  if (row.muparser != nullptr && muparser.Compile(row, &problem)) {
    AddSlot(slots, MUPARSER, muparser, native, options, result, false);
    MuparserEngine compiler;
    result.cells[MUPARSER].compileNs =
        TimeCompiles(options, [&] { return compiler.CompileToFirstResult(row); });
  } else if (row.muparser != nullptr) {
    result.problems += problem + "; ";
  }
#endif
#ifdef KALO_BENCH_HAVE_FPARSER
  FparserEngine fparser;
  if (row.fparser != nullptr && fparser.Compile(row, &problem)) {
    AddSlot(slots, FPARSER, fparser, native, options, result, false);
    FparserEngine compiler;
    result.cells[FPARSER].compileNs =
        TimeCompiles(options, [&] { return compiler.CompileToFirstResult(row); });
  } else if (row.fparser != nullptr) {
    result.problems += problem + "; ";
  }
#endif
#ifdef KALO_BENCH_HAVE_MATHEVAL
  MathevalEngine matheval;
  if (row.matheval != nullptr && matheval.Compile(row, &problem)) {
    AddSlot(slots, MATHEVAL, matheval, native, options, result, false);
    result.cells[MATHEVAL].compileNs =
        TimeCompiles(options, [&row] { return MathevalEngine::CompileToFirstResult(row); });
  } else if (row.matheval != nullptr) {
    result.problems += problem + "; ";
  }
#endif

  for (int r = 0; r < options.repeats; ++r)
    for (Slot& slot : slots)
      slot.samples.push_back(
          slot.timeOnce(slot.engine, slot.iterations, &result.cells[slot.id].checksum));
  for (Slot& slot : slots) result.cells[slot.id].evalNs = Median(slot.samples);
  result.cells[KALO].failures = kalo.Failures();
  return result;
}

// --- Report ---

bool Compiled(EngineId id) {
  switch (id) {
    case NATIVE:
    case KALO: return true;
#ifdef KALO_BENCH_HAVE_MUPARSER
    case MUPARSER: return true;
#endif
#ifdef KALO_BENCH_HAVE_FPARSER
    case FPARSER: return true;
#endif
#ifdef KALO_BENCH_HAVE_MATHEVAL
    case MATHEVAL: return true;
#endif
    default: return false;
  }
}

std::vector<EngineId> EnginesBuilt() {
  std::vector<EngineId> engines;
  for (int id = 0; id < ENGINE_COUNT; ++id)
    if (Compiled(static_cast<EngineId>(id))) engines.push_back(static_cast<EngineId>(id));
  return engines;
}

std::vector<EngineId> Peers() {
  std::vector<EngineId> peers;
  for (EngineId id : EnginesBuilt())
    if (id != NATIVE && id != KALO) peers.push_back(id);
  return peers;
}

bool EveryEngineRuns(const RowResult& result) {
  for (EngineId id : EnginesBuilt())
    if (!result.cells[id].present) return false;
  return true;
}

std::string Ns(const Cell& cell) { return cell.present ? Format("%.1f", cell.evalNs) : "–"; }

std::string Ratio(const Cell& top, const Cell& bottom) {
  if (!top.present || !bottom.present || bottom.evalNs <= 0.0) return "–";
  return Format("%.2f", top.evalNs / bottom.evalNs);
}

// Pipes would end the markdown cell.
std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) escaped += c == '|' ? std::string("\\|") : std::string(1, c);
  return escaped;
}

struct Mean {
  double logSum = 0.0;
  int count = 0;
  void Add(double value) {
    logSum += std::log(value);
    ++count;
  }
  double Value() const { return count == 0 ? 0.0 : std::exp(logSum / count); }
};

void WriteMarkdown(std::FILE* out, const ExpressionSet& set, const std::vector<RowResult>& rows,
                   const Options& options) {
  const std::vector<EngineId> engines = EnginesBuilt();
  const std::vector<EngineId> peers = Peers();

  // Summary first: the headline.
  Mean evalMeans[ENGINE_COUNT], compileMeans[ENGINE_COUNT];
  Mean kaloAll, nativeAll;
  int commonRows = 0, commonMismatchRows = 0;
  long long kaloFailures = 0;
  for (const RowResult& result : rows) {
    kaloFailures += result.cells[KALO].failures;
    if (result.cells[KALO].present && result.cells[NATIVE].present) {
      kaloAll.Add(result.cells[KALO].evalNs);
      nativeAll.Add(result.cells[NATIVE].evalNs);
    }
    if (!EveryEngineRuns(result)) continue;
    ++commonRows;
    bool mismatch = false;
    for (EngineId id : engines) {
      evalMeans[id].Add(result.cells[id].evalNs);
      if (id != NATIVE) compileMeans[id].Add(result.cells[id].compileNs);
      mismatch |= result.cells[id].mismatches != 0;
    }
    commonMismatchRows += mismatch ? 1 : 0;
  }

  std::fprintf(out, "## Set `%s`: %zu rows (%d lines of the list dropped)\n\n", set.name,
               rows.size(), set.dropped);
  std::fprintf(out, "Engines built in: ");
  for (EngineId id : engines) std::fprintf(out, "%s ", ENGINE_NAMES[id]);
  std::fprintf(out,
               "\\\nEvaluation: median of %d repeats; each repeat runs %lld to %lld evaluations "
               "(about %.0f ms per engine), `a` changing every iteration.\\\n"
               "Compilation (text to first result): median of %d repeats of %d compilations.\n\n",
               options.repeats, options.minIterations, options.maxIterations,
               options.repeatSeconds * 1e3, options.compileRepeats, options.compilesPerRepeat);

  std::fprintf(out, "### Geometric means over the %d rows every engine runs\n\n", commonRows);
  std::fprintf(
      out, "| engine | ns/eval | × native | kalo/engine | compile µs | kalo/engine (compile) |\n");
  std::fprintf(out, "|---|---:|---:|---:|---:|---:|\n");
  const double nativeMean = evalMeans[NATIVE].Value();
  const double kaloMean = evalMeans[KALO].Value();
  const double kaloCompile = compileMeans[KALO].Value();
  for (EngineId id : engines) {
    const double mean = evalMeans[id].Value();
    const std::string compile = id == NATIVE ? "–" : Format("%.2f", compileMeans[id].Value() / 1e3);
    const std::string compileRatio =
        id == NATIVE ? "–" : Format("%.2f", kaloCompile / compileMeans[id].Value());
    std::fprintf(out, "| %s | %.1f | %.2f | %.2f | %s | %s |\n", ENGINE_NAMES[id], mean,
                 mean / nativeMean, kaloMean / mean, compile.c_str(), compileRatio.c_str());
  }
  std::fprintf(out,
               "\nkalo over all %d rows it runs: %.1f ns/eval against native's %.1f, "
               "kalo/native %.2f.\\\n",
               kaloAll.count, kaloAll.Value(), nativeAll.Value(),
               nativeAll.Value() > 0 ? kaloAll.Value() / nativeAll.Value() : 0.0);
  std::fprintf(out,
               "Rows of the common set with a mismatch against native: %d. kalo evaluations that "
               "reported an error: %lld.\n\n",
               commonMismatchRows, kaloFailures);

  // Per-row evaluation table.
  std::fprintf(out, "### Evaluation, ns per evaluation (median)\n\n| # | expression |");
  for (EngineId id : engines) std::fprintf(out, " %s |", ENGINE_NAMES[id]);
  std::fprintf(out, " kalo/native |");
  for (EngineId id : peers) std::fprintf(out, " kalo/%s |", ENGINE_NAMES[id]);
  std::fprintf(out, " checks | notes |\n|---:|---|");
  for (size_t i = 0; i < engines.size() + 1 + peers.size(); ++i) std::fprintf(out, "---:|");
  std::fprintf(out, "---|---|\n");
  int number = 0;
  for (const RowResult& result : rows) {
    std::fprintf(out, "| %d | `%s` |", number++, Escape(result.row->source).c_str());
    for (EngineId id : engines) std::fprintf(out, " %s |", Ns(result.cells[id]).c_str());
    std::fprintf(out, " %s |", Ratio(result.cells[KALO], result.cells[NATIVE]).c_str());
    for (EngineId id : peers)
      std::fprintf(out, " %s |", Ratio(result.cells[KALO], result.cells[id]).c_str());
    std::string checks;
    for (EngineId id : engines) {
      const Cell& cell = result.cells[id];
      if (cell.mismatches != 0)
        checks += std::string(ENGINE_NAMES[id]) + " " + std::to_string(cell.mismatches) + "/" +
                  std::to_string(std::size(SAMPLE_POINTS)) + ": " + cell.mismatchText + "; ";
      if (cell.failures != 0)
        checks += std::string(ENGINE_NAMES[id]) + " " + std::to_string(cell.failures) + " errors; ";
    }
    std::string notes = result.row->notes != nullptr ? result.row->notes : "";
    if (!EveryEngineRuns(result)) notes = "not in the means; " + notes;
    notes += result.problems;
    std::fprintf(out, " %s | %s |\n", checks.empty() ? "ok" : Escape(checks).c_str(),
                 Escape(notes).c_str());
  }

  // Compilation table.
  std::fprintf(out,
               "\n### Compilation, µs from text to first result (median)\n\n| # | expression |");
  for (EngineId id : engines)
    if (id != NATIVE) std::fprintf(out, " %s |", ENGINE_NAMES[id]);
  for (EngineId id : peers) std::fprintf(out, " kalo/%s |", ENGINE_NAMES[id]);
  std::fprintf(out, "\n|---:|---|");
  for (size_t i = 0; i < engines.size() - 1 + peers.size(); ++i) std::fprintf(out, "---:|");
  std::fprintf(out, "\n");
  number = 0;
  for (const RowResult& result : rows) {
    std::fprintf(out, "| %d | `%s` |", number++, Escape(result.row->source).c_str());
    for (EngineId id : engines) {
      if (id == NATIVE) continue;
      const Cell& cell = result.cells[id];
      std::fprintf(out, " %s |", cell.present ? Format("%.2f", cell.compileNs / 1e3).c_str() : "–");
    }
    for (EngineId id : peers) {
      const Cell& kalo = result.cells[KALO];
      const Cell& peer = result.cells[id];
      std::fprintf(out, " %s |",
                   kalo.present && peer.present
                       ? Format("%.2f", kalo.compileNs / peer.compileNs).c_str()
                       : "–");
    }
    std::fprintf(out, "\n");
  }
  std::fprintf(out, "\n");
}

void WriteCsv(std::FILE* out, const ExpressionSet& set, const std::vector<RowResult>& rows) {
  std::fprintf(out, "set,row,engine,eval_ns,compile_ns,failures,mismatches,expression\n");
  int number = 0;
  for (const RowResult& result : rows) {
    for (EngineId id : EnginesBuilt()) {
      const Cell& cell = result.cells[id];
      if (!cell.present) continue;
      std::fprintf(out, "%s,%d,%s,%.3f,%.1f,%lld,%d,\"%s\"\n", set.name, number, ENGINE_NAMES[id],
                   cell.evalNs, cell.compileNs, cell.failures, cell.mismatches, result.row->source);
    }
    ++number;
  }
}

void Usage() {
  std::fprintf(stderr,
               "usage: kalo_peers [--set NAME] [--list] [--repeats N] [--repeat-ms MS]\n"
               "                  [--max-iterations N] [--compile-repeats N] [--compiles N]\n"
               "                  [--markdown FILE] [--csv FILE] [--quiet]\n"
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
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage();
    return 2;
  }
  int setCount = 0;
  const ExpressionSet* sets = kalo::bench::ExpressionSets(&setCount);
  const ExpressionSet* set = nullptr;
  for (int i = 0; i < setCount; ++i)
    if (std::strcmp(sets[i].name, options.set) == 0) set = &sets[i];
  if (options.list || set == nullptr) {
    if (set == nullptr && !options.list) std::fprintf(stderr, "no set named %s\n", options.set);
    for (int i = 0; i < setCount; ++i)
      std::fprintf(stderr, "%s: %d rows\n", sets[i].name, sets[i].count);
    return options.list ? 0 : 2;
  }

  for (int i = 0; i < A_COUNT; ++i) aValues[i] = INITIAL_VALUES[0] + i * 1e-6;

  std::vector<RowResult> results;
  for (int i = 0; i < set->count; ++i) {
    results.push_back(MeasureRow(set->rows[i], options));
    if (!options.quiet) {
      const RowResult& r = results.back();
      std::fprintf(stderr, "[%d/%d] %-40.40s native %.1f kalo %.1f ns\n", i + 1, set->count,
                   set->rows[i].source, r.cells[NATIVE].evalNs, r.cells[KALO].evalNs);
    }
  }

  std::FILE* out = stdout;
  if (options.markdownPath != nullptr) out = std::fopen(options.markdownPath, "w");
  if (out == nullptr) {
    std::perror(options.markdownPath);
    return 1;
  }
  WriteMarkdown(out, *set, results, options);
  if (out != stdout) std::fclose(out);
  if (options.csvPath != nullptr) {
    std::FILE* csv = std::fopen(options.csvPath, "w");
    if (csv == nullptr) {
      std::perror(options.csvPath);
      return 1;
    }
    WriteCsv(csv, *set, results);
    std::fclose(csv);
  }
  return 0;
}
