// The command line: which mode runs, over what, with which settings.
#pragma once

#include <string>
#include <vector>

#include <kalo.h>

namespace kalo::cli {

enum class Mode { SINGLE, TABLE, SWEEP, CALCULATOR, FUNCTIONS, HELP, VERSION };

// What a row (or sweep point) that cannot be evaluated does to the run.
enum class OnError { STOP, SKIP, EMPTY };

struct Assignment {
  std::string name;
  double value;
};

// NAME=FROM:TO:STEP. The texts are kept: their decimals decide how points are computed.
struct Sweep {
  std::string name;
  std::string fromText, toText, stepText;
  double from, to, step;
};

struct Options {
  Mode mode = Mode::HELP;
  std::string equation;
  std::vector<Assignment> assignments;  // NAME=VALUE arguments, in order
  bool hasVariableList = false;
  std::string variableList;  // --vars
  std::string inputPath;     // --csv; "-" is standard input
  std::string outputPath;    // -o; empty is standard output
  std::vector<Sweep> sweeps;
  OnError onError = OnError::STOP;
  KAL_ANGULAR_UNITS units = KAL_RADIANS;
};

// Fills `options` from argv; on a usage fault returns false with a one-line reason in `error`.
// `inputIsTerminal` decides whether a missing equation starts the calculator.
bool ParseArguments(int argc, char** argv, bool inputIsTerminal, Options& options,
                    std::string& error);

extern const char USAGE_LINE[];
extern const char HELP_TEXT[];

}  // namespace kalo::cli
