// What the two x86-64 emitters share: one row at a time (native_x64.cpp) and four rows per
// instruction (native_lanes.cpp), both written from the register form.
#pragma once

#include "evaluator/native_code.h"
#include "evaluator/register_form.h"
#include "evaluator/x64_emitter.h"
#include "expression/operations.h"

namespace kalo {

inline bool IsTemporary(int index) { return index >= POOL_REGISTERS && index < ZERO_REGISTER; }

// Operations whose result may leave the normal range although their operands are in it.
// Comparisons, max, min, if, negation and magnitude only pass on or make normal values.
inline bool MayLeaveTheNormalRange(CodeWord operation) {
  return operation == OP_ADD || operation == OP_SUB || operation == OP_MUL || operation == OP_DIV ||
         operation == OP_SQRT || operation == OP_D2R || operation == OP_R2D;
}

// Only a product or quotient can underflow to an exact zero; a sum of doubles that small is
// exact, and so is a square root.
inline bool MayUnderflowToZero(CodeWord operation) {
  return operation == OP_MUL || operation == OP_DIV;
}

// The multiplications of math::MultiplyPower for |n|, in its order, as moves and products of
// registers: `base` holds x and is squared, `product` gathers the powers the bits of |n| name.
template <typename Move, typename Multiply>
void EmitPowerSteps(int n, int base, int product, Move move, Multiply multiply) {
  bool started = false;
  for (int m = n < 0 ? -n : n; m != 0;) {
    if (m & 1) {
      if (started)
        multiply(product, base);
      else
        move(product, base);
      started = true;
    }
    m >>= 1;
    if (m != 0) multiply(base, base);
  }
}

// Whether the processor and the operating system run AVX2 code (cpuid and xgetbv) and the
// environment did not set KALO_SIMD=0, both read at the first call: the loop over blocks of rows
// is written only then, so tests and benchmarks can compare it with the row-by-row loop.
bool LanesAvailable();

// long entry(double* registers, NativeFrame*, double* const* columns, long row, long end): blocks
// of LANE_COUNT rows from `row`, each whole block up to `end`, until one needs a closer look;
// returns the first row not evaluated, with the last operation's operands of the last block
// evaluated in the LANE_RECORD registers. False when the program has an operation that is not
// written inline, or does not fit.
bool EmitLanesEntry(x64::Emitter& e, const RegisterForm& fast);

}  // namespace kalo
