// Machine code for x86-64 (System V calling convention).
//
// The emitter consumes the register form (register_form.h). Its temporaries become SSE registers:
// the temporary of stack position p lives in xmm<p>, so the program's value ends in xmm0, where
// a double is returned; an operand read from the pool is loaded into its position's register
// just before the operation. xmm14 and xmm15 are scratch. rbx holds the register file and r12
// the NativeFrame, both preserved across calls of CallApply, which take their operands in
// xmm0..xmm2 after the positions below them are saved to the register file's spill slots.
//
// Three entries share a slot: one row (NativeEntry), a loop over columns (NativeColumnsEntry)
// that runs the same body row after row until a row needs the interpreter's look, and where the
// processor allows, a loop over blocks of rows (native_lanes.cpp).
//
// Every result is tested by value, never by the flags (reading them waits for the arithmetic in
// flight, and the maths library raises flags of its own): an inline result that is not a normal
// double or zero, and a product or quotient of nonzero operands that came out zero, marks the
// run as failed; everything else goes through CallApply, which judges its result as the register
// form does (math::MayHaveFaulted). The code runs only on inputs and literals that are normal or
// zero, where these tests find every fault the interpreter would stop at.
#include <cstddef>
#include <cstring>
#include <mutex>
#include <vector>  // the arena of code memory; never on the compile path

#include "evaluator/evaluator.h"
#include "evaluator/math.h"
#include "evaluator/native_code.h"
#include "evaluator/native_x64.h"
#include "platform/platform.h"

namespace kalo {
namespace {

using namespace x64;  // NOLINT(google-build-using-namespace): the emitter's vocabulary

constexpr size_t SLOT_SIZE = 8192;  // three entries of a 400-word program fit most of the time
constexpr size_t SLOTS_PER_REGION = 256;
constexpr int MAX_NATIVE_DEPTH = 14;  // xmm0..xmm13
constexpr int SCRATCH = 14;
constexpr int INPUT = 15;

// Code memory is mapped in regions of equal slots, and slots are recycled, so that an
// Evaluator takes its slot without a system call in the common case.
class CodeArena {
 public:
  bool Take(NativeCode* code) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (free_.empty() && !Grow()) return false;
    const int slot = free_.back();
    free_.pop_back();
    const Region& region = regions_[static_cast<size_t>(slot) / SLOTS_PER_REGION];
    const size_t offset = (static_cast<size_t>(slot) % SLOTS_PER_REGION) * SLOT_SIZE;
    code->writable = region.writable + offset;
    code->executable = region.executable + offset;
    code->slot = slot;
    return true;
  }

  void Give(NativeCode* code) {
    const std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(code->slot);
  }

 private:
  struct Region {
    uint8_t* writable;
    const uint8_t* executable;
  };

  bool Grow() {
    void* writable = nullptr;
    void* executable = nullptr;
    if (!platform::MapCodeRegion(SLOT_SIZE * SLOTS_PER_REGION, &writable, &executable))
      return false;
    try {
      regions_.push_back(
          {static_cast<uint8_t*>(writable), static_cast<const uint8_t*>(executable)});
      const int first = static_cast<int>((regions_.size() - 1) * SLOTS_PER_REGION);
      for (int i = static_cast<int>(SLOTS_PER_REGION) - 1; i >= 0; --i) free_.push_back(first + i);
    } catch (const std::bad_alloc&) {
      return false;  // the mapping stays unused; it is reclaimed at exit
    }
    return true;
  }

