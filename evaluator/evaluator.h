// The evaluator: runs a Program on the host's values and leaves the outcome in an EvalRecord.
//
// Three forms run a program, all computing through math.h's Apply, or tested bit for bit
// against it:
//   interpreter   (interpreter.cpp) the postfix words over a stack; it stops at the first fault
//                 and records its word and operands. It is the exact path: the only form that
//                 names a fault, and the only one for host calls and random draws.
//   register form (register_form.h) the same operations on named registers, no stack.
//   machine code  (native_code.h) the register form written as x86-64 instructions.
// The last two are the fast forms. They run only on inputs and literals that are normal or zero,
// never read a floating-point flag, and prove a run clean by value tests: each result must be
// zero or a normal double above the smallest, a product or quotient of nonzero operands must not
// be zero, and a maths routine's result must pass its fault rule (math::MayHaveFaulted). A run
// that fails a test, or any other input, goes to the interpreter, which runs it again from the
// start and finds what went wrong. The guard (guard.cpp) picks the form.
#pragma once

#include <cstdint>

#include "evaluator/register_form.h"
#include "expression/program.h"
#include "include/kalo.h"
#include "platform/float_unit.h"

namespace kalo {

// The fastest form a run may take; tests lower it to compare the forms.
enum class Form { MACHINE_CODE, REGISTER_FORM, INTERPRETER };

// What evaluation keeps beside the Program it runs: written by evaluation only.
struct Evaluator {
  Evaluator();
  ~Evaluator();
  Evaluator(const Evaluator&) = delete;
  Evaluator& operator=(const Evaluator&) = delete;

  // The pool's slots (the host's values, then the literals), temporaries and constants.
  double registers[REGISTER_COUNT] = {};
  RegisterForm fast;
  KAL_ANGULAR_UNITS angularUnits = KAL_RADIANS;
  Form fastest = Form::MACHINE_CODE;
};

// After a successful compilation: takes the literals, builds the fast forms, reseeds the random
// generator.
void PrepareEvaluation(const Program& program, Evaluator* evaluator);

// Sets the angular unit; the fast forms are built again, since they fold trigonometry.
void SetAngularUnits(const Program& program, Evaluator* evaluator, KAL_ANGULAR_UNITS units);

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
inline bool UsesX87(const RegisterForm& fast) {
  return fast.callsHost || (platform::LIBRARY_USES_X87 && fast.callsLibrary);
}

// Whether the variables the program reads, already in the register file, are normal or zero, as
// the fast forms need.
bool ReadsNormalOrZero(const RegisterForm& fast, const double* registers);

// The record of a clean run of machine code, whose last operands it left in the register file.
void RecordCleanRun(const Program& program, const RegisterForm& fast, const double* registers,
                    EvalRecord* record);

// The interpreter: false with the fault in `record`.
bool RunProgram(const Program& program, Evaluator& evaluator, EvalRecord* record);
// The fast forms: true when the run succeeded exactly as the interpreter's would have; false
// when the interpreter must run to find out what went wrong.
bool RunFast(const Program& program, Evaluator& evaluator, EvalRecord* record,
             bool inputsNormalOrZero);

}  // namespace kalo
