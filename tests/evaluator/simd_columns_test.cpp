// Blocks of rows evaluated several per instruction against row by row, and their encoder.
#include <cmath>
#include <cstring>
#include <random>

#include "evaluator/x64_emitter.h"
#include "support/eval_harness.h"

namespace {

// Operations written inline only, so that whole blocks take the several-rows path.
std::string Term(std::mt19937& random, int depth) {
  static const char* const LEAVES[] = {"X", "Y", "Z", "3", "0.5", "0", "1e-200"};
  static const char* const BINARY[] = {"+", "-", "*", "/", "<", ">", "<=", ">=", "max", "min"};
  static const char* const UNARY[] = {"sqrt", "fabs", "-", "d2r", "if"};
  static const char* const POWERS[] = {"-3", "-2", "2", "3", "7"};
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  if (depth == 0 || pick(4) == 0) return LEAVES[pick(7)];
  const std::string a = Term(random, depth - 1), b = Term(random, depth - 1);
  const int k = pick(11), u = k < 8 && pick(2) != 0 ? pick(5) : -1;
  if (k == 10) return "pow(" + a + ", " + POWERS[pick(5)] + ")";
  if (k >= 8) return std::string(BINARY[k]) + "(" + a + ", " + b + ")";
  if (u < 0) return "(" + a + BINARY[k] + b + ")";
  return u == 4 ? "if(" + a + ", " + b + ", X)" : std::string(UNARY[u]) + "(" + a + ")";
}

// Every row count up to 13, with one faulty value in each row position in turn (or none): the
// count, each result, the code and the text as row by row, bit for bit.
TEST(Lanes, BlocksMatchRowByRowWithAFaultInEachLane) {
  const double faulty[] = {0, -0.0, 1e-310, 1e300, INFINITY, NAN, 2.2250738585072014e-308, 1e-160};
  std::mt19937 random(4);
  std::uniform_real_distribution<double> normal(-4, 4);
  for (int equation = 0; equation < 80; ++equation) {
    const std::string text = "W = " + Term(random, 4);
    const kalo_test::Handle rows(text.c_str(), "X Y Z W"), columns(text.c_str(), "X Y Z W");
    for (long count = 1; count <= 13 && rows.get() != nullptr; ++count)
      for (long fault = -1; fault < count; ++fault) {
        std::vector<double> data[4];
        for (std::vector<double>& column : data)
          for (long row = 0; row < count; ++row) column.push_back(normal(random));
        if (fault >= 0) data[random() % 3][fault] = faulty[random() % 8];
        std::vector<double> expected = data[3];
        long done = 0;
        for (double values[4]; done < count; expected[done++] = values[3]) {
          for (int v = 0; v < 4; ++v) values[v] = data[v][done];
          if (!KaloEvalExpression(rows.get(), values)) break;
        }
        double* pointers[] = {data[0].data(), data[1].data(), data[2].data(), data[3].data()};
        ASSERT_EQ(KaloEvalExpressionColumns(columns.get(), pointers, count), done) << text;
        ASSERT_EQ(std::memcmp(expected.data(), data[3].data(), count * sizeof(double)), 0) << text;
        ASSERT_EQ(kalo_test::ErrorText(columns.get()), kalo_test::ErrorText(rows.get())) << text;
      }
  }
  // A column that is the result column one row back is a recurrence row by row.
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
