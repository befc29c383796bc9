// kalo_peers' output: markdown tables for people, CSV per row and engine, JSON headline numbers
// for bench/results.py.
#include <cstdio>
#include <string>
#include <vector>

#include "bench/peers/measurement.h"

namespace kalo::bench {
namespace {

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
#ifdef KALO_BENCH_HAVE_EXPRTK
    case EXPRTK: return true;
#endif
#ifdef KALO_BENCH_HAVE_TINYEXPR
    case TINYEXPR: return true;
#endif
    default: return false;
  }
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

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// What one table shows of a cell: one-call ns, columns ns per row, or compilation µs.
using Measure = double (*)(const Cell& cell);
double EvalNs(const Cell& cell) { return cell.evalNs; }
double ColumnNs(const Cell& cell) { return cell.columnNs; }
double CompileUs(const Cell& cell) { return cell.compileNs / 1e3; }

std::string Value(const Cell& cell, Measure measure, const char* format) {
  return cell.present ? Format(format, measure(cell)) : "–";
}

std::string Ratio(const Cell& top, const Cell& bottom, Measure measure) {
  if (!top.present || !bottom.present || measure(bottom) <= 0.0) return "–";
  return Format("%.2f", measure(top) / measure(bottom));
}

// Pipes would end the markdown cell.
std::string Escape(const std::string& text) {
  std::string escaped;
  for (char c : text) escaped += c == '|' ? std::string("\\|") : std::string(1, c);
  return escaped;
}

// Geometric means over the rows every engine runs, per engine and measure.
struct Means {
  Mean eval[ENGINE_COUNT], column[ENGINE_COUNT], compile[ENGINE_COUNT];
  Mean kaloAll, nativeAll;
  int commonRows = 0, mismatchRows = 0;
  long long kaloFailures = 0;
};

Means ComputeMeans(const std::vector<RowResult>& rows) {
  Means means;
  for (const RowResult& result : rows) {
    means.kaloFailures += result.cells[KALO].failures;
    if (result.cells[KALO].present) {
      means.kaloAll.Add(result.cells[KALO].evalNs);
      means.nativeAll.Add(result.cells[NATIVE].evalNs);
    }
    if (!EveryEngineRuns(result)) continue;
    ++means.commonRows;
    bool mismatch = false;
    for (EngineId id : EnginesBuilt()) {
      const Cell& cell = result.cells[id];
      means.eval[id].Add(cell.evalNs);
      means.column[id].Add(cell.columnNs);
      if (id != NATIVE) means.compile[id].Add(cell.compileNs);
      mismatch |= cell.mismatches != 0 || cell.columnMismatches != 0;
    }
    means.mismatchRows += mismatch ? 1 : 0;
  }
  return means;
}

void WriteMeans(std::FILE* out, const Means& means) {
  std::fprintf(out, "### Geometric means over the %d rows every engine runs\n\n", means.commonRows);
  std::fprintf(out,
               "| engine | one call ns | × native | kalo/engine | columns: how | ns/row | × C++ "
               "loop | kalo/engine | compile µs | kalo/engine |\n");
  std::fprintf(out, "|---|---:|---:|---:|---|---:|---:|---:|---:|---:|\n");
  const double eval[] = {means.eval[NATIVE].Value(), means.eval[KALO].Value()};
  const double column[] = {means.column[NATIVE].Value(), means.column[KALO].Value()};
  const double kaloCompile = means.compile[KALO].Value();
  for (EngineId id : EnginesBuilt()) {
    const double e = means.eval[id].Value(), c = means.column[id].Value();
    const double compile = means.compile[id].Value();
    std::fprintf(out, "| %s | %.1f | %.2f | %.2f | %s | %.2f | %.2f | %.2f | %s | %s |\n",
                 ENGINE_NAMES[id], e, e / eval[0], eval[1] / e, COLUMN_MODES[id], c, c / column[0],
                 column[1] / c, id == NATIVE ? "–" : Format("%.2f", compile / 1e3).c_str(),
                 id == NATIVE ? "–" : Format("%.2f", kaloCompile / compile).c_str());
  }
  std::fprintf(out,
               "\nkalo over all %d rows it runs: %.1f ns per call against native's %.1f, "
               "kalo/native %.2f.\\\n",
               means.kaloAll.count, means.kaloAll.Value(), means.nativeAll.Value(),
               means.nativeAll.Value() > 0 ? means.kaloAll.Value() / means.nativeAll.Value() : 0.0);
  std::fprintf(out,
               "Rows of the common set with a mismatch against native: %d. kalo evaluations that "
               "reported an error: %lld.\n\n",
               means.mismatchRows, means.kaloFailures);
}

void WriteFixed(std::FILE* out, const RowResult& fixed) {
  const Cell& native = fixed.cells[NATIVE];
  const Cell& kalo = fixed.cells[KALO];
  std::fprintf(out, "### Fixed cost of a call: `Y = X`\n\n");
  std::fprintf(out,
               "kalo `Y = X` (declaring X and Y only) costs %.1f ns per call against %.1f ns for "
               "the C++ function call that returns X: **%.1f ns of fixed cost per call**, with the "
               "timing loop summing the results as every one-call loop here does (that addition "
               "is inexact, so the host's inexact flag is set at every call, as a host's own "
               "arithmetic would set it). The peers evaluate `a` over their usual bindings.\n\n",
               kalo.evalNs, native.evalNs, kalo.evalNs - native.evalNs);
  std::fprintf(out,
               "With no floating-point arithmetic in the host's loop between two calls (the "
               "results combined as bit patterns, so the host's sticky flags stay as kalo leaves "
               "them): kalo %.1f ns against %.1f ns, **%.1f ns**.\n\n",
               kalo.cleanFlagsNs, native.cleanFlagsNs, kalo.cleanFlagsNs - native.cleanFlagsNs);
  std::fprintf(out, "| engine | one call ns | minus C++ call | columns ns/row |\n");
  std::fprintf(out, "|---|---:|---:|---:|\n");
  for (EngineId id : EnginesBuilt()) {
    const Cell& cell = fixed.cells[id];
    if (!cell.present) continue;
    std::fprintf(out, "| %s | %.1f | %.1f | %.2f |\n", ENGINE_NAMES[id], cell.evalNs,
                 cell.evalNs - native.evalNs, cell.columnNs);
  }
  std::fprintf(out, "\n");
}

std::string Checks(const RowResult& result) {
  std::string checks;
  for (EngineId id : EnginesBuilt()) {
    const Cell& cell = result.cells[id];
    const std::string name = ENGINE_NAMES[id];
    if (cell.mismatches != 0)
      checks += name + " " + std::to_string(cell.mismatches) + "/" + std::to_string(SAMPLE_COUNT) +
                ": " + cell.mismatchText + "; ";
    if (cell.columnMismatches != 0)
      checks += name + " columns: " + std::to_string(cell.columnMismatches) + " rows differ; ";
    if (cell.failures != 0) checks += name + " " + std::to_string(cell.failures) + " errors; ";
  }
  return checks.empty() ? "ok" : checks;
}

// One row per expression: each engine's value, then kalo/native and kalo/peer ratios; the
// evaluation table adds the checks and notes.
void WriteRows(std::FILE* out, const char* title, const std::vector<RowResult>& rows,
               Measure measure, const char* format, bool withChecks) {
  std::vector<EngineId> engines = EnginesBuilt();
  if (measure == CompileUs) engines.erase(engines.begin());  // native compiles nothing
  const std::vector<EngineId> peers = Peers();
  std::fprintf(out, "### %s\n\n| # | expression |", title);
  for (EngineId id : engines) std::fprintf(out, " %s |", ENGINE_NAMES[id]);
  if (measure != CompileUs) std::fprintf(out, " kalo/native |");
  for (EngineId id : peers) std::fprintf(out, " kalo/%s |", ENGINE_NAMES[id]);
  std::fprintf(out, withChecks ? " checks | notes |\n|---:|---|" : "\n|---:|---|");
  const size_t numbers = engines.size() + peers.size() + (measure != CompileUs ? 1 : 0);
  for (size_t i = 0; i < numbers; ++i) std::fprintf(out, "---:|");
  std::fprintf(out, withChecks ? "---|---|\n" : "\n");
  int number = 0;
  for (const RowResult& result : rows) {
    std::fprintf(out, "| %d | `%s` |", number++, Escape(result.row->source).c_str());
    for (EngineId id : engines)
      std::fprintf(out, " %s |", Value(result.cells[id], measure, format).c_str());
    if (measure != CompileUs)
      std::fprintf(out, " %s |", Ratio(result.cells[KALO], result.cells[NATIVE], measure).c_str());
    for (EngineId id : peers)
      std::fprintf(out, " %s |", Ratio(result.cells[KALO], result.cells[id], measure).c_str());
    if (withChecks) {
      std::string notes = result.row->notes != nullptr ? result.row->notes : "";
      if (!EveryEngineRuns(result)) notes = "not in the means; " + notes;
      notes += result.problems;
      std::fprintf(out, " %s | %s |", Escape(Checks(result)).c_str(), Escape(notes).c_str());
    }
    std::fprintf(out, "\n");
  }
  std::fprintf(out, "\n");
}

}  // namespace

