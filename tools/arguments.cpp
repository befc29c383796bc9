#include "tools/arguments.h"

#include <cmath>
#include <string_view>

#include "tools/equation.h"
#include "tools/numbers.h"

namespace kalo::cli {

const char USAGE_LINE[] =
    "usage: kalo [options] EQUATION... [NAME=VALUE...] | kalo --csv FILE EQUATION... | kalo "
    "--sweep NAME=FROM:TO:STEP EQUATION... | kalo --help";

const char HELP_TEXT[] =
    "kalo: compile equations once and evaluate them over values, tables and sweeps.\n"
    "\n"
    "  kalo 'Z = 2*sin(X) + Y/3' X=0.5 Y=6        one evaluation: prints Z = 2.958851077208406\n"
    "  kalo '1+2'                                a bare expression prints its value: 3\n"
    "  kalo --csv data.csv 'Power = Volts*Amps'  every row of a table (- reads standard input)\n"
    "  kalo --sweep X=0:20:0.1 'Y = j0(X)'        a table of X and Y (repeat for a grid)\n"
    "  kalo                                      a line-by-line calculator on a terminal\n"
    "\n"
    "Several equations run in order, each over the results of those before it; in a table each\n"
    "one replaces its column or appends a new one. Arguments NAME=NUMBER give values; with --csv\n"
    "and --sweep they are constants. pi and e are known unless a column or variable has the name.\n"
    "\n"
    "Options:\n"
    "  --csv FILE          evaluate every row; the header names the variables\n"
    "  --tsv               the table's fields are separated by tabs\n"
    "  -d, --delimiter C   the table's fields are separated by the character C\n"
    "  --no-header         the table has no header row: its columns are c1, c2, ...\n"
    "  -o, --output FILE   write the table to FILE, which changes only when the run succeeds\n"
    "  --on-error MODE     a row that cannot be evaluated: stop (default), skip or empty\n"
    "  --sweep N=A:B:STEP  evaluate for N = A, A+STEP, ... up to B\n"
    "  --plot FILE.svg     draw the sweep as an SVG chart (- draws it on the terminal);\n"
    "                      the table is then written only with -o\n"
    "  --digits N          print N significant digits (default: the shortest exact text)\n"
    "  --vars 'X Y Z'      declare the variables of a single evaluation explicitly\n"
    "  --degrees, --grads, --radians   angular unit of the trigonometric functions\n"
    "  -i, --interactive   run the calculator even when standard input is not a terminal\n"
    "  --functions         list the functions\n"
    "  -h, --help          show this text\n"
    "  --version           show the version\n"
    "\n"
    "Column names: a header is read as a name by turning every character other than a letter,\n"
    "digit or underscore into _ and putting _ before a leading digit: 'Temp C' is Temp_C, 2019 is\n"
    "_2019. The output keeps the header as written.\n"
    "\n"
    "Exit status: 0 success, 1 an equation does not compile, 2 math error, 64 usage error,\n"
    "65 bad input data, 66 input cannot be opened, 73 output cannot be created, 74 I/O error.\n";

namespace {

bool ReadValue(std::string_view text, std::string_view what, double& value, std::string& error) {
  NumberRead read = ReadNumber(text, value);
  if (read == NumberRead::OK) return true;
  error = "'" + std::string(text) + "' in '" + std::string(what) +
          (read == NumberRead::OUT_OF_RANGE ? "' is out of range" : "' is not a number");
  return false;
}

// After the first equation an argument NAME=VALUE gives a value when VALUE starts like a
// number; anything else is one more equation.
bool IsAssignment(std::string_view text) {
  size_t equals = text.find('=');
  if (equals == std::string_view::npos || !IsIdentifier(text.substr(0, equals))) return false;
  std::string_view value = text.substr(equals + 1);
  size_t first = value.find_first_not_of(" \t");
  if (first == std::string_view::npos) return true;
  double ignored;
  return std::string_view("0123456789.+-").find(value[first]) != std::string_view::npos ||
         ReadNumber(value, ignored) == NumberRead::OK;
}

bool AddAssignment(std::string_view text, Options& options, std::string& error) {
  size_t equals = text.find('=');
  Assignment assignment{std::string(text.substr(0, equals)), 0};
  if (!ReadValue(text.substr(equals + 1), text, assignment.value, error)) return false;
  options.assignments.push_back(assignment);
  return true;
}

bool AddSweep(Options& options, std::string_view text, std::string& error) {
  error = "--sweep wants NAME=FROM:TO:STEP, not '" + std::string(text) + "'";
  size_t equals = text.find('=');
  if (equals == std::string_view::npos || !IsIdentifier(text.substr(0, equals))) return false;
  std::string_view range = text.substr(equals + 1);
  size_t colon1 = range.find(':');
  size_t colon2 = colon1 == std::string_view::npos ? colon1 : range.find(':', colon1 + 1);
  if (colon2 == std::string_view::npos) return false;
  Sweep sweep{std::string(text.substr(0, equals)), std::string(range.substr(0, colon1)),
              std::string(range.substr(colon1 + 1, colon2 - colon1 - 1)),
              std::string(range.substr(colon2 + 1))};
  double from, to, step;
  if (!ReadValue(sweep.fromText, text, from, error) || !ReadValue(sweep.toText, text, to, error) ||
      !ReadValue(sweep.stepText, text, step, error)) {
    return false;
  }
  if (!std::isfinite(from) || !std::isfinite(to) || !std::isfinite(step)) return false;
  if (step == 0 || (to - from) / step < 0) {
    error = "--sweep " + std::string(text) + ": the step must lead from " + sweep.fromText +
            " to " + sweep.toText;
    return false;
  }
  options.sweeps.push_back(sweep);
  return true;
}

bool SetOnError(Options& options, std::string_view text, std::string& error) {
  constexpr std::string_view POLICIES[] = {"stop", "skip", "empty"};
  for (OnError policy : {OnError::STOP, OnError::SKIP, OnError::EMPTY}) {
    if (text == POLICIES[static_cast<int>(policy)]) {
      options.onError = policy;
      return true;
    }
  }
  error = "--on-error takes stop, skip or empty, not '" + std::string(text) + "'";
  return false;
}

bool SetDigits(Options& options, std::string_view text, std::string& error) {
  double digits = 0;
  if (!ParseNumber(text, digits) || digits != std::floor(digits) || digits < 1 ||
      digits > MAX_DIGITS) {
    error = "--digits takes a whole number from 1 to 17, not '" + std::string(text) + "'";
    return false;
  }
  options.digits = static_cast<int>(digits);
  return true;
}

bool SetDelimiter(Options& options, std::string_view text, std::string& error) {
  if (text.size() != 1 || text[0] == '"' || text[0] == '\n' || text[0] == '\r') {
    error = "--delimiter takes one character other than a quote or line end, not '" +
            std::string(text) + "'";
    return false;
  }
  options.delimiter = text[0];
  return true;
}

using Apply = bool (*)(Options& options, std::string_view value, std::string& error);

struct OptionRow {
  std::string_view shortName;  // empty when there is none
  std::string_view longName;
  bool takesValue;
  Apply apply;
};

// clang-format off
const OptionRow OPTIONS[] = {
  {"",   "--csv",         true,  [](Options& o, std::string_view v, std::string&) { o.inputPath = v; return true; }},
  {"-o", "--output",      true,  [](Options& o, std::string_view v, std::string&) { o.outputPath = v; return true; }},
  {"",   "--plot",        true,  [](Options& o, std::string_view v, std::string&) { o.plotPath = v; return true; }},
  {"",   "--on-error",    true,  SetOnError},
  {"",   "--sweep",       true,  AddSweep},
  {"",   "--vars",        true,  [](Options& o, std::string_view v, std::string&) { o.variableList = v; o.hasVariableList = true; return true; }},
  {"",   "--digits",      true,  SetDigits},
  {"-d", "--delimiter",   true,  SetDelimiter},
  {"",   "--tsv",         false, [](Options& o, std::string_view, std::string&) { o.delimiter = '\t'; return true; }},
  {"",   "--no-header",   false, [](Options& o, std::string_view, std::string&) { o.noHeader = true; return true; }},
  {"",   "--degrees",     false, [](Options& o, std::string_view, std::string&) { o.units = KAL_DEGREES; return true; }},
  {"",   "--grads",       false, [](Options& o, std::string_view, std::string&) { o.units = KAL_GRADS; return true; }},
  {"",   "--radians",     false, [](Options& o, std::string_view, std::string&) { o.units = KAL_RADIANS; return true; }},
  {"-i", "--interactive", false, [](Options& o, std::string_view, std::string&) { o.interactive = true; return true; }},
  {"",   "--functions",   false, [](Options& o, std::string_view, std::string&) { o.mode = Mode::FUNCTIONS; return true; }},
  {"",   "--version",     false, [](Options& o, std::string_view, std::string&) { o.mode = Mode::VERSION; return true; }},
  {"-h", "--help",        false, [](Options& o, std::string_view, std::string&) { o.mode = Mode::HELP; return true; }},
};
// clang-format on

const OptionRow* FindOption(std::string_view name) {
  for (const OptionRow& row : OPTIONS) {
    if (name == row.longName || (!row.shortName.empty() && name == row.shortName)) return &row;
  }
  return nullptr;
}

// One option at argv[i], which may take the next argument as its value. --name=value is the
// same as --name value.
bool ApplyOption(int argc, char** argv, int& i, Options& options, std::string& error) {
  std::string_view arg = argv[i];
  std::string_view name = arg;
  size_t equals = arg.find('=');
  bool attached = arg.substr(0, 2) == "--" && equals != std::string_view::npos;
  if (attached) name = arg.substr(0, equals);
  const OptionRow* row = FindOption(name);
  if (row == nullptr || (attached && !row->takesValue)) {
    error = "unknown option '" + std::string(arg) + "'";
    return false;
  }
  std::string_view value;
  if (attached) {
    value = arg.substr(equals + 1);
  } else if (row->takesValue) {
    if (i + 1 >= argc) {
      error = std::string(name) + " needs a value";
      return false;
    }
    value = argv[++i];
  }
  return row->apply(options, value, error);
}

// The mode the options ask for, or false with the reason they do not fit together.
bool ChooseMode(bool inputIsTerminal, Options& options, std::string& error) {
  error.clear();
  bool table = !options.inputPath.empty();
  bool sweep = !options.sweeps.empty();
  bool hasEquation = !options.equations.empty();
  if (table && sweep) {
    error = "--csv and --sweep cannot be used together";
  } else if (options.hasVariableList && (table || sweep)) {
    error = "--vars is for a single evaluation; --csv and --sweep declare their own variables";
  } else if (!options.outputPath.empty() && !table && !sweep) {
    error = "-o writes tables; it needs --csv or --sweep";
  } else if (!options.plotPath.empty() && !sweep) {
    error = "--plot draws a sweep; it needs --sweep";
  } else if (options.interactive && (hasEquation || table || sweep)) {
    error = "--interactive takes no equation, --csv or --sweep";
  } else if (!hasEquation && (table || sweep)) {
    error = "missing the equation, such as 'Power = Volts*Amps'";
  } else if (!hasEquation && !options.interactive && !inputIsTerminal) {
    error = "missing the equation (or --interactive to read equations from standard input)";
  }
  if (!error.empty()) return false;
  options.mode = !hasEquation ? Mode::CALCULATOR
                 : table      ? Mode::TABLE
                 : sweep      ? Mode::SWEEP
                              : Mode::SINGLE;
  return true;
}

}  // namespace

bool ParseArguments(int argc, char** argv, bool inputIsTerminal, Options& options,
                    std::string& error) {
  constexpr Mode UNCHOSEN = Mode::SINGLE;
  options.mode = UNCHOSEN;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && arg.size() >= 2 && arg[0] == '-') {
      if (!ApplyOption(argc, argv, i, options, error)) return false;
    } else if (!options.equations.empty() && IsAssignment(arg)) {
      if (!AddAssignment(arg, options, error)) return false;
    } else {
      options.equations.emplace_back(arg);
    }
  }
  // --help, --version and --functions answer whatever else is given.
  if (options.mode != UNCHOSEN) return true;
  return ChooseMode(inputIsTerminal, options, error);
}

}  // namespace kalo::cli
