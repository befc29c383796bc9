// The register form of a compiled program, derived from its code words after compilation, and
// the machine code written from it: the fast forms (evaluator.h says how they prove a run clean).
//
// The postfix code pushes every operand through a stack; the register form names registers
// instead: each operation reads its operands straight from the ValuePool, a folded constant or
// the temporary that an earlier operation wrote, and writes its own temporary. It is made only
// for programs that give the same result when run twice: no host calls, no random draws.
#pragma once

#include <cstdint>

#include "evaluator/native_code.h"
#include "expression/program.h"

namespace kalo {

// Registers: the ValuePool's slots first, then one temporary per stack position, then a register
// that always holds 0.0 (the absent operands) and one for the final result. Machine code
// (evaluator/native_code.h) also keeps the last operation's operands, a few constants and the
// values it saves across library calls here.
constexpr int POOL_REGISTERS = MAX_POOL_SLOTS;
constexpr int TEMPORARY_REGISTERS = STACK_SIZE;
constexpr int ZERO_REGISTER = POOL_REGISTERS + TEMPORARY_REGISTERS;
constexpr int RESULT_REGISTER = ZERO_REGISTER + 1;
constexpr int RECORD_TOP_REGISTER = RESULT_REGISTER + 1;
constexpr int RECORD_NEXT_REGISTER = RECORD_TOP_REGISTER + 1;
constexpr int SIGN_MASK_REGISTER = RECORD_NEXT_REGISTER + 1;
constexpr int MAGNITUDE_MASK_REGISTER = SIGN_MASK_REGISTER + 1;
constexpr int MINUS_ONE_REGISTER = MAGNITUDE_MASK_REGISTER + 1;
constexpr int ONE_REGISTER = MINUS_ONE_REGISTER + 1;
constexpr int DEGREES_TO_RADIANS_REGISTER = ONE_REGISTER + 1;
constexpr int RADIANS_TO_DEGREES_REGISTER = DEGREES_TO_RADIANS_REGISTER + 1;
constexpr int NORMAL_BASE_REGISTER = RADIANS_TO_DEGREES_REGISTER + 1;
constexpr int NORMAL_WIDTH_REGISTER = NORMAL_BASE_REGISTER + 1;
constexpr int SPILL_REGISTERS = NORMAL_WIDTH_REGISTER + 1;
constexpr int SPILL_COUNT = 16;
// Values of constant parts of the equation, folded when the register form is built.
constexpr int FOLDED_REGISTERS = SPILL_REGISTERS + SPILL_COUNT;
constexpr int FOLDED_COUNT = 64;
// Four copies of a constant each, which an AVX2 instruction reads in one go: a zero, and the
// two numbers that turn math::IsPlainResultBits into signed comparisons of 64-bit lanes.
constexpr int LANE_ZERO_REGISTERS = FOLDED_REGISTERS + FOLDED_COUNT;
constexpr int LANE_PLAIN_SHIFT_REGISTERS = LANE_ZERO_REGISTERS + 4;
constexpr int LANE_PLAIN_LIMIT_REGISTERS = LANE_PLAIN_SHIFT_REGISTERS + 4;
// The last operation's operands in the four rows of a block, as RECORD_TOP and RECORD_NEXT.
constexpr int LANE_RECORD_TOP_REGISTERS = LANE_PLAIN_LIMIT_REGISTERS + 4;
constexpr int LANE_RECORD_NEXT_REGISTERS = LANE_RECORD_TOP_REGISTERS + 4;
constexpr int REGISTER_COUNT = LANE_RECORD_NEXT_REGISTERS + 4;

// Fills the registers that hold constants.
void InitializeRegisters(double* registers);

struct RegisterOperation {
  uint16_t operation;
  uint16_t target;
  uint16_t x, y, z;  // operands in the order written; ZERO_REGISTER where there are fewer
  int16_t power;     // pow by a literal that math::MultipliedPower takes; else 0
  bool staysPlain;   // a sum that is plain or zero when its operands are: it needs no value test
};

struct RegisterForm {
  RegisterOperation operations[MAX_CODE_WORDS];
  int32_t count;
  bool usable;
  bool callsLibrary;          // whether a maths-library routine runs
  bool callsHost;             // whether a host function runs (then the register form is not usable)
  bool literalsNormalOrZero;  // every literal is normal or zero, as the value tests need
  uint16_t result;            // the register that holds the program's value
  // The operands that the last operation leaves in topValue and nextValue.
  uint16_t lastTop;
  uint16_t lastNext;
  // The variables the program reads (only they must be normal or zero for the fast forms) and
  // the one it assigns.
  int16_t readVariables[MAX_VARIABLES];
  int32_t readCount;
  int32_t assigned;
  NativeCode native;
};

}  // namespace kalo
