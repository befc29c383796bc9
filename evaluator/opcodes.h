// The postfix program: one 32-bit CodeWord per operand, operation or host-function call.
//
//   31            16 15 14 13                        0
//  +----------------+--+--+---------------------------+
//  |   always 0     | 1| x|     ValuePool slot        |   operand: push pool[slot]
//  |   always 0     | 0| 1|     registry index        |   call of a registered host function
//  |   always 0     | 0| 0|     operation 100..146    |   operator or built-in function
//  +----------------+--+--+---------------------------+
//
// Words are decoded in that order, so a word with bits 15 and 14 both set is an operand.
#pragma once

#include <cstdint>

namespace kalo {

using CodeWord = uint32_t;

constexpr CodeWord OPERAND_BIT = 0x8000;
constexpr CodeWord USER_CALL_BIT = 0x4000;

constexpr bool IsOperand(CodeWord word) { return (word & OPERAND_BIT) != 0; }
constexpr bool IsUserCall(CodeWord word) { return !IsOperand(word) && (word & USER_CALL_BIT) != 0; }
constexpr int OperandSlot(CodeWord word) { return static_cast<int>(word & ~OPERAND_BIT); }
constexpr int UserCallIndex(CodeWord word) { return static_cast<int>(word & ~USER_CALL_BIT); }
constexpr CodeWord MakeOperand(int slot) { return OPERAND_BIT + static_cast<CodeWord>(slot); }
constexpr CodeWord MakeUserCall(int index) { return USER_CALL_BIT + static_cast<CodeWord>(index); }

// Registry indices must stay clear of the operand bit.
constexpr int MAX_USER_FUNCTIONS = 0x4000;

// Operations: the operators, then the built-in functions (evaluator/builtins.h) in one dense
// range, so the interpreter dispatches on (code - OP_FIRST).
enum Operation : CodeWord {
  OP_NEG = 100,    // X -> -X
  OP_ADD = 101,    // X Y -> X + Y
  OP_SUB = 102,    // X Y -> X - Y
  OP_MUL = 103,    // X Y -> X * Y
  OP_DIV = 104,    // X Y -> X / Y  (0 / 0 computed as 1 / Y)
  OP_AND = 105,    // X Y -> int(X) & int(Y)
  OP_OR = 106,     // X Y -> int(X) | int(Y)
  OP_NOT = 107,    // X -> ~int(X)
  OP_XOR = 108,    // X Y -> int(X) ^ int(Y)
  OP_EQ = 109,     // X Y -> NearlyEqual(X, Y) ? -1 : 0
  OP_NE = 110,     // X Y -> NearlyEqual(X, Y) ? 0 : -1
  OP_LT = 111,     // X Y -> X < Y ? -1 : 0
  OP_LE = 112,     // X Y -> X <= Y ? -1 : 0
  OP_GT = 113,     // X Y -> X > Y ? -1 : 0
  OP_GE = 114,     // X Y -> X >= Y ? -1 : 0
  OP_ACOS = 115,   // X -> FromRadians(acos X)
  OP_ASIN = 116,   // X -> FromRadians(asin X)
  OP_ATAN = 117,   // X -> FromRadians(atan X)
  OP_CEIL = 118,   // X -> ceil X
  OP_COS = 119,    // X -> cos ToRadians(X)
  OP_COSH = 120,   // X -> cosh ToRadians(X)
  OP_EXP = 121,    // X -> exp X
  OP_FABS = 122,   // X -> |X|
  OP_FLOOR = 123,  // X -> floor X
  OP_LN = 124,     // X -> log X
  OP_LOG10 = 125,  // X -> log10 X
  OP_SIN = 126,    // X -> sin ToRadians(X)
  OP_SINH = 127,   // X -> sinh ToRadians(X)
  OP_SQRT = 128,   // X -> sqrt X
  OP_TAN = 129,    // X -> tan ToRadians(X)
  OP_TANH = 130,   // X -> tanh ToRadians(X)
  OP_J0 = 131,     // X -> j0 X
  OP_J1 = 132,     // X -> j1 X
  OP_Y0 = 133,     // X -> y0 X
  OP_Y1 = 134,     // X -> y1 X
  OP_RANDU = 135,  // X -> X * uniform [0, 1)
  OP_D2R = 136,    // X -> X * pi / 180
  OP_R2D = 137,    // X -> X * 180 / pi
  OP_ATAN2 = 138,  // X Y -> FromRadians(atan2(X, Y))
  OP_FMOD = 139,   // X Y -> fmod(X, Y)
  OP_POW = 140,    // X Y -> pow(X, Y)
  OP_MAX = 141,    // X Y -> X > Y ? X : Y
  OP_MIN = 142,    // X Y -> X < Y ? X : Y
  OP_JN = 143,     // X Y -> jn(trunc X, Y)
  OP_YN = 144,     // X Y -> yn(trunc X, Y)
  OP_RANDN = 145,  // X Y -> approximately normal, mean X, deviation Y
  OP_IF = 146,     // X Y Z -> X != 0 ? Y : Z
};

constexpr CodeWord OP_FIRST = OP_NEG;
constexpr CodeWord OP_LAST_OPERATOR = OP_GE;
constexpr CodeWord OP_FIRST_BUILTIN = OP_ACOS;
constexpr CodeWord OP_LAST = OP_IF;
constexpr int OPERATION_COUNT = OP_LAST - OP_FIRST + 1;

constexpr bool IsOperation(CodeWord word) { return word >= OP_FIRST && word <= OP_LAST; }

// How many values an operation takes from the stack.
constexpr int OperandCount(CodeWord op) {
  if (op == OP_NEG || op == OP_NOT) return 1;
  if (op <= OP_LAST_OPERATOR) return 2;
  if (op <= OP_R2D) return 1;
  return op == OP_IF ? 3 : 2;
}

}  // namespace kalo
