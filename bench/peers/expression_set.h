// The expression lists that kalo_peers runs, each row in every engine's syntax, made at build
// time by bench/peers/translate.py together with two native C++ functions per row.
#pragma once

namespace kalo::bench {

// The order of the values every engine sees: a b c x y z w pi e, then kalo's result R.
constexpr int VARIABLE_COUNT = 9;
constexpr const char* VARIABLE_NAMES[VARIABLE_COUNT] = {"a", "b", "c",  "x", "y",
                                                        "z", "w", "pi", "e"};

using NativeFunction = double (*)(const double* values);
// The same expression as a loop over columns: columns[v] holds variable v's values.
using NativeColumns = void (*)(const double* const* columns, double* results, long rowCount);

struct ExpressionRow {
  const char* source;    // the line as the list has it
  const char* kalo;      // "R = ..."
  const char* muparser;  // null where the engine cannot express the line
  const char* fparser;
  const char* matheval;
  const char* exprtk;
  const char* tinyexpr;
  const char* notes;  // null, or why an engine is missing or may differ
  NativeFunction native;
  NativeColumns nativeColumns;
  unsigned variableMask;      // bit v: the expression uses VARIABLE_NAMES[v]
  const char* kaloVariables;  // null: "a b c x y z w pi e R"; else the list kalo declares
};

struct ExpressionSet {
  const char* name;
  const ExpressionRow* rows;
  int count;
  int dropped;  // lines of the list that no row represents
};

const ExpressionSet* ExpressionSets(int* count);

// `Y = X` as C++: returns values[0]. Out of line, so a call costs what a host's call costs.
double Identity(const double* values);
void IdentityColumns(const double* const* columns, double* results, long rowCount);

}  // namespace kalo::bench
