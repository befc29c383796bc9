#include "tools/arguments.h"

#include <cmath>
#include <string_view>

#include "tools/equation.h"
#include "tools/numbers.h"

namespace kalo::cli {

const char USAGE_LINE[] =
    "usage: kalo [options] EQUATION [NAME=VALUE...] | kalo --csv FILE EQUATION | kalo --sweep "
    "NAME=FROM:TO:STEP EQUATION | kalo --help";

const char HELP_TEXT[] =
    "kalo: compile an equation once and evaluate it over values, tables and sweeps.\n"
    "\n"
    "  kalo 'Z = 2*sin(X) + Y/3' X=0.5 Y=6        one evaluation: prints Z = 2.958851077208406\n"
    "  kalo --csv data.csv 'Power = Volts*Amps'  every row of a table (- reads standard input)\n"
    "  kalo --sweep X=0:20:0.1 'Y = j0(X)'        a table of X and Y (repeat for a grid)\n"
    "  kalo                                      a line-by-line calculator on a terminal\n"
    "\n"
    "Options:\n"
    "  --csv FILE          evaluate every row; the header names the variables; the assigned\n"
    "                      column is replaced, or appended when it is new\n"
    "  -o, --output FILE   write the table to FILE instead of standard output\n"
    "  --on-error MODE     a row that cannot be evaluated: stop (default), skip or empty\n"
    "  --sweep N=A:B:STEP  evaluate for N = A, A+STEP, ... up to B\n"
    "  --vars 'X Y Z'      declare the variables of a single evaluation explicitly\n"
    "  --degrees, --grads, --radians   angular unit of the trigonometric functions\n"
    "  -i, --interactive   run the calculator even when standard input is not a terminal\n"
    "  --functions         list the built-in functions\n"
    "  -h, --help          show this text\n"
    "  --version           show the version\n"
    "\n"
    "NAME=VALUE arguments give values to variables; with --csv and --sweep they are constants.\n"
    "Exit status: 0 success, 1 the equation does not compile, 2 math error, 64 usage error,\n"
    "65 bad input data, 66 input cannot be opened, 73 output cannot be created, 74 I/O error.\n";

namespace {

bool ParseAssignment(std::string_view text, Assignment& assignment, std::string& error) {
  size_t equals = text.find('=');
  std::string_view name = text.substr(0, equals);
  if (equals == std::string_view::npos || !IsIdentifier(name)) {
    error = "'" + std::string(text) + "' is not NAME=VALUE";
    return false;
  }
  std::string_view value = text.substr(equals + 1);
  if (!ParseNumber(value, assignment.value)) {
    error = "'" + std::string(value) + "' in '" + std::string(text) + "' is not a number";
    return false;
  }
  assignment.name = std::string(name);
  return true;
}

bool ParseSweep(std::string_view text, Sweep& sweep, std::string& error) {
  error = "--sweep wants NAME=FROM:TO:STEP, not '" + std::string(text) + "'";
  size_t equals = text.find('=');
  if (equals == std::string_view::npos || !IsIdentifier(text.substr(0, equals))) return false;
  std::string_view range = text.substr(equals + 1);
  size_t colon1 = range.find(':');
  size_t colon2 = colon1 == std::string_view::npos ? colon1 : range.find(':', colon1 + 1);
  if (colon2 == std::string_view::npos) return false;
  sweep.name = std::string(text.substr(0, equals));
  sweep.fromText = std::string(range.substr(0, colon1));
  sweep.toText = std::string(range.substr(colon1 + 1, colon2 - colon1 - 1));
  sweep.stepText = std::string(range.substr(colon2 + 1));
  if (!ParseNumber(sweep.fromText, sweep.from) || !ParseNumber(sweep.toText, sweep.to) ||
      !ParseNumber(sweep.stepText, sweep.step) || !std::isfinite(sweep.from) ||
      !std::isfinite(sweep.to) || !std::isfinite(sweep.step)) {
    return false;
  }
  if (sweep.step == 0 || (sweep.to - sweep.from) / sweep.step < 0) {
    error = "--sweep " + std::string(text) + ": the step must lead from " + sweep.fromText +
            " to " + sweep.toText;
    return false;
  }
  return true;
}

bool ParseOnError(std::string_view text, OnError& onError) {
  if (text == "stop")
    onError = OnError::STOP;
  else if (text == "skip")
    onError = OnError::SKIP;
  else if (text == "empty")
    onError = OnError::EMPTY;
  else
    return false;
  return true;
}

}  // namespace

bool ParseArguments(int argc, char** argv, bool inputIsTerminal, Options& options,
                    std::string& error) {
  bool hasEquation = false;
  bool interactive = false;
  bool functions = false;
  bool help = false;
  bool version = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      if (!hasEquation) {
        options.equation = std::string(arg);
        hasEquation = true;
        continue;
      }
      Assignment assignment;
      if (!ParseAssignment(arg, assignment, error)) return false;
      options.assignments.push_back(assignment);
      continue;
    }
    // --name=value is the same as --name value.
    std::string_view name = arg;
    std::string_view attached;
    bool hasAttached = false;
    if (size_t equals = arg.find('=');
        arg.substr(0, 2) == "--" && equals != std::string_view::npos) {
      name = arg.substr(0, equals);
      attached = arg.substr(equals + 1);
      hasAttached = true;
    }
    auto value = [&](std::string_view& out) {
      if (hasAttached) {
        out = attached;
        return true;
      }
      if (i + 1 >= argc) {
        error = std::string(name) + " needs a value";
        return false;
      }
      out = argv[++i];
      return true;
    };
    std::string_view text;
    if (name == "--") {
      optionsEnded = true;
    } else if (name == "--csv") {
      if (!value(text)) return false;
      options.inputPath = std::string(text);
    } else if (name == "-o" || name == "--output") {
      if (!value(text)) return false;
      options.outputPath = std::string(text);
    } else if (name == "--on-error") {
      if (!value(text)) return false;
      if (!ParseOnError(text, options.onError)) {
        error = "--on-error takes stop, skip or empty, not '" + std::string(text) + "'";
        return false;
      }
    } else if (name == "--sweep") {
      if (!value(text)) return false;
      Sweep sweep;
      if (!ParseSweep(text, sweep, error)) return false;
      options.sweeps.push_back(sweep);
    } else if (name == "--vars") {
      if (!value(text)) return false;
      options.variableList = std::string(text);
      options.hasVariableList = true;
    } else if (name == "--degrees" && !hasAttached) {
      options.units = KAL_DEGREES;
    } else if (name == "--grads" && !hasAttached) {
      options.units = KAL_GRADS;
    } else if (name == "--radians" && !hasAttached) {
      options.units = KAL_RADIANS;
    } else if ((name == "-i" || name == "--interactive") && !hasAttached) {
      interactive = true;
    } else if (name == "--functions" && !hasAttached) {
      functions = true;
    } else if ((name == "-h" || name == "--help") && !hasAttached) {
      help = true;
    } else if (name == "--version" && !hasAttached) {
      version = true;
    } else {
      error = "unknown option '" + std::string(arg) + "'";
      return false;
    }
  }

  if (help || version || functions) {
    options.mode = help ? Mode::HELP : version ? Mode::VERSION : Mode::FUNCTIONS;
    return true;
  }
  bool table = !options.inputPath.empty();
  bool sweep = !options.sweeps.empty();
  if (table && sweep) {
    error = "--csv and --sweep cannot be used together";
    return false;
  }
  if (options.hasVariableList && (table || sweep)) {
    error = "--vars is for a single evaluation; --csv and --sweep declare their own variables";
    return false;
  }
  if (!options.outputPath.empty() && !table && !sweep) {
    error = "-o writes tables; it needs --csv or --sweep";
    return false;
  }
  if (interactive && (hasEquation || table || sweep)) {
    error = "--interactive takes no equation, --csv or --sweep";
    return false;
  }
  if (!hasEquation) {
    if (table || sweep) {
      error = "missing the equation, such as 'Power = Volts*Amps'";
      return false;
    }
    if (!interactive && !inputIsTerminal) {
      error = "missing the equation (or --interactive to read equations from standard input)";
      return false;
    }
    options.mode = Mode::CALCULATOR;
    return true;
  }
  options.mode = table ? Mode::TABLE : sweep ? Mode::SWEEP : Mode::SINGLE;
  return true;
}

}  // namespace kalo::cli
