// An x86-64 instruction encoder over a fixed buffer, shared by the emitters of machine code
// (native_x64.cpp one row at a time, native_lanes.cpp four rows per instruction).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace kalo::x64 {

// The byte offset of register-file slot `index` from rbx.
inline int32_t RegisterOffset(int index) { return static_cast<int32_t>(index * sizeof(double)); }

// General registers by their encoding.
enum Gpr : int { RAX = 0, RCX = 1, RDX = 2, RBX = 3, RSP = 4, RSI = 6, RDI = 7, R8 = 8 };
constexpr int R9 = 9, R10 = 10, R11 = 11, R12 = 12, R13 = 13, R14 = 14, R15 = 15;

// Conditions of Jcc (0F 80+cc).
enum Condition : uint8_t {
  BELOW = 0x2,
  NOT_BELOW = 0x3,
  EQUAL = 0x4,
  NOT_EQUAL = 0x5,
  NOT_LESS = 0xD,
  GREATER = 0xF
};

// Scalar double opcodes (prefix F2) and packed logic (prefix 66), after 0F.
constexpr uint8_t MOVSD_LOAD = 0x10, MOVSD_STORE = 0x11, MOVAPD = 0x28, SQRTSD = 0x51, ADDSD = 0x58,
                  MULSD = 0x59, SUBSD = 0x5C, MINSD = 0x5D, DIVSD = 0x5E, MAXSD = 0x5F,
                  CMPSD = 0xC2, ANDPD = 0x54, ANDNPD = 0x55, ORPD = 0x56, XORPD = 0x57;
constexpr uint8_t CMP_LT = 1, CMP_LE = 2, CMP_NEQ = 4, CMP_EQ = 0;

// A VEX-encoded instruction: its legacy prefix (pp: 1 = 66), opcode map (1 = 0F, 2 = 0F38,
// 3 = 0F3A) and opcode. Every one used here is W0 (or ignores W) and runs on 256 bits.
struct VexOp {
  uint8_t pp, map, opcode;
};
// clang-format off
constexpr VexOp VMOVUPD_LOAD{1, 1, 0x10}, VMOVUPD_STORE{1, 1, 0x11}, VMOVAPD{1, 1, 0x28},
    VMOVMSKPD{1, 1, 0x50}, VSQRTPD{1, 1, 0x51}, VANDPD{1, 1, 0x54}, VXORPD{1, 1, 0x57},
    VADDPD{1, 1, 0x58}, VMULPD{1, 1, 0x59}, VSUBPD{1, 1, 0x5C}, VMINPD{1, 1, 0x5D},
    VDIVPD{1, 1, 0x5E}, VMAXPD{1, 1, 0x5F}, VCMPPD{1, 1, 0xC2}, VPADDQ{1, 1, 0xD4},
    VPANDN{1, 1, 0xDF}, VPOR{1, 1, 0xEB}, VPXOR{1, 1, 0xEF}, VPTEST{1, 2, 0x17},
    VBROADCASTSD{1, 2, 0x19}, VPCMPGTQ{1, 2, 0x37}, VBLENDVPD{1, 3, 0x4B};
// clang-format on

