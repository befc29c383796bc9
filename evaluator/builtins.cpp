#include "evaluator/builtins.h"

#include "compiler/tokenizer.h"
#include "expression/expression.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

constexpr BuiltinFunction BUILTINS[] = {
    {OP_ACOS, "acos", 1, "Angle (in radians) whose cosine is X"},
    {OP_ASIN, "asin", 1, "Angle (in radians) whose sine is X"},
    {OP_ATAN, "atan", 1, "Angle (in radians) whose tangent is X"},
    {OP_CEIL, "ceil", 1, "Next integer greater than or equal to X"},
    {OP_COS, "cos", 1, "Cosine of angle X (in radians)"},
    {OP_COSH, "cosh", 1, "Hyperbolic cosine of angle X (in radians)"},
    {OP_EXP, "exp", 1, "Exponential of X (e to the X)"},
    {OP_FABS, "fabs", 1, "Absolute value of X"},
    {OP_FLOOR, "floor", 1, "Next integer less than or equal to X"},
    {OP_LN, "ln", 1, "Natural (base e) logarithm of X"},
    {OP_LOG10, "log10", 1, "Common (base 10) logarithm of X"},
    {OP_SIN, "sin", 1, "Sine of angle X (in radians)"},
    {OP_SINH, "sinh", 1, "Hyperbolic sine of angle X (in radians)"},
    {OP_SQRT, "sqrt", 1, "Square root of X"},
    {OP_TAN, "tan", 1, "Tangent of angle X (in radians)"},
    {OP_TANH, "tanh", 1, "Hyperbolic tangent of angle X (in radians)"},
    {OP_J0, "j0", 1, "Bessel function of first kind (order 0) at X"},
    {OP_J1, "j1", 1, "Bessel function of first kind (order 1) at X"},
    {OP_Y0, "y0", 1, "Bessel function of second kind (order 0) at X"},
    {OP_Y1, "y1", 1, "Bessel function of second kind (order 1) at X"},
    {OP_RANDU, "randu", 1, "Uniformly distributed random number in the range [0,X)"},
    {OP_D2R, "d2r", 1, "Convert X degrees to radians"},
    {OP_R2D, "r2d", 1, "Convert X radians to degrees"},
    {OP_ATAN2, "atan2", 2, "Angle (in radians) whose tangent is X divided by Y"},
    {OP_FMOD, "fmod", 2, "Remainder of X divided by Y"},
    {OP_POW, "pow", 2, "X raised to the Y-th power"},
    {OP_MAX, "max", 2, "Larger of X and Y"},
    {OP_MIN, "min", 2, "Smaller of X and Y"},
    {OP_JN, "jn", 2, "Bessel function of first kind (order X) at Y"},
    {OP_YN, "yn", 2, "Bessel function of second kind (order X) at Y"},
    {OP_RANDN, "randn", 2,
     "Normally distributed random number with mean X and standard deviation Y"},
    {OP_IF, "if", 3, "If X is non-zero, returns Y.  If X is zero, returns Z"},
};

constexpr bool IdsRunWithoutGaps() {
  for (int i = 0; i < BUILTIN_COUNT; ++i)
    if (BUILTINS[i].id != static_cast<int>(OP_FIRST_BUILTIN) + i) return false;
  return true;
}
static_assert(sizeof BUILTINS / sizeof BUILTINS[0] == BUILTIN_COUNT, "32 built-in functions");
static_assert(IdsRunWithoutGaps(), "built-in ids run from 115 to 146 in table order");
static_assert(OP_FIRST_BUILTIN + BUILTIN_COUNT - 1 == OP_LAST, "the table ends the code range");

struct OperatorName {
  const char* name;
  int operandCount;
};
// Indexed by code - OP_FIRST.
constexpr OperatorName OPERATOR_NAMES[] = {
    {"Negation", 1}, {"Add", 2}, {"Subtract", 2}, {"Multiply", 2}, {"Divide", 2},
    {"and", 2},      {"or", 2},  {"not", 1},      {"xor", 2},      {"=", 2},
    {"<>", 2},       {"<", 2},   {"<=", 2},       {">", 2},        {">=", 2},
};
static_assert(sizeof OPERATOR_NAMES / sizeof OPERATOR_NAMES[0] == OP_LAST_OPERATOR - OP_FIRST + 1,
              "one name per operator");

}  // namespace

const BuiltinFunction* FindBuiltinFunction(const char* name, int length) {
  for (const BuiltinFunction& row : BUILTINS)
    if (EqualsIgnoringCase(name, length, row.name)) return &row;
  return nullptr;
}

const char* GetBuiltinName(int id, int* parameterCount) {
  for (const BuiltinFunction& row : BUILTINS) {
    if (row.id == id) {
      *parameterCount = row.parameterCount;
      return row.name;
    }
  }
  *parameterCount = -1;
  return "Unknown function";
}

int EnumBuiltinFunctions(KaloEnumCallback callback, long userValue) {
  if (callback == nullptr) return BUILTIN_COUNT;
  int result = 0;
  for (const BuiltinFunction& row : BUILTINS) {
    result = callback(row.name, row.parameterCount, row.description, userValue);
    if (result == 0) break;
  }
  return result;
}

const char* Expression::GetCodeWordName(CodeWord word, int* operandCount) const {
  *operandCount = -1;
  if (word == 0) return "Unknown operation";
  if (IsOperand(word)) {
    const int slot = OperandSlot(word);
    return slot < variableCount ? variableText + nameOffsets[slot] : "Unknown variable";
  }
  if ((word & USER_CALL_BIT) != 0) {
    const UserFunction* function = GetUserFunction(UserCallIndex(word));
    if (function == nullptr) return "Unknown registered function";
    *operandCount = function->parameterCount;
    return function->name;
  }
  if (word <= OP_LAST_OPERATOR && word >= OP_FIRST) {
    const OperatorName& op = OPERATOR_NAMES[word - OP_FIRST];
    *operandCount = op.operandCount;
    return op.name;
  }
  return GetBuiltinName(static_cast<int>(word), operandCount);
}

}  // namespace kalo
