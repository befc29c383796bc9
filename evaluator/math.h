// What the operators and built-in functions compute, one small function each, shared by every
// way the evaluator runs a program.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "common/error_codes.h"
#include "evaluator/random.h"
#include "expression/operations.h"
#include "include/kalo.h"
#include "platform/bessel.h"

namespace kalo::math {

constexpr double TRUE_VALUE = -1.0;
constexpr double FALSE_VALUE = 0.0;
constexpr double PI = 3.141592653589793;
constexpr double ONE_180TH = 0.005555555555555556;  // the double nearest to 1/180
constexpr double ONE_200TH = 0.005;
constexpr double ONE_32768TH = 3.0517578125e-05;
constexpr double ONE_32767TH = 3.051850947599719e-05;
constexpr int MAX_BESSEL_ORDER = 100000;  // see BesselOrder

inline double Truth(bool value) { return value ? TRUE_VALUE : FALSE_VALUE; }

// Classification on the bits, so that testing a result raises no floating-point flag of its own.
inline uint64_t Bits(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return bits;
}
constexpr uint64_t EXPONENT_MASK = 0x7FF0000000000000ull;
constexpr uint64_t MAGNITUDE_MASK = 0x7FFFFFFFFFFFFFFFull;
inline bool IsFiniteBits(double x) { return (Bits(x) & EXPONENT_MASK) != EXPONENT_MASK; }
inline bool IsZeroBits(double x) { return (Bits(x) & MAGNITUDE_MASK) == 0; }

// The logarithm's pole: -inf with the division-by-zero flag raised by the division itself, because
// not every maths library raises it (glibc does, the Windows run-time does not).
inline double MinusInfinityByDivision() {
  volatile double zero = 0.0;
  return -1.0 / zero;
}
inline bool IsNanBits(double x) { return (Bits(x) & MAGNITUDE_MASK) > EXPONENT_MASK; }
inline bool IsSubnormalBits(double x) {
  return (Bits(x) & EXPONENT_MASK) == 0 && (Bits(x) & MAGNITUDE_MASK) != 0;
}

// X equals Y within a tolerance relative to X alone: |X| * 1e-15 >= |X - Y|. The tolerance is
// scaled by a power of two for tiny X, so that the comparison itself never underflows.
inline bool NearlyEqual(double x, double y) {
  const double difference = std::fabs(x - y);
  const double size = std::fabs(x);
  if (!(difference <= size)) return false;  // also when a NaN is involved
  if (size >= 0x1p-900) return size * 1e-15 >= difference;
  return (size * 0x1p200) * 1e-15 >= difference * 0x1p200;
}

// Rounds to the nearest 32-bit integer, halves away from zero. Out of range: `failed` and 0.
inline int32_t ToInteger32(double x, bool* failed) {
  if (x < -2147483648.0 || x > 2147483647.0) {
    *failed = true;
    return 0;
  }
  if (std::isnan(x)) return 0;
  return x > 0 ? static_cast<int32_t>(x + 0.5) : static_cast<int32_t>(x - 0.5);
}

inline double ToRadians(double x, KAL_ANGULAR_UNITS units) {
  switch (units) {
    case KAL_DEGREES: return (PI * x) * ONE_180TH;
    case KAL_GRADS: return (PI * x) * ONE_200TH;
    default: return x;
  }
}

inline double FromRadians(double r, KAL_ANGULAR_UNITS units) {
  switch (units) {
    case KAL_DEGREES: return (r / PI) * 180;
    case KAL_GRADS: return (r / PI) * 200;
    default: return r;
  }
}

inline double Divide(double x, double y) {
  // 0 / 0 is made a division by zero, reported as such, rather than a NaN.
  if (x == 0.0 && y == 0.0) return 1.0 / y;
  return x / y;
}

inline double RandomUniform(double x) {
  double accumulator = 0.0;
  for (int i = 0; i < 3; ++i) accumulator = (DrawRandom() + accumulator) * ONE_32768TH;
  return x * accumulator;
}

inline double RandomNormal(double mean, double deviation) {
  double sum = 0.0;
  for (int i = 0; i < 12; ++i) sum += DrawRandom();
  return ((sum * ONE_32767TH) - 6) * deviation + mean;
}

// The order of jn and yn: X truncated toward zero. The C library's Bessel routines take time in
// proportion to the order, so orders beyond any practical use are refused rather than left to
// stall the host for seconds; so are NaN and orders outside the 32-bit range.
inline bool BesselOrder(double x, int* order) {
  if (!(x > -(MAX_BESSEL_ORDER + 1.0) && x < MAX_BESSEL_ORDER + 1.0)) return false;
  *order = static_cast<int>(x);
  return true;
}

inline bool IsNormalOrZeroBits(double x) {
  const uint64_t exponent = Bits(x) & EXPONENT_MASK;
  return (exponent != 0 && exponent != EXPONENT_MASK) || (Bits(x) & MAGNITUDE_MASK) == 0;
}

inline double Logical(CodeWord operation, double x, double y, bool* rangeFailed) {
  const int32_t a = ToInteger32(x, rangeFailed);
  if (operation == OP_NOT) return ~a;
  // Both operands are always converted, the left one first, even when the left one failed.
  const int32_t b = ToInteger32(y, rangeFailed);
  if (operation == OP_AND) return a & b;
  if (operation == OP_OR) return a | b;
  return a ^ b;
}

inline double Bessel(CodeWord operation, double x, double y, bool* rangeFailed) {
  int order = 0;
  if (!BesselOrder(x, &order)) {
    *rangeFailed = true;
    return 0.0;
  }
  return operation == OP_JN ? ::jn(order, y) : ::yn(order, y);
}

// Whole powers up to this size are computed by multiplications, which costs a few
// instructions instead of a library call; the result may differ from pow's in the last place.
constexpr int MAX_MULTIPLIED_POWER = 16;

// The exponent when Y is a whole number from -16 to 16 other than 0; else 0.
inline int MultipliedPower(double y) {
  if (!(y >= -MAX_MULTIPLIED_POWER && y <= MAX_MULTIPLIED_POWER)) return 0;
  const int n = static_cast<int>(y);
  return n == y ? n : 0;
}

// X to the n (n > 0) by squaring, in the order machine code writes it: the base is squared for
// each further bit of n, and the product starts at the lowest bit set.
inline double MultiplyPower(double x, int n) {
  double base = x, product = 0.0;
  bool started = false;
  while (n != 0) {
    if (n & 1) product = started ? product * base : base, started = true;
    n >>= 1;
    if (n != 0) base = base * base;
  }
  return product;
}

inline double Power(double x, double y) {
  const int n = MultipliedPower(y);
  if (n > 0) return MultiplyPower(x, n);
  if (n < 0) return 1.0 / MultiplyPower(x, -n);
  return std::pow(x, y);
}

// `condition ? y : z` on the bits, without a branch: a branch on data mispredicts half the time.
inline double Select(bool condition, double y, double z) {
  const uint64_t mask = 0 - static_cast<uint64_t>(condition);
  const uint64_t bits = (Bits(y) & mask) | (Bits(z) & ~mask);
  double result;
  std::memcpy(&result, &bits, sizeof result);
  return result;
}

// The result of one operation on X, Y and Z, the operands in the order they were written (Y and
// Z are ignored by operations that take fewer). `rangeFailed` is set, and the result computed
// with 0 in place of the operand, when a logical operand or a Bessel order is out of range.
inline double Apply(CodeWord operation, double x, double y, double z, KAL_ANGULAR_UNITS units,
                    bool* rangeFailed) {
  switch (operation) {
    case OP_NEG: return -x;
    case OP_ADD: return x + y;
    case OP_SUB: return x - y;
    case OP_MUL: return x * y;
    case OP_DIV: return Divide(x, y);
    case OP_AND:
    case OP_OR:
    case OP_XOR:
    case OP_NOT: return Logical(operation, x, y, rangeFailed);
    case OP_EQ: return Truth(NearlyEqual(x, y));
    case OP_NE: return Truth(!NearlyEqual(x, y));
    case OP_LT: return Truth(x < y);
    case OP_LE: return Truth(x <= y);
    case OP_GT: return Truth(x > y);
    case OP_GE: return Truth(x >= y);
    case OP_ACOS: return FromRadians(std::acos(x), units);
    case OP_ASIN: return FromRadians(std::asin(x), units);
    case OP_ATAN: return FromRadians(std::atan(x), units);
    case OP_CEIL: return std::ceil(x);
    case OP_COS: return std::cos(ToRadians(x, units));
    case OP_COSH: return std::cosh(ToRadians(x, units));
    case OP_EXP: return std::exp(x);
    case OP_FABS: return std::fabs(x);
    case OP_FLOOR: return std::floor(x);
    case OP_LN: return IsZeroBits(x) ? MinusInfinityByDivision() : std::log(x);
    case OP_LOG10: return IsZeroBits(x) ? MinusInfinityByDivision() : std::log10(x);
    case OP_SIN: return std::sin(ToRadians(x, units));
    case OP_SINH: return std::sinh(ToRadians(x, units));
    case OP_SQRT: return std::sqrt(x);
    case OP_TAN: return std::tan(ToRadians(x, units));
    case OP_TANH: return std::tanh(ToRadians(x, units));
    case OP_J0: return ::j0(x);
    case OP_J1: return ::j1(x);
    case OP_Y0: return ::y0(x);
    case OP_Y1: return ::y1(x);
    case OP_RANDU: return RandomUniform(x);
    case OP_D2R: return (PI / 180) * x;
    case OP_R2D: return (180 / PI) * x;
    case OP_ATAN2: return FromRadians(std::atan2(x, y), units);
    case OP_FMOD: return std::fmod(x, y);
    case OP_POW: return Power(x, y);
    case OP_MAX: return x > y ? x : y;
    case OP_MIN: return x < y ? x : y;
    case OP_JN:
    case OP_YN: return Bessel(operation, x, y, rangeFailed);
    case OP_RANDN: return RandomNormal(x, y);
    case OP_IF: return Select(x != 0.0, y, z);
    default: return 0.0;  // callers test the code before
  }
}

inline bool IsInfiniteBits(double x) { return (Bits(x) & MAGNITUDE_MASK) == EXPONENT_MASK; }

// The fault of a C library routine's `result` on X and Y (0 for an absent operand), named from
// the values alone: C libraries disagree on the flags their routines raise (one raises the
// denormal flag whenever it returns a subnormal, another returns 0 for exp(-1000) and raises
// nothing), so flags would name different faults on different systems. A range failure of a
// Bessel order comes first, since the routine never ran. `exact` holds the ExactRule bits.
inline int LibraryFault(unsigned exact, double x, double y, double result, bool rangeFailed) {
  if (rangeFailed) return ERROR_OVERFLOW_RANGE;
  if (IsSubnormalBits(x) || IsSubnormalBits(y)) return ERROR_DENORMAL;
  if (IsNanBits(result)) return ERROR_OVERFLOW;
  const bool xZero = IsZeroBits(x), yZero = IsZeroBits(y);
  if (IsInfiniteBits(result)) {
    const bool pole = ((exact & POLE_AT_X_ZERO) && xZero) || ((exact & POLE_AT_Y_ZERO) && yZero) ||
                      ((exact & POLE_AT_X_ZERO_Y_NEGATIVE) && xZero && y < 0);
    return pole ? ERROR_DIVIDE_BY_ZERO : ERROR_OVERFLOW;
  }
  if (IsSubnormalBits(result)) return ERROR_UNDERFLOW;
  if (!IsZeroBits(result)) return ERROR_NONE;
  const bool exactZero = (exact & ZERO_ANYWHERE) || ((exact & ZERO_AT_X_ZERO) && xZero) ||
                         ((exact & ZERO_AT_X_ONE) && x == 1.0) ||
                         ((exact & ZERO_AT_X_INFINITE) && IsInfiniteBits(x)) ||
                         ((exact & ZERO_AT_Y_ZERO) && yZero) ||
                         ((exact & ZERO_AT_Y_INFINITE) && IsInfiniteBits(y));
  return exactZero ? ERROR_NONE : ERROR_UNDERFLOW;
}

// A result the value tests pass: zero, or a normal double above the smallest one, which a
// product can reach by rounding up from a tiny value (an underflow). On the bits doubled to drop
// the sign: the start and the width of the passing range, as machine code tests them too.
constexpr uint64_t PLAIN_BASE = 0x0010000000000001ull << 1;
constexpr uint64_t PLAIN_WIDTH = 0xFFE0000000000000ull - PLAIN_BASE;
inline bool IsPlainResultBits(double x) {
  const uint64_t doubled = Bits(x) << 1;
  return doubled == 0 || doubled - PLAIN_BASE < PLAIN_WIDTH;
}

// Whether an operation on operands that are normal or zero may have faulted, judged from values
// alone: true sends the run to the interpreter, which names the fault. Library routines are
// judged by their rules; the others by the range of the result, a product or quotient of nonzero
// operands that came out zero, and the difference that = and <> compare, which can overflow or,
// being denormal, fault in the comparison's scaling.
inline bool MayHaveFaulted(CodeWord operation, double x, double y, double result,
                           bool rangeFailed) {
  if (ComputationOf(operation) == BY_LIBRARY)
    return LibraryFault(ExactRuleOf(operation), x, y, result, rangeFailed) != ERROR_NONE;
  if (rangeFailed || !IsPlainResultBits(result)) return true;
  if (operation == OP_MUL || operation == OP_DIV)
    return IsZeroBits(result) && !IsZeroBits(x) && !IsZeroBits(y);
  if (operation == OP_EQ || operation == OP_NE) return !IsNormalOrZeroBits(x - y);
  return false;
}

}  // namespace kalo::math
