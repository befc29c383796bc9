// Machine code for x86-64 (System V calling convention).
//
// The evaluation stack becomes the SSE registers: stack position p lives in xmm<p>, so the
// program's value ends in xmm0, where a double is returned. xmm14 and xmm15 are scratch. rbx
// holds the register file and r12 the Evaluator, both preserved across library calls, which
// take their operands in xmm0..xmm2 after the positions below them are saved to memory.
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
#include <vector>

#include "evaluator/evaluator.h"
#include "evaluator/math.h"
#include "evaluator/native_code.h"
#include "platform/platform.h"

namespace kalo {
namespace {

constexpr size_t SLOT_SIZE = 4096;
constexpr size_t SLOTS_PER_REGION = 256;
constexpr int MAX_NATIVE_DEPTH = 14;  // xmm0..xmm13
constexpr int SCRATCH = 14;

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
double CallApply(uint32_t operation, Evaluator* evaluator, double x, double y, double z) {
  bool rangeFailed = false;
  const double result = math::Apply(operation, x, y, z, evaluator->angularUnits, &rangeFailed);
  if (math::MayHaveFaulted(operation, x, y, result, rangeFailed))
    evaluator->fast.valueTestFailed = true;
  return result;
}

int32_t RegisterOffset(int index) { return static_cast<int32_t>(index * sizeof(double)); }

// Appends instructions to a slot; `overflowed` once it is full.
class Emitter {
 public:
  explicit Emitter(uint8_t* buffer) : buffer_(buffer) {}

  bool overflowed() const { return overflowed_; }
  size_t position() const { return size_; }

  // A jump (0F 8x rel32 or E9 rel32) whose target is set later with Target.
  size_t Jump(std::initializer_list<uint8_t> opcode) {
    Bytes(opcode);
    const size_t at = size_;
    Int32(0);
    return at;
  }
  // Points the jump whose displacement is at `at` to `target`.
  void Target(size_t at, size_t target) {
    if (overflowed_ || at + 4 > SLOT_SIZE) return;
    const int32_t displacement = static_cast<int32_t>(target) - static_cast<int32_t>(at + 4);
    for (int i = 0; i < 4; ++i)
      buffer_[at + static_cast<size_t>(i)] =
          static_cast<uint8_t>(static_cast<uint32_t>(displacement) >> (8 * i));
  }

  // movq <general register>, xmm (66 REX.W 0F 7E): 0 is rax, 2 is rdx.
  void MoveToGeneral(int general, int xmm) {
    Bytes({0x66, static_cast<uint8_t>(0x48 | ((xmm & 8) ? 4 : 0)), 0x0F, 0x7E,
           static_cast<uint8_t>(0xC0 | ((xmm & 7) << 3) | general)});
  }

  void Bytes(std::initializer_list<uint8_t> bytes) {
    for (uint8_t byte : bytes) Byte(byte);
  }

  // prefix [REX] 0F opcode, register to register (mod 11).
  void SseRegister(uint8_t prefix, uint8_t opcode, int target, int source) {
    Byte(prefix);
    Rex(target, source);
    Bytes({0x0F, opcode, static_cast<uint8_t>(0xC0 | ((target & 7) << 3) | (source & 7))});
  }

  // prefix [REX] 0F opcode, register and [rbx + register file offset].
  void SseMemory(uint8_t prefix, uint8_t opcode, int xmm, int registerIndex) {
    Byte(prefix);
    Rex(xmm, 0);
    Bytes({0x0F, opcode, static_cast<uint8_t>(0x83 | ((xmm & 7) << 3))});
    Int32(RegisterOffset(registerIndex));
  }

  void Load(int xmm, int registerIndex) { SseMemory(0xF2, 0x10, xmm, registerIndex); }
  void Store(int registerIndex, int xmm) { SseMemory(0xF2, 0x11, xmm, registerIndex); }
  void Move(int target, int source) {
    if (target != source) SseRegister(0x66, 0x28, target, source);
  }

  void Int32(int32_t value) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
  }
  void Int64(uint64_t value) {
    for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(value >> (8 * i)));
  }

 private:
  void Rex(int reg, int rm) {
    const uint8_t rex = static_cast<uint8_t>(0x40 | ((reg & 8) ? 4 : 0) | ((rm & 8) ? 1 : 0));
    if (rex != 0x40) Byte(rex);
  }
  void Byte(uint8_t byte) {
    if (size_ == SLOT_SIZE) {
      overflowed_ = true;
      return;
    }
    buffer_[size_++] = byte;
  }

  uint8_t* buffer_;
  size_t size_ = 0;
  bool overflowed_ = false;
};

// Scalar double opcodes (prefix F2) and packed logic (prefix 66).
constexpr uint8_t SQRTSD = 0x51, ADDSD = 0x58, MULSD = 0x59, SUBSD = 0x5C, MINSD = 0x5D,
                  DIVSD = 0x5E, MAXSD = 0x5F, CMPSD = 0xC2, ANDPD = 0x54, ANDNPD = 0x55,
                  ORPD = 0x56, XORPD = 0x57;
