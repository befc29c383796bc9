#include "evaluator/disassembler.h"

#include <charconv>

#include "expression/program.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

std::string Number(double value) {
  char buffer[32];
  const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, written.ptr);
}

std::string Word(const Program& program, CodeWord word) {
  if (IsOperand(word)) {
    const int slot = OperandSlot(word);
    if (slot < program.variableCount) return "PUSH " + std::string(VariableName(program, slot));
    if (slot < program.poolCount) return "PUSH #" + Number(program.pool[slot]);
    return "PUSH ?" + std::to_string(slot);
  }
  if (IsUserCall(word)) {
    const int index = UserCallIndex(word);
    const UserFunction* function = FindUserFunctionAt(index);
    return "CALL " +
           (function != nullptr ? std::string(function->name) : "#" + std::to_string(index));
  }
  if (!IsOperation(word)) return "Unknown function";
  // The error reports name operators by words ("Add"); a listing reads better with the symbols
  // an equation is written with.
  const OperationInfo& info = InfoOf(word);
  return info.symbol != nullptr ? info.symbol : info.name;
}

}  // namespace

std::string Disassemble(const Program& program) {
  std::string listing;
  for (int i = 0; i < program.codeCount; ++i) {
    if (i > 0) listing += ", ";
    listing += Word(program, program.code[i]);
  }
  return listing;
}

}  // namespace kalo
