// kalo: the command-line host of the library. It reaches the library only through <kalo.h>.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <kalo.h>

#include "tools/arguments.h"
#include "tools/console.h"
#include "tools/equation.h"
#include "tools/functions.h"
#include "tools/modes.h"
#include "tools/numbers.h"
#include "tools/reporting.h"

namespace kalo::cli {

namespace {

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [name](const std::string& known) { return SameName(known, name); });
}

// Splits --vars as the library does, on blanks.
std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> names;
  size_t at = 0;
  while ((at = list.find_first_not_of(" \t\r\n\v\f", at)) != std::string::npos) {
    size_t end = list.find_first_of(" \t\r\n\v\f", at);
    names.push_back(list.substr(at, end - at));
    at = end;
  }
  return names;
}

// The first name an equation reads before anything gave it a value: a declared variable
// without NAME=VALUE, or one that only a later equation assigns.
std::string FirstUnvalued(const Options& options, const std::vector<std::string>& declared) {
  std::vector<std::string> valued;
  for (const Assignment& given : options.assignments) valued.push_back(given.name);
  std::vector<std::string> variables = declared;
  for (const std::string& text : options.equations) variables.emplace_back(AssignedName(text));
  for (const std::string& text : options.equations) {
    for (const std::string& name : NamesUsed(text)) {
      if (!Contains(valued, name) && Contains(variables, name)) return name;
    }
    valued.emplace_back(AssignedName(text));
  }
  return {};
}

// The variables of one evaluation: --vars in its order, or the NAME=VALUE arguments in theirs.
int DeclareSingle(const Options& options, Variables& variables) {
  std::vector<std::string> declared;
  if (options.hasVariableList) declared = SplitList(options.variableList);
  for (const std::string& name : declared) variables.Declare(name, 0);
  for (const Assignment& given : options.assignments) {
    int slot = variables.Find(given.name);
    if (options.hasVariableList && slot < 0) {
      return UsageError(given.name + " is not among --vars '" + options.variableList + "'");
    }
    if (!options.hasVariableList && slot >= 0) return UsageError(given.name + " is given twice");
    if (slot < 0) {
      variables.Declare(given.name, given.value);
    } else {
      variables.SetInitial(static_cast<size_t>(slot), given.value);
    }
  }
  std::string unvalued = FirstUnvalued(options, declared);
  if (!unvalued.empty()) {
    return UsageError(unvalued + " has no value; give it one with " + unvalued + "=VALUE");
  }
  return 0;
}

}  // namespace

int RunSingle(const Options& options) {
  Variables variables;
  if (int code = DeclareSingle(options, variables); code != 0) return code;
  Program program;
  if (!program.Compile(options.equations, variables, true, options.units)) {
    Complain(program.Error());
    return EXIT_COMPILE_ERROR;
  }
  std::vector<double> values(variables.Count());
  for (size_t i = 0; i < values.size(); ++i) values[i] = variables.Initial(i);
  // Each result prints as its equation ends, so a name assigned twice shows both values.
  for (size_t k = 0; k < program.Count(); ++k) {
    if (!program.RunOne(k, values.data())) {
      Complain(program.Error());
      return EXIT_MATH_ERROR;
    }
    char number[NUMBER_TEXT_SIZE];
    std::string text(number, FormatNumber(values[program.Assigned(k)], number, options.digits));
    if (program.IsBare(k)) {
      std::printf("%s\n", text.c_str());
    } else {
      std::printf("%s = %s\n", std::string(AssignedName(options.equations[k])).c_str(),
                  text.c_str());
    }
  }
  return FinishOutput(stdout);
}

}  // namespace kalo::cli

int main(int argc, char** argv) {
  using namespace kalo::cli;
  Options options;
  std::string error;
  bool inputIsTerminal = IsTerminal(stdin);
  if (!ParseArguments(argc, argv, inputIsTerminal, options, error)) return UsageError(error);
  RegisterHostFunctions();
  switch (options.mode) {
    case Mode::SINGLE: return RunSingle(options);
    case Mode::TABLE: return RunTable(options);
    case Mode::SWEEP: return RunSweep(options);
    case Mode::CALCULATOR: return RunCalculator(options, inputIsTerminal);
    case Mode::FUNCTIONS: return ListFunctions();
    case Mode::VERSION: std::printf("kalo %s\n", KALO_VERSION); return FinishOutput(stdout);
    case Mode::HELP: std::fputs(HELP_TEXT, stdout); return FinishOutput(stdout);
  }
  return 0;
}