constexpr uint8_t CMP_LT = 1, CMP_LE = 2, CMP_NEQ = 4;

void Compare(Emitter& e, int target, int source, uint8_t predicate) {
  e.SseRegister(0xF2, CMPSD, target, source);
  e.Bytes({predicate});
}

// Turns an all-ones or all-zeros mask in `target` into -1.0 or 0.0.
void MaskToTruth(Emitter& e, int target) {
  e.Load(SCRATCH, MINUS_ONE_REGISTER);
  e.SseRegister(0x66, ANDPD, target, SCRATCH);
}

// x < y with the operands as written; the comparison only has "less", so ">" swaps them.
void OrderComparison(Emitter& e, int x, int y, uint8_t predicate, bool swapped) {
  if (swapped) {
    e.Move(SCRATCH, y);
    Compare(e, SCRATCH, x, predicate);
    e.Move(x, SCRATCH);
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
      e.SseRegister(0x66, XORPD, x, SCRATCH);
      return true;
    case OP_ADD: e.SseRegister(0xF2, ADDSD, x, y); return true;
    case OP_SUB: e.SseRegister(0xF2, SUBSD, x, y); return true;
    case OP_MUL: e.SseRegister(0xF2, MULSD, x, y); return true;
    // 0 / 0 raises the invalid flag here instead of dividing 1 by zero; the interpreter then
    // reproduces the division by zero.
    case OP_DIV: e.SseRegister(0xF2, DIVSD, x, y); return true;
    case OP_LT: OrderComparison(e, x, y, CMP_LT, false); return true;
    case OP_LE: OrderComparison(e, x, y, CMP_LE, false); return true;
    case OP_GT: OrderComparison(e, x, y, CMP_LT, true); return true;
    case OP_GE: OrderComparison(e, x, y, CMP_LE, true); return true;
    case OP_FABS:
      e.Load(SCRATCH, MAGNITUDE_MASK_REGISTER);
      e.SseRegister(0x66, ANDPD, x, SCRATCH);
      return true;
    // The instruction the maths library uses itself: a negative operand raises the invalid
    // flag, a denormal one the denormal flag, and the interpreter then reports the fault.
    case OP_SQRT: e.SseRegister(0xF2, SQRTSD, x, x); return true;
    case OP_D2R: e.SseMemory(0xF2, MULSD, x, DEGREES_TO_RADIANS_REGISTER); return true;
    case OP_R2D: e.SseMemory(0xF2, MULSD, x, RADIANS_TO_DEGREES_REGISTER); return true;
    // maxsd keeps its first operand only when it is the greater, as max(X, Y) does; so for min.
    case OP_MAX: e.SseRegister(0xF2, MAXSD, x, y); return true;
    case OP_MIN: e.SseRegister(0xF2, MINSD, x, y); return true;
    case OP_IF:
      e.SseRegister(0x66, XORPD, SCRATCH, SCRATCH);
      Compare(e, x, SCRATCH, CMP_NEQ);  // all ones when X is not zero, NaN included
      e.SseRegister(0x66, ANDPD, y, x);
      e.SseRegister(0x66, ANDNPD, x, z);
      e.SseRegister(0x66, ORPD, x, y);
      return true;
    default: return false;
  }
}

// Operations whose result may leave the normal range although their operands are in it.
// Comparisons, max, min, if, negation and magnitude only pass on or make normal values.
bool MayLeaveTheNormalRange(CodeWord operation) {
  return operation == OP_ADD || operation == OP_SUB || operation == OP_MUL || operation == OP_DIV ||
         operation == OP_SQRT || operation == OP_D2R || operation == OP_R2D;
}

// Only a product or quotient can underflow to an exact zero; a sum of doubles that small is
// exact, and so is a square root.
bool MayUnderflowToZero(CodeWord operation) { return operation == OP_MUL || operation == OP_DIV; }

// A result that failed the quick range test: xmm<x> holds it, xmm<x + 1> the second operand and
// rdx the first one for the operations that may underflow to zero.
struct ValueCheck {
  CodeWord operation;
  int x;
  size_t jump;  // displacement of the jump to the check's continuation below the code
  size_t back;  // where the run goes on
};

// rax = (bits of xmm<x>, sign dropped) - NORMAL_BASE; above NORMAL_WIDTH when not normal.
void EmitRangeTest(Emitter& e, int x) {
  e.MoveToGeneral(0, x);
  e.Bytes({0x48, 0x01, 0xC0});  // add rax, rax
  e.Bytes({0x48, 0x2B, 0x83});  // sub rax, [rbx + base]
  e.Int32(RegisterOffset(NORMAL_BASE_REGISTER));
  e.Bytes({0x48, 0x3B, 0x83});  // cmp rax, [rbx + width]
  e.Int32(RegisterOffset(NORMAL_WIDTH_REGISTER));
}

