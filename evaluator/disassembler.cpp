#include "evaluator/disassembler.h"

#include <charconv>

#include "evaluator/builtins.h"
#include "expression/expression.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

// Indexed by code - OP_FIRST; the error reports use words ("Add"), a listing reads better with
// the symbols an equation is written with.
constexpr const char* OPERATOR_SYMBOLS[] = {"NEG", "+", "-",  "*", "/",  "and", "or", "not",
                                            "xor", "=", "<>", "<", "<=", ">",   ">="};
static_assert(sizeof OPERATOR_SYMBOLS / sizeof OPERATOR_SYMBOLS[0] ==
              OP_LAST_OPERATOR - OP_FIRST + 1);

std::string Number(double value) {
  char buffer[32];
  const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, written.ptr);
}

std::string Word(const Expression& expression, CodeWord word) {
  if (IsOperand(word)) {
    const int slot = OperandSlot(word);
    if (slot < expression.variableCount)
      return "PUSH " + std::string(expression.variableText + expression.nameOffsets[slot]);
    if (slot < expression.poolCount) return "PUSH #" + Number(expression.pool[slot]);
    return "PUSH ?" + std::to_string(slot);
  }
  if (IsUserCall(word)) {
    const int index = UserCallIndex(word);
    const UserFunction* function = FindUserFunctionAt(index);
    return "CALL " +
           (function != nullptr ? std::string(function->name) : "#" + std::to_string(index));
  }
  if (word >= OP_FIRST && word <= OP_LAST_OPERATOR) return OPERATOR_SYMBOLS[word - OP_FIRST];
  int count = 0;
  return GetBuiltinName(static_cast<int>(word), &count);
}

}  // namespace

std::string Disassemble(const Expression& expression) {
  std::string listing;
  for (int i = 0; i < expression.codeCount; ++i) {
    if (i > 0) listing += ", ";
    listing += Word(expression, expression.code[i]);
  }
  return listing;
}

}  // namespace kalo
