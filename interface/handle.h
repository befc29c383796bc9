// What a handle points at: a compiled program, the evaluator that runs it, the record of the
// last run and the text last composed for the host. Each stage owns its part; the handle only
// holds them together for the exports.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "compiler/compiler.h"
#include "evaluator/evaluator.h"
#include "expression/program.h"

namespace kalo {

constexpr uint32_t EXPRESSION_MAGIC = 0xEE55;

struct Expression {
  // Throws `messageBuffer` holding the reason when the list is refused or memory is short.
  Expression(const char* variableList, char* messageBuffer, int messageSize) {
    if (!ReadVariableList(variableList, &program, messageBuffer, static_cast<size_t>(messageSize)))
      throw messageBuffer;
    magic = EXPRESSION_MAGIC;
  }
  ~Expression() { magic = 0; }
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  // False with the marked text in `message`.
  bool Compile(const char* equation) {
    if (!kalo::Compile(equation, &program, message)) return false;
    PrepareEvaluation(program, &evaluator);
    return true;
  }

  // A handle is tested by reading its first 32-bit word, so `magic` stays first.
  uint32_t magic = 0;
  Program program;
  Evaluator evaluator;
  EvalRecord record;
  char message[MESSAGE_SIZE] = {};
};

static_assert(std::is_standard_layout_v<Expression>, "magic is the first word of a handle");

// The handle's test: not null and carrying the magic. Not foolproof: a dead handle whose memory
// was reused may pass, which is why hosts must not pass a handle after destroying it.
inline Expression* ExpressionFromHandle(void* handle) {
  if (handle == nullptr) return nullptr;
  uint32_t word;
  std::memcpy(&word, handle, sizeof word);
  return word == EXPRESSION_MAGIC ? static_cast<Expression*>(handle) : nullptr;
}

}  // namespace kalo
