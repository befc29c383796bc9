#include "expression/operations.h"

#include "common/ascii.h"

namespace kalo {

const OperationInfo* FindBuiltinFunction(const char* name, int length) {
  for (CodeWord op = OP_FIRST_BUILTIN; op <= OP_LAST; ++op)
    if (EqualsIgnoringCase(name, length, InfoOf(op).name)) return &InfoOf(op);
  return nullptr;
}

int EnumBuiltinFunctions(KaloEnumCallback callback, long userValue) {
  if (callback == nullptr) return BUILTIN_COUNT;
  int result = 0;
  for (CodeWord op = OP_FIRST_BUILTIN; op <= OP_LAST; ++op) {
    const OperationInfo& row = InfoOf(op);
    result = callback(row.name, row.operandCount, row.description, userValue);
    if (result == 0) break;
  }
  return result;
}

}  // namespace kalo