  std::mutex mutex_;
  std::vector<Region> regions_;
  std::vector<int> free_;
};

// Never destroyed: handles the host did not release may still hold slots at exit.
CodeArena& Arena() {
  static CodeArena* arena = new CodeArena;
  return *arena;
}

// Library routines and everything not written inline go through here.
double CallApply(uint32_t operation, NativeFrame* frame, double x, double y, double z) {
  bool rangeFailed = false;
  const double result = math::Apply(operation, x, y, z, frame->units, &rangeFailed);
  if (math::MayHaveFaulted(operation, x, y, result, rangeFailed)) frame->valueTestFailed = 1;
  return result;
}

constexpr int32_t FAILED_OFFSET = static_cast<int32_t>(offsetof(NativeFrame, valueTestFailed));

void Compare(Emitter& e, int target, int source, uint8_t predicate) {
  e.SseRR(0xF2, CMPSD, target, source);
  e.CmpPredicate(predicate);
}

// Turns an all-ones or all-zeros mask in `target` into -1.0 or 0.0.
void MaskToTruth(Emitter& e, int target) {
  e.Load(SCRATCH, MINUS_ONE_REGISTER);
  e.SseRR(0x66, ANDPD, target, SCRATCH);
}

// x < y with the operands as written; the comparison only has "less", so ">" swaps them.
void OrderComparison(Emitter& e, int x, int y, uint8_t predicate, bool swapped) {
  if (swapped) {
    e.MovapdRR(SCRATCH, y);
    Compare(e, SCRATCH, x, predicate);
    e.MovapdRR(x, SCRATCH);
  } else {
    Compare(e, x, y, predicate);
  }
  MaskToTruth(e, x);
}

// The operation at stack positions x (deepest operand) up to x + count - 1, result in xmm<x>.
bool EmitInline(Emitter& e, CodeWord operation, int x) {
  const int y = x + 1, z = x + 2;
  switch (operation) {
    case OP_NEG:
      e.Load(SCRATCH, SIGN_MASK_REGISTER);
      e.SseRR(0x66, XORPD, x, SCRATCH);
      return true;
    case OP_ADD: e.SseRR(0xF2, ADDSD, x, y); return true;
    case OP_SUB: e.SseRR(0xF2, SUBSD, x, y); return true;
    case OP_MUL: e.SseRR(0xF2, MULSD, x, y); return true;
    // 0 / 0 raises the invalid flag here instead of dividing 1 by zero; the interpreter then
    // reproduces the division by zero.
    case OP_DIV: e.SseRR(0xF2, DIVSD, x, y); return true;
    case OP_LT: OrderComparison(e, x, y, CMP_LT, false); return true;
    case OP_LE: OrderComparison(e, x, y, CMP_LE, false); return true;
    case OP_GT: OrderComparison(e, x, y, CMP_LT, true); return true;
    case OP_GE: OrderComparison(e, x, y, CMP_LE, true); return true;
    case OP_FABS:
      e.Load(SCRATCH, MAGNITUDE_MASK_REGISTER);
      e.SseRR(0x66, ANDPD, x, SCRATCH);
      return true;
    // The instruction the maths library uses itself: a negative operand raises the invalid
    // flag, a denormal one the denormal flag, and the interpreter then reports the fault.
    case OP_SQRT: e.SseRR(0xF2, SQRTSD, x, x); return true;
    case OP_D2R:
      e.SseRM(0xF2, MULSD, x, RBX, RegisterOffset(DEGREES_TO_RADIANS_REGISTER));
      return true;
    case OP_R2D:
      e.SseRM(0xF2, MULSD, x, RBX, RegisterOffset(RADIANS_TO_DEGREES_REGISTER));
      return true;
    // maxsd keeps its first operand only when it is the greater, as max(X, Y) does; so for min.
    case OP_MAX: e.SseRR(0xF2, MAXSD, x, y); return true;
    case OP_MIN: e.SseRR(0xF2, MINSD, x, y); return true;
    case OP_IF:
      e.SseRR(0x66, XORPD, SCRATCH, SCRATCH);
      Compare(e, x, SCRATCH, CMP_NEQ);  // all ones when X is not zero, NaN included
      e.SseRR(0x66, ANDPD, y, x);
      e.SseRR(0x66, ANDNPD, x, z);
      e.SseRR(0x66, ORPD, x, y);
      return true;
    default: return false;
  }
}

// xmm<x> to the n-th power by the multiplications of math::MultiplyPower, in its order.
void EmitPower(Emitter& e, int x, int n) {
  const int base = INPUT, product = SCRATCH;
  e.MovapdRR(base, x);
  EmitPowerSteps(
      n, base, product, [&](int to, int from) { e.MovapdRR(to, from); },
      [&](int to, int by) { e.SseRR(0xF2, MULSD, to, by); });
  if (n > 0) {
    e.MovapdRR(x, product);
    return;
  }
  e.Load(x, ONE_REGISTER);
  e.SseRR(0xF2, DIVSD, x, product);
}

// A result that failed the quick range test: xmm<x> holds it, xmm<x + 1> the second operand and
// rdx the first one for the operations that may underflow to zero.
struct ValueCheck {
  bool zeroNeedsZeroOperand;  // a zero result is an underflow unless an operand is zero
  int x;
  size_t jump;  // displacement of the jump to the check's continuation below the code
  size_t back;  // where the run goes on
};

// The checks of one body, in a fixed array: at most one per operation.
struct ValueChecks {
  ValueCheck items[MAX_CODE_WORDS];
  int count = 0;
};

// rax = (bits of xmm<x>, sign dropped) - PLAIN_BASE; not below PLAIN_WIDTH when not plain.
void EmitRangeTest(Emitter& e, int x) {
  e.MovqRX(RAX, x);
  e.AddRR(RAX, RAX);
  e.SubRM(RAX, RBX, RegisterOffset(NORMAL_BASE_REGISTER));
  e.CmpRM(RAX, RBX, RegisterOffset(NORMAL_WIDTH_REGISTER));
}

// Out of the straight path: a zero result is fine unless a product or quotient of nonzero
// operands underflowed to it; anything else fails the run's value test.
void EmitValueCheckTail(Emitter& e, const ValueCheck& check) {
  e.Bind(check.jump, e.position());
  e.MovqRX(RAX, check.x);
  e.AddRR(RAX, RAX);
  const size_t notZero = e.Jcc(NOT_EQUAL);
  size_t fine[3];
  int fineCount = 0;
  if (check.zeroNeedsZeroOperand) {
    e.AddRR(RDX, RDX);  // the first operand, sign dropped
    fine[fineCount++] = e.Jcc(EQUAL);
    e.MovqRX(RAX, check.x + 1);
    e.AddRR(RAX, RAX);
    fine[fineCount++] = e.Jcc(EQUAL);
  } else {
    fine[fineCount++] = e.Jmp();
  }
  e.Bind(notZero, e.position());
  e.MovByteMI(R12, FAILED_OFFSET, 1);
  fine[fineCount++] = e.Jmp();
  for (int i = 0; i < fineCount; ++i) e.Bind(fine[i], check.back);
}

// A call of CallApply: positions below the operands are saved, the operands moved to xmm0..2.
void EmitCall(Emitter& e, CodeWord operation, int x, int count) {
  for (int p = 0; p < x; ++p) e.Store(SPILL_REGISTERS + p, p);
  for (int i = 0; i < count; ++i) e.MovapdRR(i, x + i);
  e.MovRI32(RDI, operation);
  e.MovRR(RSI, R12);
  e.CallAbs(reinterpret_cast<const void*>(&CallApply));
  e.MovapdRR(x, 0);
  for (int p = 0; p < x; ++p) e.Load(p, SPILL_REGISTERS + p);
}

// The register form's operations, the value in xmm0; false when a position has no register.
bool EmitBody(Emitter& e, const RegisterForm& fast, ValueChecks* checks) {
  if (fast.count == 0) {
    e.Load(0, fast.result);
    return true;
  }
  for (int i = 0; i < fast.count; ++i) {
    const RegisterOperation& op = fast.operations[i];
    const CodeWord word = op.operation;
    const int count = OperandCount(word);
    const bool last = i == fast.count - 1;  // it alone writes the result register, position 0
    const int x = last ? 0 : op.target - POOL_REGISTERS;
    if (x < 0 || x + count > MAX_NATIVE_DEPTH) return false;
    const uint16_t operands[3] = {op.x, op.y, op.z};
    for (int k = 0; k < count; ++k) {
      if (!IsTemporary(operands[k]))
        e.Load(x + k, operands[k]);
      else if (operands[k] != POOL_REGISTERS + x + k)
        return false;
    }
    if (last) {
      // The last operation's operands are what an error text would show.
      e.Store(RECORD_TOP_REGISTER, count - 1);
      if (count < 2) e.Load(SCRATCH, ZERO_REGISTER);
      e.Store(RECORD_NEXT_REGISTER, count >= 2 ? count - 2 : SCRATCH);
    }
    if (ComputationOf(word) != BY_INSTRUCTIONS && op.power == 0) {
      EmitCall(e, word, x, count);
      continue;
    }
    // A product, quotient or power is zero only by an underflow, or from a zero first operand
    // (the second of a power, its exponent, is never zero).
    const bool zeroNeedsZeroOperand = MayUnderflowToZero(word) || op.power != 0;
    if (zeroNeedsZeroOperand) e.MovqRX(RDX, x);
    if (op.power != 0)
      EmitPower(e, x, op.power);
    else if (!EmitInline(e, word, x))
      return false;  // the table promises what EmitInline lacks
    if ((MayLeaveTheNormalRange(word) && !op.staysPlain) || op.power != 0) {
      EmitRangeTest(e, x);
      const size_t jump = e.Jcc(NOT_BELOW);
      checks->items[checks->count++] = {zeroNeedsZeroOperand, x, jump, e.position()};
    }
  }
  return true;
}

// double entry(double* registers, NativeFrame* frame): one row, from the register file.
bool EmitRowEntry(Emitter& e, const RegisterForm& fast) {
  ValueChecks checks;
  e.Push(RBX), e.Push(R12), e.SubRI8(RSP, 8);
  e.MovRR(RBX, RDI), e.MovRR(R12, RSI);
  if (!EmitBody(e, fast, &checks)) return false;
  e.AddRI8(RSP, 8), e.Pop(R12), e.Pop(RBX), e.Ret();
  for (int i = 0; i < checks.count; ++i) EmitValueCheckTail(e, checks.items[i]);
  return !e.overflowed();
}

// long entry(double* registers, NativeFrame* frame, double* const* columns, long row, long end):
// rows from `row` on, each read from the columns and its result written back, until `end` or
// the first row with an input that is not normal or zero or a result that fails its test,
// whose index comes back. rbx registers, r12 frame, r13 columns, r14 row, r15 end.
bool EmitColumnsEntry(Emitter& e, const RegisterForm& fast) {
  ValueChecks checks;
  e.Push(RBX), e.Push(R12), e.Push(R13), e.Push(R14), e.Push(R15);
  e.MovRR(RBX, RDI), e.MovRR(R12, RSI), e.MovRR(R13, RDX), e.MovRR(R14, RCX), e.MovRR(R15, R8);
  const size_t loop = e.position();
  e.CmpRR(R14, R15);
  size_t exits[MAX_VARIABLES + 2];
  int exitCount = 0;
  exits[exitCount++] = e.Jcc(NOT_LESS);
  for (int i = 0; i < fast.readCount; ++i) {
    const int variable = fast.readVariables[i];
    e.MovRM(RAX, R13, static_cast<int32_t>(variable * sizeof(double*)));
    e.MovsdXIndexed(INPUT, RAX, R14);
    e.Store(variable, INPUT);
    // Zero passes; otherwise the same range as a result's (the smallest normal goes the slow way).
    e.MovqRX(RAX, INPUT);
    e.AddRR(RAX, RAX);
    const size_t zero = e.Jcc(EQUAL);
    e.SubRM(RAX, RBX, RegisterOffset(NORMAL_BASE_REGISTER));
    e.CmpRM(RAX, RBX, RegisterOffset(NORMAL_WIDTH_REGISTER));
    exits[exitCount++] = e.Jcc(NOT_BELOW);
    e.Bind(zero, e.position());
  }
  e.MovByteMI(R12, FAILED_OFFSET, 0);
  if (!EmitBody(e, fast, &checks)) return false;
  e.CmpByteMI(R12, FAILED_OFFSET, 0);
  exits[exitCount++] = e.Jcc(NOT_EQUAL);
  e.MovRM(RAX, R13, static_cast<int32_t>(fast.assigned * sizeof(double*)));
  e.MovsdIndexedX(RAX, R14, 0);
  e.IncR(R14);
  e.Bind(e.Jmp(), loop);
  for (int i = 0; i < exitCount; ++i) e.Bind(exits[i], e.position());
  e.MovRR(RAX, R14);
  e.Pop(R15), e.Pop(R14), e.Pop(R13), e.Pop(R12), e.Pop(RBX), e.Ret();
  for (int i = 0; i < checks.count; ++i) EmitValueCheckTail(e, checks.items[i]);
  return !e.overflowed();
}

}  // namespace

