// The 32 built-in functions: one table that serves lookup by name, enumeration for the host and
// the names in error reports.
#pragma once

#include "evaluator/opcodes.h"
#include "include/kalo.h"

namespace kalo {

struct BuiltinFunction {
  int id;  // its operation code
  const char* name;
  int parameterCount;
  const char* description;
};

constexpr int BUILTIN_COUNT = 32;

// The row whose name is exactly the first `length` characters of `name`, ignoring case.
const BuiltinFunction* FindBuiltinFunction(const char* name, int length);

// The name and parameter count of built-in `id`; "Unknown function" and -1 for any other id.
const char* GetBuiltinName(int id, int* parameterCount);

// The walk behind KaloEnumFunctions.
int EnumBuiltinFunctions(KaloEnumCallback callback, long userValue);

}  // namespace kalo
