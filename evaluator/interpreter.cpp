// The interpreter: runs the postfix program once over a stack of doubles.
//
// Faults of kalo's own arithmetic are found the way a trapping unit would find them, but without
// traps: every exception stays masked and the SSE flags are read after each operation. The flags
// are cleared before the run; the first one found set ends it. A maths-library routine's result
// is judged by its values instead (math::LibraryFault), and the flags it raised are dropped; a
// host function's fault is read from both units' flags.
#include "common/error_codes.h"
#include "evaluator/evaluator.h"
#include "evaluator/math.h"
#include "expression/diagnostics.h"
#include "platform/platform.h"
#include "userfunc/call.h"

namespace kalo {
namespace {

using platform::FAULT_DENORMAL;
using platform::FAULT_DIVIDE_BY_ZERO;
using platform::FAULT_OVERFLOW;
using platform::FAULT_UNDERFLOW;

// A trapping unit stops at a denormal operand or a division by zero before the operation
// computes, and at an overflow or an underflow after it; so that order decides between flags.
int FaultCode(unsigned faults) {
  if (faults & FAULT_DENORMAL) return ERROR_DENORMAL;
  if (faults & FAULT_DIVIDE_BY_ZERO) return ERROR_DIVIDE_BY_ZERO;
  if (faults & FAULT_OVERFLOW) return ERROR_OVERFLOW;
  return ERROR_UNDERFLOW;
}

// Runs one operation on the top of the stack (positions 1 to *depth); a fault ends up in
// record->errorCode, and the stack is then left as it was.
void ExecuteBuiltin(CodeWord operation, double* stack, int* depth, KAL_ANGULAR_UNITS angularUnits,
                    EvalRecord* record) {
  int32_t& errorCode = record->errorCode;
  const int n = *depth;
  if (!KALO_CHECK(n >= 1, CHECK_FILE_PARSE)) {
    errorCode = ERROR_INTERNAL;
    return;
  }
  const double top = stack[n];
  const double second = n >= 2 ? stack[n - 1] : 0.0;
  const double third = n >= 3 ? stack[n - 2] : 0.0;
  record->topValue = top;
  record->nextValue = second;
  if (!KALO_CHECK(IsOperation(operation), CHECK_FILE_PARSE) ||
      !KALO_CHECK(n >= OperandCount(operation), CHECK_FILE_PARSE)) {
    errorCode = ERROR_INTERNAL;
    return;
  }
  const int count = OperandCount(operation);
  // X, Y and Z in the order the operands were written.
  double x = top, y = 0.0, z = 0.0;
  if (count == 2) x = second, y = top;
  if (count == 3) x = third, y = second, z = top;
  bool rangeFailed = false;
  const double result = math::Apply(operation, x, y, z, angularUnits, &rangeFailed);
  const int newDepth = n - count + 1;
  stack[newDepth] = result;
  if (ComputationOf(operation) == BY_LIBRARY) {
    platform::ClearSseFaults();
    if (platform::LIBRARY_USES_X87) platform::ClearX87Faults();
    errorCode = math::LibraryFault(ExactRuleOf(operation), x, y, result, rangeFailed);
    if (errorCode == ERROR_NONE) *depth = newDepth;
    return;
  }
  if (rangeFailed) errorCode = ERROR_OVERFLOW_RANGE;
  const unsigned faults = platform::ReadSseFaults() & ENDING_FAULTS;
  if (faults != 0) {
    errorCode = FaultCode(faults);
    return;
  }
  // A masked unit flags an underflow only when it is also inexact; a trapping one stops at any
  // tiny result it computes. Copying a denormal operand (negation, fabs, if) computes nothing.
  if (math::IsSubnormalBits(result) && !math::IsSubnormalBits(x) && !math::IsSubnormalBits(y) &&
      !math::IsSubnormalBits(z)) {
    errorCode = ERROR_UNDERFLOW;
    return;
  }
  if (!math::IsFiniteBits(result)) {
    errorCode = ERROR_OVERFLOW;
    return;
  }
  *depth = newDepth;
}

}  // namespace

// Positions run from 1 (bottom) to depth (top); stack[0] is unused.
bool RunProgram(const Program& program, Evaluator& evaluator, EvalRecord* record) {
  double stack[STACK_SIZE + 1];
  int depth = 0;
  platform::ClearSseFaults();
  if (UsesX87(evaluator.fast)) platform::ClearX87Faults();
  for (int i = 0; i < program.codeCount; ++i) {
    if (record->errorCode != 0) return false;
    const CodeWord word = program.code[i];
    record->lastCodeWord = word;
    if (IsOperand(word)) {
      if (depth == STACK_SIZE) {
        record->errorCode = ERROR_INTERNAL;
        return false;
      }
      stack[++depth] = evaluator.registers[OperandSlot(word)];
    } else if (IsUserCall(word)) {
      CallUserFunction(UserCallIndex(word), stack, &depth, &record->errorCode);
      // A fault inside the host's code would have trapped before it returned.
      const unsigned faults = platform::ReadFloatFaults() & ENDING_FAULTS;
      if (faults != 0) record->errorCode = FaultCode(faults);
    } else {
      ExecuteBuiltin(word, stack, &depth, evaluator.angularUnits, record);
    }
  }
  if (record->errorCode != 0) return false;
  if (depth != 1) {
    record->errorCode = ERROR_INTERNAL;
    return false;
  }
  evaluator.registers[program.assignedVariable] = stack[1];
  return true;
}

}  // namespace kalo