void ReserveNativeCode(NativeCode* code) {
  if (!Arena().Take(code)) *code = NativeCode{};
}

void ReleaseNativeCode(NativeCode* code) {
  if (code->slot >= 0) Arena().Give(code);
  *code = NativeCode{};
}

namespace {
template <typename Entry>
Entry EntryAt(const uint8_t* code) {
  return reinterpret_cast<Entry>(const_cast<uint8_t*>(code));
}
}  // namespace

void CompileNativeCode(const RegisterForm& fast, NativeCode* code) {
  code->entry = nullptr;
  code->columnsEntry = nullptr;
  code->lanesEntry = nullptr;
  code->columnsStart = 0;
  if (code->writable == nullptr || !fast.usable || !fast.literalsNormalOrZero) return;
  Emitter row(code->writable, SLOT_SIZE);
  if (!EmitRowEntry(row, fast)) return;
  code->entry = EntryAt<NativeEntry>(code->executable);
  row.Align16();
  if (!row.overflowed()) code->columnsStart = static_cast<uint32_t>(row.position());
}

void WriteColumnsEntries(const RegisterForm& fast, NativeCode* code) {
  const size_t start = code->columnsStart;
  if (start == 0) return;
  code->columnsStart = 0;  // one attempt per compilation
  Emitter columns(code->writable + start, SLOT_SIZE - start);
  if (!EmitColumnsEntry(columns, fast)) return;
  code->columnsEntry = EntryAt<NativeColumnsEntry>(code->executable + start);
  if (!LanesAvailable()) return;
  columns.Align16();
  if (columns.overflowed()) return;
  const size_t lanesStart = start + columns.position();
  Emitter lanes(code->writable + lanesStart, SLOT_SIZE - lanesStart);
  if (EmitLanesEntry(lanes, fast))
    code->lanesEntry = EntryAt<NativeColumnsEntry>(code->executable + lanesStart);
}

}  // namespace kalo
