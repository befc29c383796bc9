// The line-by-line calculator: each line is an equation over the variables defined so far, and
// assigning to a new name defines it. A line that does not start with "name =" is shorthand for
// "ans = <line>", so "X <= 3" asks a question instead of failing.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "tools/equation.h"
#include "tools/modes.h"
#include "tools/numbers.h"

namespace kalo::cli {

namespace {

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
    if (slot == names.size() && !assigned.empty()) list += assigned;

    Equation equation;
    if (!equation.Compile(text, list)) {
      std::fprintf(stderr, "%s\n", equation.Error().c_str());
      return;
    }
    equation.SetUnits(units);
    std::vector<double> trial = values;
    trial.push_back(0);  // the new name's element, or spare
    if (!equation.Evaluate(trial.data())) {
      std::fprintf(stderr, "%s\n", equation.Error().c_str());
      return;
    }
    if (slot == names.size()) {
      names.push_back(assigned);
      values.push_back(0);
    }
    values[slot] = trial[slot];
    char number[NUMBER_TEXT_SIZE];
    std::printf("%s = %.*s\n", names[slot].c_str(),
                static_cast<int>(FormatNumber(values[slot], number) - number), number);
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
        "Names defined stay defined; Ctrl-D ends.\n");
  }
  Calculator calculator(options.units);
  std::string line;
  for (;;) {
    if (prompt) std::printf("> ");
    std::fflush(stdout);
    if (!std::getline(std::cin, line)) break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    calculator.Enter(line);
    std::fflush(stdout);
  }
  if (prompt) std::printf("\n");
  return 0;
}

}  // namespace kalo::cli
