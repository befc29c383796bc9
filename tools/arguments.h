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
};

struct Options {
  Mode mode = Mode::HELP;
  std::vector<std::string> equations;   // in the order they run
  std::vector<Assignment> assignments;  // NAME=VALUE arguments, in order
  bool hasVariableList = false;
  std::string variableList;  // --vars
  std::string inputPath;     // --csv; "-" is standard input
  std::string outputPath;    // -o; empty is standard output
  std::string plotPath;      // --plot; "-" draws on standard output
  std::vector<Sweep> sweeps;
  OnError onError = OnError::STOP;
  KAL_ANGULAR_UNITS units = KAL_RADIANS;
  int digits = 0;  // significant digits printed; 0 is the shortest that read back exactly
  char delimiter = ',';
  bool noHeader = false;
  bool interactive = false;
};

// Fills `options` from argv; on a usage fault returns false with a one-line reason in `error`.
// `inputIsTerminal` decides whether a missing equation starts the calculator.
bool ParseArguments(int argc, char** argv, bool inputIsTerminal, Options& options,
                    std::string& error);

extern const char USAGE_LINE[];
extern const char HELP_TEXT[];

}  // namespace kalo::cli
