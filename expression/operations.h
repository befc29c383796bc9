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

#include "include/kalo.h"

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

// Operations: the operators, then the built-in functions, in one dense range, so the
// interpreter dispatches on (code - OP_FIRST). What each computes is evaluator/math.h's Apply.
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
constexpr int BUILTIN_COUNT = OP_LAST - OP_FIRST_BUILTIN + 1;

constexpr bool IsOperation(CodeWord word) { return word >= OP_FIRST && word <= OP_LAST; }

// How the evaluator computes an operation, which decides how each form may run it.
enum Computation : uint8_t {
  BY_INSTRUCTIONS,  // machine code writes it inline with its own instructions
  BY_APPLY,         // machine code calls Apply, which needs no C library routine
  BY_LIBRARY,       // a C library routine computes it, which may use the x87 unit
  BY_RANDOM_DRAWS,  // two runs differ, so only the interpreter runs it
};

// Where a C library routine's infinite or zero result is exact (a pole, an exact zero) rather
// than an overflow or an underflow (evaluator/math.h LibraryFault).
enum ExactRule : uint16_t {
  ZERO_ANYWHERE = 1 << 0,  // exact routines: fmod, floor, ceil
  ZERO_AT_X_ZERO = 1 << 1,
  ZERO_AT_X_ONE = 1 << 2,
  ZERO_AT_X_INFINITE = 1 << 3,
  ZERO_AT_Y_ZERO = 1 << 4,
  ZERO_AT_Y_INFINITE = 1 << 5,
  POLE_AT_X_ZERO = 1 << 6,
  POLE_AT_Y_ZERO = 1 << 7,
  POLE_AT_X_ZERO_Y_NEGATIVE = 1 << 8,
};

// Everything the library knows of an operation besides what it computes.
struct OperationInfo {
  Operation code;
  int operandCount;  // values it takes from the stack
  Computation computation;
  unsigned exact;           // ExactRule bits of a BY_LIBRARY routine
  const char* name;         // in error texts; an equation calls a built-in function by it
  const char* symbol;       // an operator as equations write it, for listings; null for functions
  const char* description;  // a built-in function's, for KaloEnumFunctions; null for operators
};

