// The floating-point unit of the calling thread: save and reset its state around an evaluation,
// and read the sticky flags that tell of a fault.
//
// The library never unmasks a trap: it runs with every exception masked and reads the sticky
// flags instead, which needs no signal handler and no system call. On x86-64 the unit an
// evaluation resets, restores and reads is SSE, which computes every double; the denormal-operand
// flag, which <fenv.h> does not expose, is read directly. The x87 unit is handled only around code
// that may execute x87 instructions (host functions, and on Windows the maths library): a run
// without such code neither reads nor writes it.
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

// Whether the C library's routines behind the built-ins execute x87 instructions. glibc's do
// not. The mingw-w64 run-time's sin, cos, exp, log, pow, atan2 and fmod do, and the Windows
// run-time's own cannot be checked here; both were probed by calling each routine on a full x87
// stack, where the first push overflows it.
#if defined(_WIN32)
constexpr bool LIBRARY_USES_X87 = true;
#else
constexpr bool LIBRARY_USES_X87 = false;
#endif

// Each write is skipped when the unit already holds the value: an evaluation is short, and
// these instructions cost more than many of the operations it runs.
inline void ClearX87FlagsIfSet() {
  if ((x86::ReadX87Status() & x86::X87_FLAGS) != 0) x86::ClearX87Status();
}

// SSE: reset for the run; afterwards round to nearest, no flush to zero, invalid and inexact
// masked, the four guarded masks as the host had them, every flag clear. x87, only when the run
// may use it (`x87InRun`): reset and cleared for the run, its control word restored afterwards
// and its flags clear, those the host had left included.
inline FloatState EnterFloatGuard(bool x87InRun) {
  FloatState saved{x86::ReadSse(), 0};
  // An inexact flag left by the host is harmless during the run: nobody reads it, and the
  // unit is written on the way out anyway.
  if ((saved.sse & ~x86::SSE_INEXACT_FLAG) != x86::SSE_DEFAULT) x86::WriteSse(x86::SSE_DEFAULT);
  if (x87InRun) {
    saved.x87 = x86::ReadX87Control();
    ClearX87FlagsIfSet();
    if (saved.x87 != x86::X87_DEFAULT) x86::WriteX87Control(x86::X87_DEFAULT);
  }
  return saved;
}

inline void LeaveFloatGuard(const FloatState& saved, bool x87InRun) {
  x86::WriteSse((x86::SSE_DEFAULT & ~x86::SSE_GUARDED_MASKS) |
                (saved.sse & x86::SSE_GUARDED_MASKS));
  if (!x87InRun) return;
  // Flags first: an unmasked trap with its flag still set would fire at the next x87 instruction.
  ClearX87FlagsIfSet();
  if (saved.x87 != x86::X87_DEFAULT) x86::WriteX87Control(saved.x87);
}

inline void ClearSseFaults() { x86::WriteSse(x86::ReadSse() & ~x86::SSE_FLAGS); }

// The SSE unit in the state a run has (round to nearest, no flush to zero, all masked) for
// computing ahead of a run, and exactly as it was afterwards, flags included.
class DefaultSseScope {
 public:
  DefaultSseScope() : saved_(x86::ReadSse()) { x86::WriteSse(x86::SSE_DEFAULT); }
  ~DefaultSseScope() { x86::WriteSse(saved_); }
  DefaultSseScope(const DefaultSseScope&) = delete;
  DefaultSseScope& operator=(const DefaultSseScope&) = delete;

 private:
  uint32_t saved_;
};
inline void ClearX87Faults() { ClearX87FlagsIfSet(); }

// SSE flags only: for kalo's own arithmetic.
inline unsigned ReadSseFaults() { return x86::ToFaults(x86::ReadSse()); }

// Both units: after host code.
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

constexpr bool LIBRARY_USES_X87 = false;

inline void ClearSseFaults() { feclearexcept(FE_ALL_EXCEPT); }

class DefaultSseScope {
 public:
  DefaultSseScope() {
    fegetenv(&saved_);
    fesetenv(FE_DFL_ENV);
  }
  ~DefaultSseScope() { fesetenv(&saved_); }
  DefaultSseScope(const DefaultSseScope&) = delete;
  DefaultSseScope& operator=(const DefaultSseScope&) = delete;

 private:
  fenv_t saved_;
};
inline void ClearX87Faults() {}

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
