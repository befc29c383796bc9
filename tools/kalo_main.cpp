// kalo: the command-line host of the library. It reaches the library only through <kalo.h>.
#include <cstdio>
#include <string>
#include <vector>

#include <kalo.h>

#include "tools/arguments.h"
#include "tools/console.h"
#include "tools/equation.h"
#include "tools/modes.h"
#include "tools/numbers.h"
#include "tools/reporting.h"

namespace kalo::cli {

int RunSingle(const Options& options) {
  std::string assigned(AssignedName(options.equation));
  std::vector<std::string> names;
  std::vector<double> values;
  auto find = [&names](const std::string& name) {
    size_t i = 0;
    while (i < names.size() && !SameName(names[i], name)) ++i;
    return i;
  };
  if (options.hasVariableList) {
    // Split the list as the library does, on blanks, to place each NAME=VALUE.
    size_t at = 0;
    const std::string& list = options.variableList;
    while ((at = list.find_first_not_of(" \t\r\n\v\f", at)) != std::string::npos) {
      size_t end = list.find_first_of(" \t\r\n\v\f", at);
      names.push_back(list.substr(at, end - at));
      at = end;
    }
    values.assign(names.size(), 0);
    for (const Assignment& given : options.assignments) {
      size_t slot = find(given.name);
      if (slot == names.size()) {
        return UsageError(given.name + " is not among --vars '" + options.variableList + "'");
      }
      values[slot] = given.value;
    }
  } else {
    for (const Assignment& given : options.assignments) {
      if (find(given.name) != names.size()) return UsageError(given.name + " is given twice");
      names.push_back(given.name);
      values.push_back(given.value);
    }
    if (!assigned.empty() && find(assigned) == names.size()) {
      names.push_back(assigned);
      values.push_back(0);
    }
  }

  std::string list = options.hasVariableList ? options.variableList : "";
  if (!options.hasVariableList) {
    for (const std::string& name : names) list += name + " ";
  }
  Equation equation;
  if (!equation.Compile(options.equation, list)) {
    Complain(equation.Error());
    return EXIT_COMPILE_ERROR;
  }
  size_t slot = find(assigned);
  if (slot == names.size()) {
    Complain("cannot tell which variable the equation assigns");
    return EXIT_COMPILE_ERROR;
  }
  equation.SetUnits(options.units);
  if (!equation.Evaluate(values.data())) {
    Complain(equation.Error());
    return EXIT_MATH_ERROR;
  }
  char number[NUMBER_TEXT_SIZE];
  std::printf("%s = %.*s\n", assigned.c_str(),
              static_cast<int>(FormatNumber(values[slot], number) - number), number);
  return std::fflush(stdout) == 0 ? 0 : EXIT_IO_ERROR;
}

namespace {

struct FunctionRow {
  std::string name;
  int parameterCount;
  std::string description;
};

// The enumeration callback's user value is a long, too narrow for a pointer on 64-bit Windows;
// the rows gather here instead.
std::vector<FunctionRow> functionRows;

int AddFunctionRow(const char* name, int parameterCount, const char* description,
                   long /*userValue*/) {
  functionRows.push_back({name, parameterCount, description != nullptr ? description : ""});
  return 1;
}

}  // namespace

int ListFunctions() {
  KaloEnumFunctions(AddFunctionRow, 0);
  std::printf("%-8s %s  %s\n", "name", "arguments", "description");
  for (const FunctionRow& row : functionRows) {
    std::printf("%-8s %9d  %s\n", row.name.c_str(), row.parameterCount, row.description.c_str());
  }
  return std::fflush(stdout) == 0 ? 0 : EXIT_IO_ERROR;
}

}  // namespace kalo::cli

int main(int argc, char** argv) {
  using namespace kalo::cli;
  Options options;
  std::string error;
  bool inputIsTerminal = IsTerminal(stdin);
  if (!ParseArguments(argc, argv, inputIsTerminal, options, error)) return UsageError(error);
  switch (options.mode) {
    case Mode::SINGLE: return RunSingle(options);
    case Mode::TABLE: return RunTable(options);
    case Mode::SWEEP: return RunSweep(options);
    case Mode::CALCULATOR: return RunCalculator(options, inputIsTerminal);
    case Mode::FUNCTIONS: return ListFunctions();
    case Mode::VERSION: std::printf("kalo %s\n", KALO_VERSION); return 0;
    case Mode::HELP: std::fputs(HELP_TEXT, stdout); return 0;
  }
  return 0;
}
