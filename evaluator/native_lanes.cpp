// Machine code that evaluates four rows per instruction (AVX2), for programs whose operations are
// all written inline: no library routine, no host function, no random draw.
//
// The four rows of a block sit in the four lanes of a ymm register; the temporary of stack
// position p lives in ymm<p>, as it does in xmm<p> one row at a time, and every lane goes
// through the very instruction the row-at-a-time code executes, so each lane holds the bits that
// code would compute. The value tests are those of that code, lane by lane, on the bits: the
// lanes that fail one are OR-ed into one mask, tested once per block. A block with any such lane
// is left unwritten and the loop returns its first row: the caller runs those rows one by one,
// which finds the row at fault and its record.
#include <cpuid.h>

#include <cstdlib>
#include <cstring>

#include "evaluator/native_x64.h"

namespace kalo {
namespace {

using namespace x64;  // NOLINT(google-build-using-namespace): the emitter's vocabulary

constexpr int LANE_DEPTH = 12;    // ymm0..ymm11 hold stack positions
constexpr int DOUBT = 12;         // the lanes that failed a test in this block
constexpr int ZERO_OPERAND = 13;  // the lanes where a zero result is exact
constexpr int SCRATCH = 14;
constexpr int INPUT = 15;

bool AllInline(const RegisterForm& fast) {
  for (int i = 0; i < fast.count; ++i) {
    const RegisterOperation& op = fast.operations[i];
    if (ComputationOf(op.operation) != BY_INSTRUCTIONS && op.power == 0) return false;
  }
  return true;
}

// The general registers that hold the first columns' addresses, free in a loop that calls
// nothing; none is rbp or r13, which cannot be a base without a displacement.
constexpr int COLUMN_BASES[] = {RCX, RDX, RSI, RDI, R8, R9, R10, R11};
constexpr int COLUMN_BASE_COUNT = sizeof COLUMN_BASES / sizeof COLUMN_BASES[0];

// Where the block's rows of slot `index` are: in a column whose address is in the returned
// register (rax after a load when it has none of its own), or -1 for a value the same in every row.
int ColumnBase(Emitter& e, const RegisterForm& fast, int index) {
  for (int i = 0; i < fast.readCount; ++i) {
    if (fast.readVariables[i] != index) continue;
    if (i < COLUMN_BASE_COUNT) return COLUMN_BASES[i];
    e.MovRM(RAX, R13, static_cast<int32_t>(index * sizeof(double*)));
    return RAX;
  }
  return -1;
}

void LoadColumnBases(Emitter& e, const RegisterForm& fast) {
  for (int i = 0; i < fast.readCount && i < COLUMN_BASE_COUNT; ++i)
    e.MovRM(COLUMN_BASES[i], R13, static_cast<int32_t>(fast.readVariables[i] * sizeof(double*)));
}

// Register-file slot `index` into ymm<target>: a variable's four rows from its column at row r14,
// any other value copied to every lane.
void LoadLanes(Emitter& e, const RegisterForm& fast, int target, int index) {
  const int base = ColumnBase(e, fast, index);
  if (base >= 0)
    e.VexIndexed(VMOVUPD_LOAD, target, base, R14);
  else
    e.VexRM(VBROADCASTSD, target, 0, RBX, RegisterOffset(index));
}

void Broadcast(Emitter& e, int target, int index) {
  e.VexRM(VBROADCASTSD, target, 0, RBX, RegisterOffset(index));
}

void CompareLanes(Emitter& e, int target, int first, int second, uint8_t predicate) {
  e.VexRR(VCMPPD, target, first, second);
  e.CmpPredicate(predicate);
}

// Adds to DOUBT the lanes of ymm<v> that are neither plain (math::IsPlainResultBits) nor a zero
// that may stand; with `zeroNeedsZeroOperand`, a zero stands only in the lanes ZERO_OPERAND marks.
void TestLanes(Emitter& e, int v, bool zeroNeedsZeroOperand) {
  e.VexRR(VPADDQ, SCRATCH, v, v);  // the sign dropped
  e.VexRM(VPADDQ, SCRATCH, SCRATCH, RBX, RegisterOffset(LANE_PLAIN_SHIFT_REGISTERS));
  e.VexRM(VPCMPGTQ, SCRATCH, SCRATCH, RBX, RegisterOffset(LANE_PLAIN_LIMIT_REGISTERS));
  e.VexRM(VCMPPD, INPUT, v, RBX, RegisterOffset(LANE_ZERO_REGISTERS));
  e.CmpPredicate(CMP_EQ);
  if (zeroNeedsZeroOperand) e.VexRR(VANDPD, INPUT, INPUT, ZERO_OPERAND);
  e.VexRR(VPANDN, SCRATCH, INPUT, SCRATCH);
  e.VexRR(VPOR, DOUBT, DOUBT, SCRATCH);
}

// Before a product, quotient or power overwrites ymm<x>: the lanes where an operand is zero.
void MarkZeroOperands(Emitter& e, int x, bool secondToo) {
  e.VexRM(VCMPPD, ZERO_OPERAND, x, RBX, RegisterOffset(LANE_ZERO_REGISTERS));
  e.CmpPredicate(CMP_EQ);
  if (!secondToo) return;
  e.VexRM(VCMPPD, SCRATCH, x + 1, RBX, RegisterOffset(LANE_ZERO_REGISTERS));
  e.CmpPredicate(CMP_EQ);
  e.VexRR(VPOR, ZERO_OPERAND, ZERO_OPERAND, SCRATCH);
}

// The last operation's operands, which an error text would show, for the block's last row.
void SaveRecordOperands(Emitter& e, int count) {
  e.VexRM(VMOVUPD_STORE, count - 1, 0, RBX, RegisterOffset(LANE_RECORD_TOP_REGISTERS));
  if (count < 2) e.VexRR(VXORPD, SCRATCH, SCRATCH, SCRATCH);
  const int next = count >= 2 ? count - 2 : SCRATCH;
  e.VexRM(VMOVUPD_STORE, next, 0, RBX, RegisterOffset(LANE_RECORD_NEXT_REGISTERS));
}

// A comparison's mask to -1.0 or 0.0, as the row-at-a-time code makes it.
void MaskToTruth(Emitter& e, int x) {
  Broadcast(e, SCRATCH, MINUS_ONE_REGISTER);
  e.VexRR(VANDPD, x, x, SCRATCH);
}

// The packed twin of the row-at-a-time EmitInline, operation by operation.
bool EmitLaneInline(Emitter& e, CodeWord operation, int x) {
  const int y = x + 1, z = x + 2;
  switch (operation) {
    case OP_NEG:
      Broadcast(e, SCRATCH, SIGN_MASK_REGISTER);
      e.VexRR(VXORPD, x, x, SCRATCH);
      return true;
    case OP_ADD: e.VexRR(VADDPD, x, x, y); return true;
    case OP_SUB: e.VexRR(VSUBPD, x, x, y); return true;
    case OP_MUL: e.VexRR(VMULPD, x, x, y); return true;
    case OP_DIV: e.VexRR(VDIVPD, x, x, y); return true;
    case OP_LT: CompareLanes(e, x, x, y, CMP_LT), MaskToTruth(e, x); return true;
    case OP_LE: CompareLanes(e, x, x, y, CMP_LE), MaskToTruth(e, x); return true;
    case OP_GT: CompareLanes(e, x, y, x, CMP_LT), MaskToTruth(e, x); return true;
    case OP_GE: CompareLanes(e, x, y, x, CMP_LE), MaskToTruth(e, x); return true;
    case OP_FABS:
      Broadcast(e, SCRATCH, MAGNITUDE_MASK_REGISTER);
      e.VexRR(VANDPD, x, x, SCRATCH);
      return true;
    case OP_SQRT: e.VexRR(VSQRTPD, x, 0, x); return true;
    case OP_D2R:
    case OP_R2D:
      Broadcast(e, SCRATCH,
                operation == OP_D2R ? DEGREES_TO_RADIANS_REGISTER : RADIANS_TO_DEGREES_REGISTER);
      e.VexRR(VMULPD, x, x, SCRATCH);
      return true;
    case OP_MAX: e.VexRR(VMAXPD, x, x, y); return true;
    case OP_MIN: e.VexRR(VMINPD, x, x, y); return true;
    case OP_IF:
      e.VexRR(VXORPD, SCRATCH, SCRATCH, SCRATCH);
      CompareLanes(e, x, x, SCRATCH, CMP_NEQ);  // all ones where X is not zero, NaN included
      e.Blend(x, z, y, x);
      return true;
    default: return false;
  }
}

// ymm<x> to the n-th power by the multiplications of math::MultiplyPower, in its order.
void EmitLanePower(Emitter& e, int x, int n) {
  const int base = INPUT, product = SCRATCH;
  e.VexRR(VMOVAPD, base, 0, x);
  EmitPowerSteps(
      n, base, product, [&](int to, int from) { e.VexRR(VMOVAPD, to, 0, from); },
      [&](int to, int by) { e.VexRR(VMULPD, to, to, by); });
  if (n > 0) {
    e.VexRR(VMOVAPD, x, 0, product);
    return;
  }
  Broadcast(e, x, ONE_REGISTER);
  e.VexRR(VDIVPD, x, x, product);
}

// The register form's operations on four rows, the values in ymm0; false when a position has
// no register or an operation is not inline.
bool EmitLaneBody(Emitter& e, const RegisterForm& fast) {
  if (fast.count == 0) {
    LoadLanes(e, fast, 0, fast.result);
    return true;
  }
  for (int i = 0; i < fast.count; ++i) {
    const RegisterOperation& op = fast.operations[i];
    const CodeWord word = op.operation;
    const int count = OperandCount(word);
    const int x = i == fast.count - 1 ? 0 : op.target - POOL_REGISTERS;
    if (x < 0 || x + count > LANE_DEPTH) return false;
    const uint16_t operands[3] = {op.x, op.y, op.z};
    for (int k = 0; k < count; ++k) {
      if (!IsTemporary(operands[k]))
        LoadLanes(e, fast, x + k, operands[k]);
      else if (operands[k] != POOL_REGISTERS + x + k)
        return false;
    }
    if (i == fast.count - 1) SaveRecordOperands(e, count);
    // A power's second operand is its exponent, never zero.
    const bool zeroNeedsZeroOperand = MayUnderflowToZero(word) || op.power != 0;
    if (zeroNeedsZeroOperand) MarkZeroOperands(e, x, op.power == 0);
    if (op.power != 0)
      EmitLanePower(e, x, op.power);
    else if (!EmitLaneInline(e, word, x))
      return false;
    if ((MayLeaveTheNormalRange(word) && !op.staysPlain) || op.power != 0)
      TestLanes(e, x, zeroNeedsZeroOperand);
  }
  return true;
}

bool HasAvx2() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_max(0, nullptr) < 7 || !__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const unsigned OSXSAVE = 1u << 27, AVX = 1u << 28, AVX2 = 1u << 5;
  if ((ecx & (OSXSAVE | AVX)) != (OSXSAVE | AVX)) return false;
  // The operating system saves the ymm registers across a switch of threads (XCR0 bits 1, 2).
  unsigned xcr0 = 0, xcr0High = 0;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
  if ((xcr0 & 6u) != 6u) return false;
  __cpuid_count(7, 0, eax, ebx, ecx, edx);
  return (ebx & AVX2) != 0;
}

bool SwitchedOff() {
  const char* value = std::getenv("KALO_SIMD");
  return value != nullptr && std::strcmp(value, "0") == 0;
}

}  // namespace