// x86-64 instructions by name, appended to a fixed buffer; `overflowed` once it is full. Memory
// operands are [base + disp32] or [base + index * 8].
class Emitter {
 public:
  Emitter(uint8_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  bool overflowed() const { return overflowed_; }
  size_t position() const { return size_; }

  // --- General registers, 64 bits ---
  void Push(int r) { Short(r, 0x50); }
  void Pop(int r) { Short(r, 0x58); }
  void MovRR(int target, int source) { RegReg(0, true, {0x89}, source, target); }
  void MovRM(int target, int base, int32_t disp) { RegMem(0, true, {0x8B}, target, base, disp); }
  void AddRR(int target, int source) { RegReg(0, true, {0x01}, source, target); }
  void SubRM(int target, int base, int32_t disp) { RegMem(0, true, {0x2B}, target, base, disp); }
  void CmpRM(int r, int base, int32_t disp) { RegMem(0, true, {0x3B}, r, base, disp); }
  void CmpRR(int a, int b) { RegReg(0, true, {0x39}, b, a); }  // flags of a - b
  void IncR(int r) { RegReg(0, true, {0xFF}, 0, r); }
  void AddRI8(int r, int8_t value) { RegReg(0, true, {0x83}, 0, r), Byte(Unsigned(value)); }
  void SubRI8(int r, int8_t value) { RegReg(0, true, {0x83}, 5, r), Byte(Unsigned(value)); }
  void MovRI32(int r, uint32_t value) { Short(r, 0xB8), Int32(value); }
  void MovByteMI(int base, int32_t disp, uint8_t value) {
    RegMem(0, false, {0xC6}, 0, base, disp), Byte(value);
  }
  void CmpByteMI(int base, int32_t disp, uint8_t value) {
    RegMem(0, false, {0x80}, 7, base, disp), Byte(value);
  }
  void CallAbs(const void* function) {
    Rex(true, 0, 0, RAX), Byte(0xB8);  // mov rax, imm64
    const uint64_t address = reinterpret_cast<uint64_t>(function);
    for (int i = 0; i < 8; ++i) Byte(static_cast<uint8_t>(address >> (8 * i)));
    RegReg(0, false, {0xFF}, 2, RAX);  // call rax
  }
  void Ret() { Byte(0xC3); }
  void CmpPredicate(uint8_t predicate) { Byte(predicate); }

  // --- SSE ---
  void MovqRX(int r, int xmm) { RegReg(0x66, true, {0x0F, 0x7E}, xmm, r); }
  void SseRR(uint8_t prefix, uint8_t op, int target, int source) {
    RegReg(prefix, false, {0x0F, op}, target, source);
  }
  void SseRM(uint8_t prefix, uint8_t op, int xmm, int base, int32_t disp) {
    RegMem(prefix, false, {0x0F, op}, xmm, base, disp);
  }
  void MovsdXM(int xmm, int base, int32_t disp) { SseRM(0xF2, MOVSD_LOAD, xmm, base, disp); }
  void MovsdMX(int base, int32_t disp, int xmm) { SseRM(0xF2, MOVSD_STORE, xmm, base, disp); }
  void MovsdXIndexed(int xmm, int base, int index) { Indexed(MOVSD_LOAD, xmm, base, index); }
  void MovsdIndexedX(int base, int index, int xmm) { Indexed(MOVSD_STORE, xmm, base, index); }
  void MovapdRR(int target, int source) {
    if (target != source) SseRR(0x66, MOVAPD, target, source);
  }
  // The register file's slot `index`, through rbx.
  void Load(int xmm, int index) { MovsdXM(xmm, RBX, RegisterOffset(index)); }
  void Store(int index, int xmm) { MovsdMX(RBX, RegisterOffset(index), xmm); }

  // --- AVX, 256 bits: target = op(first, second); `first` is 0 where the instruction has one
  // source only (VEX then encodes no register there) ---
  void VexRR(VexOp op, int target, int first, int second) {
    Vex(op, target, first, 0, second);
    Byte(static_cast<uint8_t>(0xC0 | ((target & 7) << 3) | (second & 7)));
  }
  void VexRM(VexOp op, int target, int first, int base, int32_t disp) {
    Vex(op, target, first, 0, base);
    Memory(target, base, disp);
  }
  // [base + index * 8]: a load into `reg` or a store from it, or the second operand.
  void VexIndexed(VexOp op, int reg, int base, int index, int first = 0) {
    Vex(op, reg, first, index, base);
    Byte(static_cast<uint8_t>(0x04 | ((reg & 7) << 3)));
    Byte(static_cast<uint8_t>(0xC0 | ((index & 7) << 3) | (base & 7)));
  }
  // target = mask's sign bit ? second : first, lane by lane.
  void Blend(int target, int first, int second, int mask) {
    VexRR(VBLENDVPD, target, first, second);
    Byte(static_cast<uint8_t>(mask << 4));
  }
  void VZeroUpper() { Byte(0xC5), Byte(0xF8), Byte(0x77); }

  // --- Jumps: the position of the displacement, pointed later with Bind ---
  size_t Jcc(Condition condition) { return Bytes2(0x0F, static_cast<uint8_t>(0x80 | condition)); }
  size_t Jmp() {
    Byte(0xE9);
    const size_t at = size_;
    Int32(0);
    return at;
  }
  void Bind(size_t at, size_t target) {
    if (overflowed_) return;
    const uint32_t displacement =
        static_cast<uint32_t>(static_cast<int32_t>(target) - static_cast<int32_t>(at + 4));
    for (size_t i = 0; i < 4; ++i) buffer_[at + i] = static_cast<uint8_t>(displacement >> (8 * i));
  }
  void Align16() {
    while (size_ % 16 != 0) Byte(0xCC);
  }

 private:
  static uint8_t Unsigned(int8_t value) { return static_cast<uint8_t>(value); }
  size_t Bytes2(uint8_t a, uint8_t b) {
    Byte(a), Byte(b);
    const size_t at = size_;
    Int32(0);
    return at;
  }
  void Short(int r, uint8_t base) {
    if (r & 8) Byte(0x41);
    Byte(static_cast<uint8_t>(base + (r & 7)));
  }
  void Rex(bool wide, int reg, int index, int base) {
    const int rex =
        0x40 | (wide ? 8 : 0) | ((reg & 8) ? 4 : 0) | ((index & 8) ? 2 : 0) | ((base & 8) ? 1 : 0);
    if (rex != 0x40) Byte(static_cast<uint8_t>(rex));
  }
  void Opcode(uint8_t prefix, bool wide, std::initializer_list<uint8_t> opcode, int reg, int index,
              int base) {
    if (prefix != 0) Byte(prefix);
    Rex(wide, reg, index, base);
    for (uint8_t byte : opcode) Byte(byte);
  }
  void RegReg(uint8_t prefix, bool wide, std::initializer_list<uint8_t> opcode, int reg, int rm) {
    Opcode(prefix, wide, opcode, reg, 0, rm);
    Byte(static_cast<uint8_t>(0xC0 | ((reg & 7) << 3) | (rm & 7)));
  }
  void RegMem(uint8_t prefix, bool wide, std::initializer_list<uint8_t> opcode, int reg, int base,
              int32_t disp) {
    Opcode(prefix, wide, opcode, reg, 0, base);
    Memory(reg, base, disp);
  }
  void Memory(int reg, int base, int32_t disp) {
    Byte(static_cast<uint8_t>(0x80 | ((reg & 7) << 3) | (base & 7)));
    if ((base & 7) == RSP) Byte(0x24);  // rsp and r12 as a base need the SIB byte
    Int32(static_cast<uint32_t>(disp));
  }
  // The two-byte form where it can say everything (map 0F, no extended index or base), as
  // assemblers choose it.
  void Vex(VexOp op, int reg, int vvvv, int index, int base) {
    const int r = (reg & 8) ? 0 : 0x80, x = (index & 8) ? 0 : 0x40, b = (base & 8) ? 0 : 0x20;
    const int tail = ((~vvvv & 15) << 3) | 0x04 | op.pp;  // 0x04: 256 bits
    if (op.map == 1 && x != 0 && b != 0) {
      Byte(0xC5), Byte(static_cast<uint8_t>(r | tail));
    } else {
      Byte(0xC4), Byte(static_cast<uint8_t>(r | x | b | op.map)), Byte(static_cast<uint8_t>(tail));
    }
    Byte(op.opcode);
  }
  // F2 0F op with [base + index * 8]; base must not be rbp or r13 (they mean disp32 there).
  void Indexed(uint8_t op, int xmm, int base, int index) {
    Opcode(0xF2, false, {0x0F, op}, xmm, index, base);
    Byte(static_cast<uint8_t>(0x04 | ((xmm & 7) << 3)));
    Byte(static_cast<uint8_t>(0xC0 | ((index & 7) << 3) | (base & 7)));
  }
  void Int32(uint32_t value) {
    for (int i = 0; i < 4; ++i) Byte(static_cast<uint8_t>(value >> (8 * i)));
  }
  void Byte(uint8_t byte) {
    if (size_ == capacity_) {
      overflowed_ = true;
      return;
    }
    buffer_[size_++] = byte;
  }

  uint8_t* buffer_;
  size_t capacity_;
  size_t size_ = 0;
  bool overflowed_ = false;
};

}  // namespace kalo::x64
