// What kalo_peers measures for each row and engine, shared by the measuring and the reporting code.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/peers/expression_set.h"

namespace kalo::bench {

enum EngineId { NATIVE, KALO, MUPARSER, FPARSER, MATHEVAL, EXPRTK, TINYEXPR, ENGINE_COUNT };
constexpr const char* ENGINE_NAMES[ENGINE_COUNT] = {"native",   "kalo",   "muparser", "fparser",
                                                    "matheval", "exprtk", "tinyexpr"};
// How each engine evaluates columns: the native loop, kalo's columns export, muparser's bulk
// mode, and the others one row per call.
constexpr const char* COLUMN_MODES[ENGINE_COUNT] = {"C++ loop",   "columns export", "bulk Eval",
                                                    "row by row", "row by row",     "row by row",
                                                    "row by row"};

// The values of `a` (indices into its cycle) at which every engine is checked against native.
constexpr int SAMPLE_POINTS[] = {0, 1, 333, 1023};
constexpr int SAMPLE_COUNT = static_cast<int>(sizeof SAMPLE_POINTS / sizeof SAMPLE_POINTS[0]);

// Rows per column in columns mode.
constexpr long COLUMN_ROWS = 4096;

struct Options {
  const char* set = "bench_expr";
  long long maxIterations = 2000000;
  long long minIterations = 20000;
  double repeatSeconds = 0.02;  // per engine, mode and repeat
  int repeats = 5;
  int compileRepeats = 5;
  int compilesPerRepeat = 20;
  const char* markdownPath = nullptr;
  const char* csvPath = nullptr;
  const char* jsonPath = nullptr;
  bool list = false;
  bool quiet = false;
};

struct Cell {
  bool present = false;       // the engine can express the row and compiled it
  double evalNs = 0.0;        // one call: median over repeats
  double compileNs = 0.0;     // median over repeats
  double columnNs = 0.0;      // columns: median ns per row over repeats
  double cleanFlagsNs = 0.0;  // `Y = X` only: one call with the host's flags clean between calls
  long long failures = 0;     // evaluations that reported an error (kalo)
  int mismatches = 0;         // sample points that differ from native
  std::string mismatchText;   // the first one
  int columnMismatches = 0;   // rows of the result column that differ from the C++ loop's
  double checksum = 0.0;
};

struct RowResult {
  const ExpressionRow* row;
  Cell cells[ENGINE_COUNT];
  std::string problems;
};

struct Mean {
  double logSum = 0.0;
  int count = 0;
  void Add(double value) {
    logSum += std::log(value);
    ++count;
  }
  double Value() const { return count == 0 ? 0.0 : std::exp(logSum / count); }
};

// The engines compiled into this program, native and kalo first.
std::vector<EngineId> EnginesBuilt();

// `fixed` is the `Y = X` row, measured like the others and reported on its own.
void WriteMarkdown(std::FILE* out, const ExpressionSet& set, const std::vector<RowResult>& rows,
                   const RowResult& fixed, const Options& options);
void WriteCsv(std::FILE* out, const ExpressionSet& set, const std::vector<RowResult>& rows);
// The headline numbers, for bench/results.py.
void WriteJson(std::FILE* out, const ExpressionSet& set, const std::vector<RowResult>& rows,
               const RowResult& fixed);

}  // namespace kalo::bench