bool LanesAvailable() {
  static const bool available = HasAvx2() && !SwitchedOff();
  return available;
}

// rbx registers, r13 columns, r14 row, r15 end; no call, so no frame and no alignment.
bool EmitLanesEntry(Emitter& e, const RegisterForm& fast) {
  if (!AllInline(fast)) return false;
  e.Push(RBX), e.Push(R13), e.Push(R14), e.Push(R15);
  e.MovRR(RBX, RDI), e.MovRR(R13, RDX), e.MovRR(R14, RCX), e.MovRR(R15, R8);
  LoadColumnBases(e, fast);
  const size_t loop = e.position();
  e.MovRR(RAX, R14);
  e.AddRI8(RAX, static_cast<int8_t>(LANE_COUNT));
  e.CmpRR(RAX, R15);
  const size_t past = e.Jcc(GREATER);
  e.VexRR(VPXOR, DOUBT, DOUBT, DOUBT);
  for (int i = 0; i < fast.readCount; ++i) {
    LoadLanes(e, fast, INPUT, fast.readVariables[i]);
    TestLanes(e, INPUT, false);
  }
  if (!EmitLaneBody(e, fast)) return false;
  e.VexRR(VPTEST, DOUBT, 0, DOUBT);
  const size_t doubt = e.Jcc(NOT_EQUAL);
  e.MovRM(RAX, R13, static_cast<int32_t>(fast.assigned * sizeof(double*)));
  e.VexIndexed(VMOVUPD_STORE, 0, RAX, R14);
  e.AddRI8(R14, static_cast<int8_t>(LANE_COUNT));
  e.Bind(e.Jmp(), loop);
  e.Bind(past, e.position());
  e.Bind(doubt, e.position());
  e.MovRR(RAX, R14);
  e.VZeroUpper();  // the C code after it would pay for dirty upper halves on every SSE instruction
  e.Pop(R15), e.Pop(R14), e.Pop(R13), e.Pop(RBX), e.Ret();
  return !e.overflowed();
}

}  // namespace kalo
