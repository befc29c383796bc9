// Machine code for the register form of a program (evaluator/fast_program.h), on processors we
// can write code for (x86-64). The code computes exactly what the register form computes, with
// the same instructions or the same library calls, so results are identical to the bit, and it
// tests the values as the register form does.
#pragma once

#include <cstdint>

namespace kalo {

struct Evaluator;
struct Program;

// A slot of executable memory that an Evaluator holds from construction to destruction, so
// that compiling into it needs neither an allocation nor a system call.
struct NativeCode {
  uint8_t* writable = nullptr;          // the slot, seen writable
  const uint8_t* executable = nullptr;  // the same bytes, seen executable
  const void* entry = nullptr;          // the compiled program; null when there is none
  int32_t slot = -1;
};

// Takes a slot from the process-wide pool of code memory; leaves `code` empty when none can be
// had, which only means that the program will be interpreted.
void ReserveNativeCode(NativeCode* code);
void ReleaseNativeCode(NativeCode* code);

// Writes the program's machine code into the evaluator's slot and makes `entry` callable, or
// leaves `entry` null when the program does not fit the slot or the registers.
void CompileNativeCode(const Program& program, Evaluator& evaluator);

// The generated code's signature: the register file and the evaluator; the value comes back.
using NativeEntry = double (*)(double* registers, Evaluator* evaluator);

}  // namespace kalo
