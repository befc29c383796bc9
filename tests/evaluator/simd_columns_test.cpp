// Blocks of rows evaluated several per instruction against row by row, and their encoder.
#include <cmath>
#include <cstring>

#include "evaluator/x64_emitter.h"
#include "support/eval_harness.h"

namespace {

// Blocks against row by row on random equations: abi/columns_test. A column that is the result
// column one row back makes a recurrence, which must stay one row at a time.
TEST(Lanes, ResultColumnOneRowBackIsARecurrence) {
  const kalo_test::Handle halving("Y = X * 0.5", "X Y");
  double buffer[10] = {1024};
  double* pointers[] = {buffer, buffer + 1};
  ASSERT_EQ(KaloEvalExpressionColumns(halving.get(), pointers, 9), 9);
  for (int k = 0; k < 10; ++k) EXPECT_EQ(buffer[k], std::ldexp(1, 10 - k));
}

// The encoder's AVX forms against the bytes GNU as writes for the same instructions.
TEST(Lanes, EncoderWritesWhatTheAssemblerWrites) {
  using namespace kalo::x64;  // NOLINT(google-build-using-namespace)
  uint8_t code[80];
  Emitter e(code, sizeof code);
  e.VexRR(VADDPD, 3, 4, 5), e.VexRR(VPANDN, 14, 15, 14), e.VexRR(VPOR, 12, 12, 14);
  e.VexRM(VBROADCASTSD, 9, 0, RBX, 0x640), e.VexIndexed(VMOVUPD_LOAD, 15, RAX, R14);
  e.VexIndexed(VMOVUPD_STORE, 0, RAX, R14), e.VexRM(VCMPPD, 15, 2, RBX, 0x700);
  e.CmpPredicate(CMP_EQ), e.VexRM(VPCMPGTQ, 14, 14, R12, 0x708), e.Blend(1, 3, 2, 1);
  e.VexRR(VSQRTPD, 4, 0, 4), e.VexRR(VPTEST, 12, 0, 12), e.VZeroUpper();
  // clang-format off
  const uint8_t expected[] = {
      0xc5, 0xdd, 0x58, 0xdd,  0xc4, 0x41, 0x05, 0xdf, 0xf6,  0xc4, 0x41, 0x1d, 0xeb, 0xe6,
      0xc4, 0x62, 0x7d, 0x19, 0x8b, 0x40, 0x06, 0, 0,  0xc4, 0x21, 0x7d, 0x10, 0x3c, 0xf0,
      0xc4, 0xa1, 0x7d, 0x11, 0x04, 0xf0,  0xc5, 0x6d, 0xc2, 0xbb, 0x00, 0x07, 0, 0, 0x00,
      0xc4, 0x42, 0x0d, 0x37, 0xb4, 0x24, 0x08, 0x07, 0, 0,  0xc4, 0xe3, 0x65, 0x4b, 0xca, 0x10,
      0xc5, 0xfd, 0x51, 0xe4,  0xc4, 0x42, 0x7d, 0x17, 0xe4,  0xc5, 0xf8, 0x77};
  // clang-format on
  ASSERT_EQ(e.position(), sizeof expected);
  EXPECT_EQ(std::memcmp(code, expected, sizeof expected), 0);
}

}  // namespace
