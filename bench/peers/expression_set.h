// The expression lists that kalo_peers runs, each row in every engine's syntax, made at build
// time by bench/peers/translate.py together with a native C++ function per row.
#pragma once

namespace kalo::bench {

// The order of the values every engine sees: a b c x y z w pi e, then kalo's result R.
constexpr int VARIABLE_COUNT = 9;
constexpr const char* VARIABLE_NAMES[VARIABLE_COUNT] = {"a", "b", "c",  "x", "y",
                                                        "z", "w", "pi", "e"};

using NativeFunction = double (*)(const double* values);

struct ExpressionRow {
  const char* source;    // the line as the list has it
  const char* kalo;      // "R = ..."
  const char* muparser;  // null where the engine cannot express the line
  const char* fparser;
  const char* matheval;
  const char* notes;  // null, or why an engine is missing or may differ
  NativeFunction native;
};

struct ExpressionSet {
  const char* name;
  const ExpressionRow* rows;
  int count;
  int dropped;  // lines of the list that no row represents
};

const ExpressionSet* ExpressionSets(int* count);

}  // namespace kalo::bench
