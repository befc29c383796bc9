// The columns export against row-by-row evaluation: results (the assigned column read as well as
// written), the failing row, its record and text, the host's calls, the rows it must leave alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kalo.h"
#include "support/eval_harness.h"

namespace {

// A host function that keeps every argument it gets, bit for bit, and refuses (code 77) a huge one.
std::vector<uint64_t> hostArguments;
int Keep(double* arguments, double* result, long /*user*/) {
  hostArguments.push_back(kalo_test::Bits(arguments[0]));
  if (std::fabs(arguments[0]) > 1e200) return 77;
  *result = arguments[0] * 0.5 + 1;
  return 0;
}

// What a host sees of an evaluation: the code and text, the assigned column's bits, the calls.
std::string Seen(void* handle, const std::vector<double>& results) {
  int code = 0;
  std::string seen = kalo_test::ErrorText(handle, &code) + " " + std::to_string(code) + ":";
  for (const double result : results) seen += " " + std::to_string(kalo_test::Bits(result));
  for (const uint64_t argument : hostArguments) seen += " keep " + std::to_string(argument);
  hostArguments.clear();
  return seen;
}

// Evaluates `equation` over X Y Z W both ways and compares all a host sees; returns the index of
// the failing row, the row count, or -1 for an equation too complex to compile.
long Compare(const std::string& equation, std::vector<double> (&data)[4]) {
  void* rows = KaloParseExpression(equation.c_str(), "X Y Z W", nullptr, nullptr);
  void* columns = KaloParseExpression(equation.c_str(), "X Y Z W", nullptr, nullptr);
  if (rows == nullptr) return -1;  // and so is `columns`
  const long count = static_cast<long>(data[0].size());
  long ended = 0;
  std::vector<double> results = data[3];
  hostArguments.clear();
  for (double values[4]; ended < count; results[ended++] = values[3]) {
    for (int i = 0; i < 4; ++i) values[i] = data[i][static_cast<size_t>(ended)];
    if (!KaloEvalExpression(rows, values)) break;
  }
  const std::string expected = Seen(rows, results);
  // The null after the four columns must never be read: there are four variables.
  double* pointers[] = {data[0].data(), data[1].data(), data[2].data(), data[3].data(), nullptr};
  EXPECT_EQ(KaloEvalExpressionColumns(columns, pointers, count), ended);
  EXPECT_EQ(Seen(columns, data[3]), expected) << equation << " " << count;
  KaloDestroyExpression(rows);
  KaloDestroyExpression(columns);
  return ended;
}

// Random equations over X, Y, Z and W: operators, maths routines, inline functions and the host's;
// `inlineOnly` keeps to what machine code writes inline, so that blocks of rows run at once.
std::string Term(std::mt19937& random, int depth, bool inlineOnly) {
  // clang-format off
  static const char* const LEAVES[] = {"X", "Y", "Z", "W", "2", "0.5", "1e-200", "0", "-2"};
  static const char* const BINARY[] = {" + ", " - ", " * ", " / ", " < ", " = ", " and "};
  static const char* const UNARY[] = {"sqrt", "fabs", "-", "d2r", "sin", "exp", "ln", "keep", "floor"};
  static const char* const PAIRS[] = {"max", "min", "pow", "atan2", "fmod", "jn"};
  // clang-format on
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  if (depth == 0 || pick(4) == 0) return LEAVES[pick(9)];
  const std::string a = Term(random, depth - 1, inlineOnly),
                    b = Term(random, depth - 1, inlineOnly);
  const int power = pick(8) - 4;  // a whole power is written inline, as multiplications
  switch (pick(4)) {
    case 0: return "(" + a + BINARY[pick(inlineOnly ? 5 : 7)] + b + ")";
    case 1: return std::string(UNARY[pick(inlineOnly ? 4 : 9)]) + "(" + a + ")";
    case 2:
      if (inlineOnly && pick(2) == 0)
        return "pow(" + a + ", " + std::to_string(power + (power >= 0)) + ")";
      return std::string(PAIRS[pick(inlineOnly ? 2 : 6)]) + "(" + a + ", " + b + ")";
    default: return "if(" + a + ", " + b + ", " + Term(random, depth - 1, inlineOnly) + ")";
  }
}

class Columns : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KaloRegisterFunction("keep", 1, &Keep, 0), 1); }
  void TearDown() override { KaloRegisterFunction(nullptr, 0, nullptr, 0); }
};

