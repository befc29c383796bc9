// The call of a host function during an evaluation.
//
// On Windows a host function that unmasks a floating-point exception gets the processor's trap
// as a structured exception; the call then ends at the fault, as the evaluation guard's filter
// ends a run, and *trapCode receives the evaluation error code (201 to 207). Elsewhere the trap
// is the host's own signal, which the library leaves alone: the call is a plain call.
#pragma once

#include <cstdint>

namespace kalo::platform {

using HostFunction = int (*)(double* arguments, double* result, long userValue);

#if defined(_WIN32)

// Calls `function`; returns its result, or the trap's code when a trap ended it. *trapCode is
// 0 unless a trap ended the call; then the floating-point unit is back in the run's state (every
// exception masked, no flag set, an empty x87 stack).
int CallHostFunction(HostFunction function, double* arguments, double* result, long userValue,
                     int* trapCode);

// The evaluation error code of a floating-point exception status, 0 for any other status. The
// multiple-trap statuses of SSE instructions are resolved from the MXCSR and the x87 status word
// of the faulting context.
int MapFloatTrap(unsigned long status, uint32_t mxcsr, uint16_t x87Status);

#else

inline int CallHostFunction(HostFunction function, double* arguments, double* result,
                            long userValue, int* trapCode) {
  *trapCode = 0;
  return function(arguments, result, userValue);
}

#endif

}  // namespace kalo::platform
