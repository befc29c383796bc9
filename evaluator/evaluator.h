// The evaluator: runs a Program on the host's values and leaves the outcome in an EvalRecord.
//
// A program runs in one of three forms, all computing through math.h's Apply or tested bit for
// bit against it: machine code (native_code.h), the register form (fast_program.h) and the
// postfix interpreter (interpreter.cpp). The first two are fast forms: they run without stopping
// at each operation and, when anything looks wrong, hand the run to the interpreter, which finds
// the first fault with its word and operands. The guard (guard.cpp) picks the form.
#pragma once

#include <cstdint>

#include "evaluator/fast_program.h"
#include "expression/program.h"
#include "include/kalo.h"
#include "platform/float_unit.h"

namespace kalo {

// What evaluation keeps beside the Program it runs: written by evaluation only.
struct Evaluator {
  Evaluator();
  ~Evaluator();
  Evaluator(const Evaluator&) = delete;
  Evaluator& operator=(const Evaluator&) = delete;

  // The pool's slots (the host's values, then the literals), temporaries and constants.
  double registers[REGISTER_COUNT] = {};
  FastProgram fast;
  KAL_ANGULAR_UNITS angularUnits = KAL_RADIANS;
};

// After a successful compilation: takes the literals, builds the fast forms, reseeds the random
// generator.
void PrepareEvaluation(const Program& program, Evaluator* evaluator);

// One run over `values` (the variables in declaration order); the assigned variable's value is
// written back on success. One evaluation at a time in the process: a second one meanwhile
// fails with ERROR_BUSY.
bool Evaluate(const Program& program, Evaluator* evaluator, EvalRecord* record, double* values);

// Row by row, exactly as that many calls of Evaluate would run, under one gate. Returns the
// number of rows evaluated: rowCount, or the index of the row that failed.
long EvaluateColumns(const Program& program, Evaluator* evaluator, EvalRecord* record,
                     double* const* columns, long rowCount);

// The text KaloGetEvalError gives for `record`, written into `message` (MESSAGE_SIZE bytes).
void ComposeEvalError(const Program& program, const EvalRecord& record, char* message);

// The name an error text gives a code word, and how many operands it shows (-1: none).
const char* GetCodeWordName(const Program& program, CodeWord word, int* operandCount);

// The text of `code`; "Unknown error" for any code without one, host codes included.
const char* GetErrorText(int code);

// --- The forms, for the guard -------------------------------------------------------------
// The flags that end a run; an invalid operation ends it only through the NaN it makes.
constexpr unsigned ENDING_FAULTS = platform::FAULT_DENORMAL | platform::FAULT_DIVIDE_BY_ZERO |
                                   platform::FAULT_OVERFLOW | platform::FAULT_UNDERFLOW;

// Whether a run may execute x87 instructions: host code may, and on some systems the maths
// library does; the guard handles that unit only then.
inline bool UsesX87(const FastProgram& fast) {
  return fast.callsHost || (platform::LIBRARY_USES_X87 && fast.callsLibrary);
}

// The interpreter: false with the fault in `record`.
bool RunProgram(const Program& program, Evaluator& evaluator, EvalRecord* record);
// The fast forms: true when the run succeeded exactly as the interpreter's would have; false
// when the interpreter must run to find out what went wrong.
bool RunFast(const Program& program, Evaluator& evaluator, EvalRecord* record, bool inputsPlain);

}  // namespace kalo
