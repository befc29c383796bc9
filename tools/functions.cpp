#include "tools/functions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <kalo.h>

#include "tools/equation.h"
#include "tools/reporting.h"

namespace kalo::cli {

namespace {

struct HostRow {
  const char* name;
  int parameterCount;
  double (*compute)(const double* arguments);
  const char* description;
};

double Sign(double x) { return x > 0 ? 1 : x < 0 ? -1 : x; }

// clang-format off
const HostRow HOST_FUNCTIONS[] = {
  {"abs",   1, [](const double* a) { return std::fabs(a[0]); },        "Absolute value"},
  {"log",   1, [](const double* a) { return std::log(a[0]); },         "Natural logarithm"},
  {"log2",  1, [](const double* a) { return std::log2(a[0]); },        "Base-2 logarithm"},
  {"round", 1, [](const double* a) { return std::round(a[0]); },       "Nearest integer, halves away from zero"},
  {"trunc", 1, [](const double* a) { return std::trunc(a[0]); },       "Integer part, toward zero"},
  {"sign",  1, [](const double* a) { return Sign(a[0]); },             "-1, 0 or 1 by the sign"},
  {"hypot", 2, [](const double* a) { return std::hypot(a[0], a[1]); }, "Square root of X*X + Y*Y"},
  {"cbrt",  1, [](const double* a) { return std::cbrt(a[0]); },        "Cube root"},
};
// clang-format on

struct FunctionRow {
  std::string name;
  int parameterCount;
  std::string description;
};

// The enumeration callback's user value is a long, too narrow for a pointer on 64-bit Windows;
// the rows gather here instead.
std::vector<FunctionRow> builtins;
std::vector<const HostRow*> registered;

int AddBuiltin(const char* name, int parameterCount, const char* description, long /*user*/) {
  builtins.push_back({name, parameterCount, description != nullptr ? description : ""});
  return 1;
}

const std::vector<FunctionRow>& Builtins() {
  if (builtins.empty()) KaloEnumFunctions(AddBuiltin, 0);
  return builtins;
}

bool IsBuiltin(std::string_view name) {
  for (const FunctionRow& row : Builtins()) {
    if (SameName(row.name, name)) return true;
  }
  return false;
}

// The code the library gives a NaN result of its own functions, as in sqrt(-1).
constexpr int NAN_RESULT = 205;

int CallHost(double* arguments, double* result, long index) {
  const HostRow& row = HOST_FUNCTIONS[index];
  *result = row.compute(arguments);
  bool fromNumbers = std::none_of(arguments, arguments + row.parameterCount,
                                  [](double x) { return std::isnan(x); });
  return std::isnan(*result) && fromNumbers ? NAN_RESULT : 0;
}

}  // namespace

void RegisterHostFunctions() {
  for (const HostRow& row : HOST_FUNCTIONS) {
    if (IsBuiltin(row.name)) continue;
    auto index = static_cast<long>(&row - HOST_FUNCTIONS);
    if (KaloRegisterFunction(row.name, row.parameterCount, CallHost, index) != 0) {
      registered.push_back(&row);
    }
  }
}

bool IsFunctionName(std::string_view name) {
  if (IsBuiltin(name)) return true;
  for (const HostRow* row : registered) {
    if (SameName(row->name, name)) return true;
  }
  return false;
}

int ListFunctions() {
  std::printf("%-8s %s  %s\n", "name", "arguments", "description");
  for (const FunctionRow& row : Builtins()) {
    std::printf("%-8s %9d  %s\n", row.name.c_str(), row.parameterCount, row.description.c_str());
  }
  std::printf("\nAdded by the kalo command:\n");
  for (const HostRow* row : registered) {
    std::printf("%-8s %9d  %s\n", row->name, row->parameterCount, row->description);
  }
  return FinishOutput(stdout);
}

}  // namespace kalo::cli