std::vector<EngineId> EnginesBuilt() {
  std::vector<EngineId> engines;
  for (int id = 0; id < ENGINE_COUNT; ++id)
    if (Compiled(static_cast<EngineId>(id))) engines.push_back(static_cast<EngineId>(id));
  return engines;
}

void WriteMarkdown(std::FILE* out, const ExpressionSet& set, const std::vector<RowResult>& rows,
                   const RowResult& fixed, const Options& options) {
  std::fprintf(out, "## Set `%s`: %zu rows (%d lines of the list dropped)\n\n", set.name,
               rows.size(), set.dropped);
  std::fprintf(out, "Engines built in: ");
  for (EngineId id : EnginesBuilt()) std::fprintf(out, "%s ", ENGINE_NAMES[id]);
  std::fprintf(out,
               "\\\nOne call: median of %d repeats; each repeat runs %lld to %lld evaluations "
               "(about %.0f ms per engine), `a` changing every call.\\\n"
               "Columns: %ld rows per column, same repeats and duration, ns per row.\\\n"
               "Compilation (text to first result): median of %d repeats of %d compilations.\n\n",
               options.repeats, options.minIterations, options.maxIterations,
               options.repeatSeconds * 1e3, COLUMN_ROWS, options.compileRepeats,
               options.compilesPerRepeat);
  WriteMeans(out, ComputeMeans(rows));
  WriteFixed(out, fixed);
  WriteRows(out, "One call, ns per evaluation (median)", rows, EvalNs, "%.1f", true);
  WriteRows(out, "Columns, ns per row (median)", rows, ColumnNs, "%.2f", false);
  WriteRows(out, "Compilation, µs from text to first result (median)", rows, CompileUs, "%.2f",
            false);
}

