// Machine code for the register form of a program (evaluator/register_form.h), on processors we
// can write code for (x86-64). The code computes exactly what the register form computes, with
// the same instructions or the same library calls, so results are identical to the bit, and it
// tests the values as the register form does.
#pragma once

#include <cstdint>

#include "include/kalo.h"

namespace kalo {

struct RegisterForm;

// What the generated code needs besides the register file: the angular unit for the routines it
// calls, and the mark it sets when a result fails its value test.
struct NativeFrame {
  KAL_ANGULAR_UNITS units;
  uint8_t valueTestFailed;
};

// One row from the register file; the value comes back, RECORD_TOP and RECORD_NEXT hold the
// last operation's operands.
using NativeEntry = double (*)(double* registers, NativeFrame* frame);
// Rows `row` to `end` - 1 from the columns, each result written to the assigned variable's
// column; returns `end`, or the first row that needs the interpreter (its result unwritten).
using NativeColumnsEntry = long (*)(double* registers, NativeFrame* frame, double* const* columns,
                                    long row, long end);

// Rows per block of NativeCode::lanesEntry, one per lane of a 256-bit register.
constexpr long LANE_COUNT = 4;

// A slot of executable memory that an Evaluator holds from construction to destruction, so
// that compiling into it needs neither an allocation nor a system call.
struct NativeCode {
  uint8_t* writable = nullptr;                // the slot, seen writable
  const uint8_t* executable = nullptr;        // the same bytes, seen executable
  NativeEntry entry = nullptr;                // one row; null when there is none
  NativeColumnsEntry columnsEntry = nullptr;  // a loop over columns, or null
  // The same over whole blocks of rows, several per instruction, or null; it stops before a
  // block that needs a closer look, which then goes through columnsEntry row by row.
  NativeColumnsEntry lanesEntry = nullptr;
  // Where the two loops over columns go, written at the first columns call
  // (WriteColumnsEntries); 0 once they are written or when there is no room.
  uint32_t columnsStart = 0;
  int32_t slot = -1;
};

// Takes a slot from the process-wide pool of code memory; leaves `code` empty when none can be
// had, which only means that the program will be interpreted.
void ReserveNativeCode(NativeCode* code);
void ReleaseNativeCode(NativeCode* code);

// Writes the register form's machine code into `code`'s slot and makes the entries callable, or
// leaves them null when the program does not fit the slot or the registers.
void CompileNativeCode(const RegisterForm& fast, NativeCode* code);

// Writes the loops over columns into the slot at their first use, so that compiling an equation
// only ever evaluated one row at a time does not pay for them (they take more than half the
// time of a compilation); the loop over blocks only where the processor allows it. No
// allocation, lock or system call: the slot is the Evaluator's.
void WriteColumnsEntries(const RegisterForm& fast, NativeCode* code);

}  // namespace kalo
