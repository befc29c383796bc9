// The line-by-line calculator: each line is an equation over the variables defined so far, and
// assigning to a new name defines it. A line that does not start with "name =" is shorthand for
// "ans = <line>", so "X <= 3" asks a question instead of failing. The words help, quit and exit
// alone on a line are commands.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/console.h"
#include "tools/equation.h"
#include "tools/modes.h"
#include "tools/numbers.h"
#include "tools/reporting.h"

namespace kalo::cli {

namespace {

// Every name defined is declared to every equation, and the library takes at most 100.
constexpr size_t MAX_NAMES = 100;

const char HELP[] =
    "Each line is an equation:  R = 2*sin(0.5) + 1  defines R, which later lines can use.\n"
    "A line without \"name =\" is kept in ans:  R*2  or  R <= 3  (1 true, 0 false).\n"
    "Up to 100 names; assigning to a defined name changes it. Lines starting with # are\n"
    "skipped. kalo --functions lists the functions. quit, exit or Ctrl-D ends; Ctrl-C clears\n"
    "the line being typed; the arrow keys edit it and go through earlier lines.\n";

std::string Number(double value) {
  char number[NUMBER_TEXT_SIZE];
  return std::string(number, FormatNumber(value, number));
}

class Calculator {
 public:
  explicit Calculator(KAL_ANGULAR_UNITS angularUnits) : units(angularUnits) {}

  // Compiles and runs one line. A bad line prints the library's text and changes nothing.
  void Enter(const std::string& line) {
    std::string text = AssignedName(line).empty() ? "ans = " + line : line;
    std::string assigned(AssignedName(text));
    size_t slot = 0;
    while (slot < names.size() && !SameName(names[slot], assigned)) ++slot;
    std::string list;
    for (const std::string& name : names) list += name + " ";
    std::vector<double> trial = values;
    if (slot == names.size() && !assigned.empty()) {
      if (names.size() == MAX_NAMES) {
        Complain("no room for the new name " + assigned + ": all " + std::to_string(MAX_NAMES) +
                 " names are in use; assign to one of them instead (help lists them)");
        return;
      }
      list += assigned + " ";
      trial.push_back(0);
    }
    DeclareKnownConstants(text, assigned, &list, &trial);

    Equation equation;
    if (!equation.Compile(text, list)) {
      std::fprintf(stderr, "%s\n", equation.Error().c_str());
      return;
    }
    equation.SetUnits(units);
    if (!equation.Evaluate(trial.data())) {
      std::fprintf(stderr, "%s\n", equation.Error().c_str());
      return;
    }
    if (slot == names.size()) {
      names.push_back(assigned);
      values.push_back(0);
    }
    values[slot] = trial[slot];
    std::printf("%s = %s\n", names[slot].c_str(), Number(values[slot]).c_str());
  }

  // pi and e, as extra variables of this line only, where it reads them and no name has them.
  void DeclareKnownConstants(const std::string& text, const std::string& assigned,
                             std::string* list, std::vector<double>* trial) const {
    for (const std::string& used : NamesUsed(text)) {
      double value = 0;
      if (SameName(used, assigned) || !FindKnownConstant(used, &value)) continue;
      if (std::none_of(names.begin(), names.end(),
                       [&](const std::string& name) { return SameName(name, used); })) {
        *list += used + " ";
        trial->push_back(value);
      }
    }
  }

  // The help text, then the names defined with their values, wrapped to fit a terminal.
  void Help() const {
    std::string defined = "Defined:", line;
    for (size_t i = 0; i < names.size(); ++i) {
      std::string entry =
          " " + names[i] + " = " + Number(values[i]) + (i + 1 < names.size() ? "," : "");
      if (line.size() + entry.size() > 80) {
        defined += line + "\n ";
        line.clear();
      }
      line += entry;
    }
    std::printf("%s%s%s\n", HELP, defined.c_str(), names.empty() ? " none yet" : line.c_str());
  }

 private:
  KAL_ANGULAR_UNITS units;
  std::vector<std::string> names;
  std::vector<double> values;
};

}  // namespace

int RunCalculator(const Options& options, bool prompt) {
  if (prompt) {
    std::printf(
        "kalo calculator: one equation per line, such as  R = 2*sin(0.5) + 1\n"
        "Names defined stay defined; help explains, quit or Ctrl-D ends.\n");
  }
  Calculator calculator(options.units);
  LineReader reader(prompt, prompt ? HistoryPath(".kalo_history") : "");
  std::string line;
  LineStatus status;
  while ((status = reader.Read("> ", line)) != LineStatus::END) {
    if (status == LineStatus::CANCELLED) {
      std::printf("\n");
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::string word = LowerCase(line.substr(first, line.find_last_not_of(" \t") + 1 - first));
    if (word == "quit" || word == "exit") break;
    if (word == "help") {
      calculator.Help();
    } else {
      calculator.Enter(line);
    }
    std::fflush(stdout);
  }
  if (prompt && status == LineStatus::END) std::printf("\n");
  return std::fflush(stdout) == 0 ? 0 : EXIT_IO_ERROR;
}

}  // namespace kalo::cli