// One row per operation, in code order.
// clang-format off
inline constexpr OperationInfo OPERATIONS[] = {
    {OP_NEG,   1, BY_INSTRUCTIONS, 0, "Negation", "NEG", nullptr},
    {OP_ADD,   2, BY_INSTRUCTIONS, 0, "Add",      "+", nullptr},
    {OP_SUB,   2, BY_INSTRUCTIONS, 0, "Subtract", "-", nullptr},
    {OP_MUL,   2, BY_INSTRUCTIONS, 0, "Multiply", "*", nullptr},
    {OP_DIV,   2, BY_INSTRUCTIONS, 0, "Divide",   "/", nullptr},
    {OP_AND,   2, BY_APPLY, 0, "and",      "and", nullptr},
    {OP_OR,    2, BY_APPLY, 0, "or",       "or", nullptr},
    {OP_NOT,   1, BY_APPLY, 0, "not",      "not", nullptr},
    {OP_XOR,   2, BY_APPLY, 0, "xor",      "xor", nullptr},
    {OP_EQ,    2, BY_APPLY, 0, "=",        "=", nullptr},
    {OP_NE,    2, BY_APPLY, 0, "<>",       "<>", nullptr},
    {OP_LT,    2, BY_INSTRUCTIONS, 0, "<",        "<", nullptr},
    {OP_LE,    2, BY_INSTRUCTIONS, 0, "<=",       "<=", nullptr},
    {OP_GT,    2, BY_INSTRUCTIONS, 0, ">",        ">", nullptr},
    {OP_GE,    2, BY_INSTRUCTIONS, 0, ">=",       ">=", nullptr},
    {OP_ACOS,  1, BY_LIBRARY, ZERO_AT_X_ONE,
     "acos",     nullptr, "Angle (in radians) whose cosine is X"},
    {OP_ASIN,  1, BY_LIBRARY, ZERO_AT_X_ZERO,
     "asin",     nullptr, "Angle (in radians) whose sine is X"},
    {OP_ATAN,  1, BY_LIBRARY, ZERO_AT_X_ZERO,
     "atan",     nullptr, "Angle (in radians) whose tangent is X"},
    {OP_CEIL,  1, BY_LIBRARY, ZERO_ANYWHERE,
     "ceil",     nullptr, "Next integer greater than or equal to X"},
    {OP_COS,   1, BY_LIBRARY, 0,
     "cos",      nullptr, "Cosine of angle X (in radians)"},
    {OP_COSH,  1, BY_LIBRARY, 0,
     "cosh",     nullptr,
     "Hyperbolic cosine of angle X (in radians)"},
    {OP_EXP,   1, BY_LIBRARY, ZERO_AT_X_INFINITE,
     "exp",      nullptr, "Exponential of X (e to the X)"},
    {OP_FABS,  1, BY_INSTRUCTIONS, 0, "fabs",     nullptr, "Absolute value of X"},
    {OP_FLOOR, 1, BY_LIBRARY, ZERO_ANYWHERE,
     "floor",    nullptr, "Next integer less than or equal to X"},
    {OP_LN,    1, BY_LIBRARY, ZERO_AT_X_ONE | POLE_AT_X_ZERO,
     "ln",       nullptr, "Natural (base e) logarithm of X"},
    {OP_LOG10, 1, BY_LIBRARY, ZERO_AT_X_ONE | POLE_AT_X_ZERO,
     "log10",    nullptr, "Common (base 10) logarithm of X"},
    {OP_SIN,   1, BY_LIBRARY, ZERO_AT_X_ZERO,
     "sin",      nullptr, "Sine of angle X (in radians)"},
    {OP_SINH,  1, BY_LIBRARY, ZERO_AT_X_ZERO,
     "sinh",     nullptr, "Hyperbolic sine of angle X (in radians)"},
    {OP_SQRT,  1, BY_INSTRUCTIONS, 0, "sqrt",     nullptr, "Square root of X"},
    {OP_TAN,   1, BY_LIBRARY, ZERO_AT_X_ZERO,
     "tan",      nullptr, "Tangent of angle X (in radians)"},
    {OP_TANH,  1, BY_LIBRARY, ZERO_AT_X_ZERO,
     "tanh",     nullptr,
     "Hyperbolic tangent of angle X (in radians)"},
    {OP_J0,    1, BY_LIBRARY, ZERO_AT_X_INFINITE,
     "j0",       nullptr,
     "Bessel function of first kind (order 0) at X"},
    {OP_J1,    1, BY_LIBRARY, ZERO_AT_X_ZERO | ZERO_AT_X_INFINITE,
     "j1",       nullptr,
     "Bessel function of first kind (order 1) at X"},
    {OP_Y0,    1, BY_LIBRARY, ZERO_AT_X_INFINITE | POLE_AT_X_ZERO,
     "y0",       nullptr,
     "Bessel function of second kind (order 0) at X"},
    {OP_Y1,    1, BY_LIBRARY, ZERO_AT_X_INFINITE | POLE_AT_X_ZERO,
     "y1",       nullptr,
     "Bessel function of second kind (order 1) at X"},
    {OP_RANDU, 1, BY_RANDOM_DRAWS, 0, "randu",    nullptr,
     "Uniformly distributed random number in the range [0,X)"},
    {OP_D2R,   1, BY_INSTRUCTIONS, 0, "d2r",      nullptr, "Convert X degrees to radians"},
    {OP_R2D,   1, BY_INSTRUCTIONS, 0, "r2d",      nullptr, "Convert X radians to degrees"},
    {OP_ATAN2, 2, BY_LIBRARY, ZERO_AT_X_ZERO | ZERO_AT_Y_INFINITE,
     "atan2",    nullptr,
     "Angle (in radians) whose tangent is X divided by Y"},
    {OP_FMOD,  2, BY_LIBRARY, ZERO_ANYWHERE,
     "fmod",     nullptr, "Remainder of X divided by Y"},
    {OP_POW,   2, BY_LIBRARY,
     ZERO_AT_X_ZERO | ZERO_AT_X_INFINITE | ZERO_AT_Y_INFINITE | POLE_AT_X_ZERO_Y_NEGATIVE,
     "pow",      nullptr, "X raised to the Y-th power"},
    {OP_MAX,   2, BY_INSTRUCTIONS, 0, "max",      nullptr, "Larger of X and Y"},
    {OP_MIN,   2, BY_INSTRUCTIONS, 0, "min",      nullptr, "Smaller of X and Y"},
    {OP_JN,    2, BY_LIBRARY, ZERO_AT_Y_ZERO | ZERO_AT_Y_INFINITE,
     "jn",       nullptr,
     "Bessel function of first kind (order X) at Y"},
    {OP_YN,    2, BY_LIBRARY, ZERO_AT_Y_INFINITE | POLE_AT_Y_ZERO,
     "yn",       nullptr,
     "Bessel function of second kind (order X) at Y"},
    {OP_RANDN, 2, BY_RANDOM_DRAWS, 0, "randn",    nullptr,
     "Normally distributed random number with mean X and standard deviation Y"},
    {OP_IF,    3, BY_INSTRUCTIONS, 0, "if",       nullptr,
     "If X is non-zero, returns Y.  If X is zero, returns Z"},
};
// clang-format on

// The row of an operation; `op` must satisfy IsOperation.
constexpr const OperationInfo& InfoOf(CodeWord op) { return OPERATIONS[op - OP_FIRST]; }
constexpr int OperandCount(CodeWord op) { return InfoOf(op).operandCount; }
constexpr Computation ComputationOf(CodeWord op) { return InfoOf(op).computation; }
constexpr unsigned ExactRuleOf(CodeWord op) { return InfoOf(op).exact; }

constexpr bool RowsAreConsistent() {
  for (int i = 0; i < OPERATION_COUNT; ++i) {
    const OperationInfo& row = OPERATIONS[i];
    const bool function = row.code >= OP_FIRST_BUILTIN;
    if (row.code != OP_FIRST + static_cast<CodeWord>(i)) return false;
    if (row.operandCount < 1 || row.operandCount > 3 || row.name == nullptr) return false;
    // Operators have a symbol and no description; functions the other way round.
    if ((row.symbol == nullptr) != function || (row.description == nullptr) == function)
      return false;
    if (!function && (row.operandCount == 3 || row.computation == BY_LIBRARY)) return false;
    if (row.exact != 0 && row.computation != BY_LIBRARY) return false;
  }
  return true;
}
static_assert(sizeof OPERATIONS / sizeof OPERATIONS[0] == OPERATION_COUNT, "one row per code");
static_assert(RowsAreConsistent(), "rows run in code order, operators before functions");
static_assert(BUILTIN_COUNT == 32, "32 built-in functions");

// The built-in function whose name is exactly the first `length` characters of `name`, ignoring
// case; none for any other name, operators' names included.
const OperationInfo* FindBuiltinFunction(const char* name, int length);

// The walk behind KaloEnumFunctions.
int EnumBuiltinFunctions(KaloEnumCallback callback, long userValue);

}  // namespace kalo