void WriteCsv(std::FILE* out, const ExpressionSet& set, const std::vector<RowResult>& rows) {
  std::fprintf(out,
               "set,row,engine,eval_ns,column_ns,compile_ns,failures,mismatches,column_mismatches,"
               "expression\n");
  int number = 0;
  for (const RowResult& result : rows) {
    for (EngineId id : EnginesBuilt()) {
      const Cell& cell = result.cells[id];
      if (!cell.present) continue;
      std::fprintf(out, "%s,%d,%s,%.3f,%.3f,%.1f,%lld,%d,%d,\"%s\"\n", set.name, number,
                   ENGINE_NAMES[id], cell.evalNs, cell.columnNs, cell.compileNs, cell.failures,
                   cell.mismatches, cell.columnMismatches, result.row->source);
    }
    ++number;
  }
}

void WriteJson(std::FILE* out, const ExpressionSet& set, const std::vector<RowResult>& rows,
               const RowResult& fixed) {
  const Means means = ComputeMeans(rows);
  std::fprintf(out,
               "{\"set\": \"%s\", \"rows\": %zu, \"commonRows\": %d, \"mismatchRows\": %d, "
               "\"kaloFailures\": %lld, \"columnRows\": %ld,\n \"engines\": {",
               set.name, rows.size(), means.commonRows, means.mismatchRows, means.kaloFailures,
               COLUMN_ROWS);
  const char* separator = "";
  for (EngineId id : EnginesBuilt()) {
    const Cell& cell = fixed.cells[id];
    std::fprintf(out,
                 "%s\n  \"%s\": {\"evalNs\": %.4g, \"columnNs\": %.4g, \"compileUs\": %.4g, "
                 "\"fixedNs\": %.4g, \"fixedColumnNs\": %.4g, \"fixedCleanFlagsNs\": %.4g}",
                 separator, ENGINE_NAMES[id], means.eval[id].Value(), means.column[id].Value(),
                 means.compile[id].Value() / 1e3, cell.evalNs, cell.columnNs, cell.cleanFlagsNs);
    separator = ",";
  }
  std::fprintf(out, "}}\n");
}

}  // namespace kalo::bench
