// A compiled equation as data: what the compiler writes and every later stage only reads, and
// the record that an evaluation leaves of its last fault.
#pragma once

#include <cstdint>

#include "expression/operations.h"

namespace kalo {

constexpr int MAX_CODE_WORDS = 400;
constexpr int MAX_POOL_SLOTS = 200;  // variables and literals together
constexpr int MAX_VARIABLES = 100;
constexpr int STACK_SIZE = 200;
constexpr int MESSAGE_SIZE = 512;  // every text for the host: 511 characters and a terminator

// Written by the compiler only (compiler/): the variable list when the handle is made, the code
// and the literals when an equation compiles.
struct Program {
  Program() = default;
  ~Program() { delete[] variableText; }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  CodeWord code[MAX_CODE_WORDS];
  int32_t codeCount = 0;
  // The ValuePool: one slot per variable (0.0 here; the host's value at evaluation), then one
  // slot per literal, in the order the equation writes them.
  double pool[MAX_POOL_SLOTS];
  int32_t poolCount = 0;
  int32_t variableCount = 0;
  // The variable list, each name terminated in place; owned here. A plain pointer rather than a
  // smart one keeps the handle standard-layout under every compiler, which the handle test needs.
  char* variableText = nullptr;
  int32_t nameOffsets[MAX_VARIABLES];  // offset of variable i's name in variableText; -1 beyond
  int32_t assignedVariable = 0;
};

inline const char* VariableName(const Program& program, int index) {
  return program.variableText + program.nameOffsets[index];
}

// What the last evaluation left: its error code, the word that ran last, and the operands of
// the last built-in operation that ran (an error text shows them).
struct EvalRecord {
  int32_t errorCode = 0;
  CodeWord lastCodeWord = 0;
  double topValue = 0.0;   // last (or only) operand
  double nextValue = 0.0;  // the operand before it, 0 when there was none
};

}  // namespace kalo