// Columns of 1 to 9 rows, then up to 97, where now and then a value is one that faults:
// denormals, products that underflow to zero, poles of whole powers. Every other equation is
// written inline only, so that its rows run several to an instruction where the processor can.
TEST_F(Columns, MatchRowByRowOnRandomEquationsAndFaultyValues) {
  const double inf = std::numeric_limits<double>::infinity();
  const double faulty[] = {0, -0.0, 1e-310, 1e300, -1e300, inf, -inf, std::nan(""), 2.5e-308};
  std::mt19937 random(20261206);
  std::uniform_real_distribution<double> normal(-4, 4);
  int failures = 0, complete = 0;
  for (int equation = 0; equation < 300 && !HasFailure(); ++equation) {
    const std::string text = "W = " + Term(random, 4, equation % 2 == 1);
    const long count = equation < 90 ? 1 + equation % 9 : static_cast<long>(1 + random() % 97);
    std::vector<double> data[4];
    for (std::vector<double>& column : data)
      for (long row = 0; row < count; ++row)
        column.push_back(random() % 40 == 0 ? faulty[random() % 9] : normal(random));
    const long ended = Compare(text, data);
    failures += ended >= 0 && ended < count ? 1 : 0;
    complete += ended == count ? 1 : 0;
  }
  // Both endings must be common for the comparison to mean something.
  EXPECT_GT(failures, 30);
  EXPECT_GT(complete, 30);
}

// Every row count up to 17 with the fault in each row in turn, so in every position of a block
// of any width up to 8, in the first and in a later block; and with no fault at all.
TEST_F(Columns, StopAtTheFaultWhereverItLies) {
  // clang-format off
  const struct { const char* equation; int column; double value; } faults[] = {
      {"W = W / Y", 1, 0}, {"W = keep(X) - Z", 0, 1e300}, {"W = ln(X) * Y", 0, -1}, {"W = exp(Z) + 1", 2, 800}};
  // clang-format on
  for (const auto& fault : faults)
    for (long count = 1; count <= 17; ++count)
      for (long faultRow = 0; faultRow <= count; ++faultRow) {
        std::vector<double> data[4];
        for (int column = 0; column < 4; ++column)
          for (long row = 0; row < count; ++row)
            data[column].push_back(1.5 + static_cast<double>(row) + column * 0.25);
        if (faultRow < count) data[fault.column][faultRow] = fault.value;
        ASSERT_EQ(Compare(fault.equation, data), faultRow) << fault.equation << " " << count;
      }
}

// A null column is the host's fault, and an internal error report; a call without rows runs
// nothing and keeps the last call's record.
TEST(ColumnsArguments, RefusesNullColumnsAndIgnoresEmptyCalls) {
  const kalo_test::HostReports reports;
  const kalo_test::Handle handle("Z = X + Y", "X Y Z");
  double x[2] = {1, 2}, z[2] = {0, 0};
  double* withNull[] = {x, nullptr, z};
  for (const auto& [columns, count] :
       {std::pair<double**, long>{withNull, 2}, {nullptr, 1}, {nullptr, 0}, {withNull, -5}}) {
    EXPECT_EQ(KaloEvalExpressionColumns(handle.get(), columns, count), 0);
    EXPECT_EQ(KaloGetEvalError(handle.get(), nullptr, nullptr), 104) << count;
  }
  EXPECT_EQ(x[0] + x[1] + z[0] + z[1], 3);
  EXPECT_EQ(reports.Texts().size(), 2u);
}

}  // namespace
