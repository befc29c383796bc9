// What the tests need of the floating-point environment beyond ISO C: enabling traps, and the
// SSE unit's state apart from the x87 unit's. On Windows the traps are set on the hardware
// directly (the FE_* bits are the x86 flag bits there).
#pragma once

#include <cfenv>

#if defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

#if defined(_WIN32)
#include <cstdint>

namespace kalo_test_fenv {
inline uint16_t ReadX87Control() {
  uint16_t value;
  __asm__ __volatile__("fnstcw %0" : "=m"(value));
  return value;
}

// Sets the mask bits of `excepts` in both units to `masked`; returns the traps enabled before.
inline int SetMasks(int excepts, bool masked) {
  excepts &= FE_ALL_EXCEPT;
  const uint16_t x87 = ReadX87Control();
  const uint16_t control = static_cast<uint16_t>(masked ? x87 | excepts : x87 & ~excepts);
  __asm__ __volatile__("fldcw %0" : : "m"(control));
  const unsigned sse = _mm_getcsr(), bits = static_cast<unsigned>(excepts) << 7;
  _mm_setcsr(masked ? sse | bits : sse & ~bits);
  return ~x87 & FE_ALL_EXCEPT;
}
}  // namespace kalo_test_fenv

inline int feenableexcept(int excepts) { return kalo_test_fenv::SetMasks(excepts, false); }
inline int fegetexcept() { return ~kalo_test_fenv::ReadX87Control() & FE_ALL_EXCEPT; }
#endif

// glibc's fegetexcept and fegetround report the x87 unit's traps and rounding, which a run leaves
// as the host set them; doubles are computed in the SSE unit.
#if defined(__x86_64__) || defined(_M_X64)
inline int X87Flags() {
  unsigned short status;
  __asm__ __volatile__("fnstsw %0" : "=am"(status));
  return status & FE_ALL_EXCEPT;
}
// Sets the x87 unit's flags without raising them: the environment is stored, edited and loaded.
inline void SetX87Flags(int flags) {
  unsigned short environment[14];
  __asm__ __volatile__("fnstenv %0" : "=m"(environment));
  environment[2] = static_cast<unsigned short>(environment[2] | (flags & FE_ALL_EXCEPT));
  __asm__ __volatile__("fldenv %0" : : "m"(environment));
}
inline int SseTraps() { return static_cast<int>(~(_mm_getcsr() >> 7)) & FE_ALL_EXCEPT; }
inline int SseRounding() { return static_cast<int>((_mm_getcsr() >> 3) & 0xC00); }
#else
inline int SseTraps() { return fegetexcept(); }
inline int SseRounding() { return fegetround(); }
#endif