// Out of the straight path: a zero result is fine unless a product or quotient of nonzero
// operands underflowed to it; anything else fails the run's value test.
void EmitValueCheckTail(Emitter& e, const ValueCheck& check, int32_t failedOffset) {
  e.Target(check.jump, e.position());
  e.MoveToGeneral(0, check.x);
  e.Bytes({0x48, 0x01, 0xC0});                  // add rax, rax
  const size_t notZero = e.Jump({0x0F, 0x85});  // jnz mark
  std::vector<size_t> fine;
  if (MayUnderflowToZero(check.operation)) {
    e.Bytes({0x48, 0x01, 0xD2});           // add rdx, rdx: the first operand, sign dropped
    fine.push_back(e.Jump({0x0F, 0x84}));  // jz back
    e.MoveToGeneral(0, check.x + 1);
    e.Bytes({0x48, 0x01, 0xC0});           // add rax, rax
    fine.push_back(e.Jump({0x0F, 0x84}));  // jz back
  } else {
    fine.push_back(e.Jump({0xE9}));  // jmp back
  }
  e.Target(notZero, e.position());
  e.Bytes({0x41, 0xC6, 0x84, 0x24});  // mov byte [r12 + valueTestFailed], 1
  e.Int32(failedOffset);
  e.Bytes({0x01});
  fine.push_back(e.Jump({0xE9}));
  for (size_t jump : fine) e.Target(jump, check.back);
}

// A call of CallApply: positions below the operands are saved, the operands moved to xmm0..2.
void EmitCall(Emitter& e, CodeWord operation, int x, int count) {
  for (int p = 0; p < x; ++p) e.Store(SPILL_REGISTERS + p, p);
  for (int i = 0; i < count; ++i) e.Move(i, x + i);
  e.Bytes({0xBF});  // mov edi, operation
  e.Int32(static_cast<int32_t>(operation));
  e.Bytes({0x4C, 0x89, 0xE6});  // mov rsi, r12
  e.Bytes({0x48, 0xB8});        // mov rax, CallApply
  e.Int64(reinterpret_cast<uint64_t>(&CallApply));
  e.Bytes({0xFF, 0xD0});  // call rax
  e.Move(x, 0);
  for (int p = 0; p < x; ++p) e.Load(p, SPILL_REGISTERS + p);
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

// Writes the program into the slot; false when it does not fit.
bool EmitProgram(const Program& program, const Evaluator& evaluator, uint8_t* slot) {
  const int32_t failedOffset =
      static_cast<int32_t>(reinterpret_cast<const uint8_t*>(&evaluator.fast.valueTestFailed) -
                           reinterpret_cast<const uint8_t*>(&evaluator));
  std::vector<ValueCheck> checks;
  Emitter e(slot);
  e.Bytes({0x53, 0x41, 0x54, 0x48, 0x83, 0xEC, 0x08});  // push rbx; push r12; sub rsp, 8
  e.Bytes({0x48, 0x89, 0xFB, 0x49, 0x89, 0xF4});        // mov rbx, rdi; mov r12, rsi
  int depth = 0;
  int operation = 0;
  for (int i = 0; i < program.codeCount; ++i) {
    const CodeWord word = program.code[i];
    if (IsOperand(word)) {
      if (depth == MAX_NATIVE_DEPTH) return false;
      e.Load(depth++, OperandSlot(word));
      continue;
    }
    const int count = OperandCount(word);
    const int x = depth - count;
    if (++operation == evaluator.fast.count) {
      // The last operation's operands are what an error text would show.
      e.Store(RECORD_TOP_REGISTER, depth - 1);
      if (depth < 2) e.Load(SCRATCH, ZERO_REGISTER);
      e.Store(RECORD_NEXT_REGISTER, depth >= 2 ? depth - 2 : SCRATCH);
    }
    if (MayUnderflowToZero(word)) e.MoveToGeneral(2, x);  // rdx: first operand
    if (ComputationOf(word) != BY_INSTRUCTIONS) {
      EmitCall(e, word, x, count);
      depth = x + 1;
      continue;
    }
    if (!EmitInline(e, word, x)) return false;  // the table promises what EmitInline lacks
    if (MayLeaveTheNormalRange(word)) {
      EmitRangeTest(e, x);
      const size_t jump = e.Jump({0x0F, 0x83});  // jae: not normal, or zero
      checks.push_back({word, x, jump, e.position()});
    }
    depth = x + 1;
  }
  e.Bytes({0x48, 0x83, 0xC4, 0x08, 0x41, 0x5C, 0x5B, 0xC3});  // add rsp, 8; pop r12; pop rbx; ret
  for (const ValueCheck& check : checks) EmitValueCheckTail(e, check, failedOffset);
  return !e.overflowed() && depth == 1;
}

}  // namespace

void CompileNativeCode(const Program& program, Evaluator& evaluator) {
  NativeCode& native = evaluator.fast.native;
  native.entry = nullptr;
  if (native.writable == nullptr || !evaluator.fast.literalsNormalOrZero) return;
  if (EmitProgram(program, evaluator, native.writable)) native.entry = native.executable;
}

}  // namespace kalo
