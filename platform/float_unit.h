// The floating-point unit of the calling thread: save and reset its state around an evaluation,
// and read the sticky flags that tell of a fault.
//
// The library never unmasks a trap: it runs with every exception masked and reads the sticky
// flags instead, which needs no signal handler and no system call. On x86-64 both units are
// handled, SSE (where doubles are computed) and x87 (which some maths routines still use), and
// the denormal-operand flag, which <fenv.h> does not expose, is read directly.
#pragma once

#include <cstdint>

#if !(defined(__x86_64__) || defined(_M_X64))
#include <cfenv>
#endif

namespace kalo::platform {

enum FloatFault : unsigned {
  FAULT_DENORMAL = 1u << 0,
  FAULT_DIVIDE_BY_ZERO = 1u << 1,
  FAULT_OVERFLOW = 1u << 2,
  FAULT_UNDERFLOW = 1u << 3,
  FAULT_INVALID = 1u << 4,  // not an error by itself: a NaN result is caught by its value
};

// The control state found before an evaluation.
struct FloatState {
  uint32_t sse = 0;
  uint16_t x87 = 0;
};

#if defined(__x86_64__) || defined(_M_X64)

// Both units number their flags and masks alike: invalid 0x01, denormal 0x02, divide by zero
// 0x04, overflow 0x08, underflow 0x10, inexact 0x20; the SSE masks sit 7 bits higher.
namespace x86 {
constexpr uint32_t SSE_DEFAULT = 0x1F80;  // all masked, round to nearest, no FTZ/DAZ, flags clear
constexpr uint32_t SSE_FLAGS = 0x3F;
constexpr uint32_t SSE_INEXACT_FLAG = 0x20;
constexpr uint16_t X87_FLAGS = 0x3F;
constexpr uint32_t SSE_GUARDED_MASKS = 0x1E << 7;  // denormal, divide by zero, overflow, underflow
constexpr uint16_t X87_DEFAULT = 0x037F;           // all masked, 64-bit precision, nearest
constexpr uint16_t X87_GUARDED_MASKS = 0x1E;

inline uint32_t ReadSse() {
  uint32_t value;
  __asm__ __volatile__("stmxcsr %0" : "=m"(value));
  return value;
}
inline void WriteSse(uint32_t value) { __asm__ __volatile__("ldmxcsr %0" : : "m"(value)); }
inline uint16_t ReadX87Control() {
  uint16_t value;
  __asm__ __volatile__("fnstcw %0" : "=m"(value));
  return value;
}
inline void WriteX87Control(uint16_t value) { __asm__ __volatile__("fldcw %0" : : "m"(value)); }
inline uint16_t ReadX87Status() {
  uint16_t value;
  __asm__ __volatile__("fnstsw %0" : "=am"(value));
  return value;
}
inline void ClearX87Status() { __asm__ __volatile__("fnclex"); }

inline unsigned ToFaults(uint32_t flags) {
  return ((flags & 0x02) ? FAULT_DENORMAL : 0u) | ((flags & 0x04) ? FAULT_DIVIDE_BY_ZERO : 0u) |
         ((flags & 0x08) ? FAULT_OVERFLOW : 0u) | ((flags & 0x10) ? FAULT_UNDERFLOW : 0u) |
         ((flags & 0x01) ? FAULT_INVALID : 0u);
}
}  // namespace x86

// Each write is skipped when the unit already holds the value: an evaluation is short, and
// these instructions cost more than many of the operations it runs.
inline void ClearX87FlagsIfSet() {
  if ((x86::ReadX87Status() & x86::X87_FLAGS) != 0) x86::ClearX87Status();
}

// The host finds both units' flags clear afterwards, x87 flags it raised itself included. They
// are cleared once: after a run that may execute x87 instructions (`x87InRun`: the maths
// library, host code), before one that cannot, where reading them costs less because it does
// not wait for the run's arithmetic. A flag the host left for a run that may use the x87 unit
// can only make the run look faulty, and the exact run, which clears both units first, then
// finds that nothing is wrong.
inline FloatState EnterFloatGuard(bool x87InRun) {
  FloatState saved{x86::ReadSse(), x86::ReadX87Control()};
  // An inexact flag left by the host is harmless during the run: nobody reads it, and the
  // unit is written on the way out anyway.
  if ((saved.sse & ~x86::SSE_INEXACT_FLAG) != x86::SSE_DEFAULT) x86::WriteSse(x86::SSE_DEFAULT);
  if (saved.x87 != x86::X87_DEFAULT) x86::WriteX87Control(x86::X87_DEFAULT);
  if (!x87InRun) ClearX87FlagsIfSet();
  return saved;
}

inline void LeaveFloatGuard(const FloatState& saved, bool x87InRun) {
  x86::WriteSse((x86::SSE_DEFAULT & ~x86::SSE_GUARDED_MASKS) |
                (saved.sse & x86::SSE_GUARDED_MASKS));
  if (x87InRun) ClearX87FlagsIfSet();
  const uint16_t x87 = static_cast<uint16_t>((x86::X87_DEFAULT & ~x86::X87_GUARDED_MASKS) |
                                             (saved.x87 & x86::X87_GUARDED_MASKS));
  if (x87 != x86::X87_DEFAULT) x86::WriteX87Control(x87);
}

inline void ClearFloatFaults() {
  x86::WriteSse(x86::ReadSse() & ~x86::SSE_FLAGS);
  ClearX87FlagsIfSet();
}

// SSE flags only: for code that runs no x87 instruction.
inline unsigned ReadSseFaults() { return x86::ToFaults(x86::ReadSse()); }

// Both units: for code we did not write (the maths library, host functions).
inline unsigned ReadFloatFaults() { return x86::ToFaults(x86::ReadSse() | x86::ReadX87Status()); }

#else  // Portable fallback: <fenv.h> has no denormal-operand flag, so that fault goes unseen.

inline FloatState EnterFloatGuard(bool /*x87InRun*/) {
  FloatState saved{static_cast<uint32_t>(fegetexcept()), 0};
  fesetenv(FE_DFL_ENV);
  return saved;
}

inline void LeaveFloatGuard(const FloatState& saved, bool /*x87InRun*/) {
  fesetenv(FE_DFL_ENV);
  const int guarded = FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW;
  feenableexcept(static_cast<int>(saved.sse) & guarded);
}

inline void ClearFloatFaults() { feclearexcept(FE_ALL_EXCEPT); }

inline unsigned ReadFloatFaults() {
  const int raised = fetestexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_UNDERFLOW | FE_INVALID);
  return ((raised & FE_DIVBYZERO) ? FAULT_DIVIDE_BY_ZERO : 0u) |
         ((raised & FE_OVERFLOW) ? FAULT_OVERFLOW : 0u) |
         ((raised & FE_UNDERFLOW) ? FAULT_UNDERFLOW : 0u) |
         ((raised & FE_INVALID) ? FAULT_INVALID : 0u);
}

inline unsigned ReadSseFaults() { return ReadFloatFaults(); }

#endif

}  // namespace kalo::platform
