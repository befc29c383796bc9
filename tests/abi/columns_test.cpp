// The columns export against what row-by-row evaluation gives: results, the failing row, its
// record and text, and the rows it must leave alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kalo.h"

namespace {

std::string ErrorText(void* handle) {
  char text[512];
  const int code = KaloGetEvalError(handle, text, nullptr);
  return std::to_string(code) + " " + text;
}

// Runs `equation` over X and Y row by row, then over the same columns in one call.
void ExpectColumnsMatchRows(const char* equation, const std::vector<double>& xs,
                            const std::vector<double>& ys) {
  void* rows = KaloParseExpression(equation, "X Y Z", nullptr, nullptr);
  void* columns = KaloParseExpression(equation, "X Y Z", nullptr, nullptr);
  ASSERT_NE(rows, nullptr);
  const long count = static_cast<long>(xs.size());
  std::vector<double> x = xs, y = ys, z(xs.size(), -7.0);
  // The null after the three columns must never be read: there are three variables.
  double* pointers[] = {x.data(), y.data(), z.data(), nullptr};
  const long evaluated = KaloEvalExpressionColumns(columns, pointers, count);
  long expected = count;
  for (long row = 0; row < count; ++row) {
    double values[3] = {xs[row], ys[row], -7.0};
    if (!KaloEvalExpression(rows, values)) {
      expected = row;
      break;
    }
    EXPECT_EQ(std::memcmp(&values[2], &z[row], sizeof(double)), 0) << equation << " row " << row;
  }
  EXPECT_EQ(evaluated, expected) << equation;
  EXPECT_EQ(ErrorText(columns), ErrorText(rows)) << equation;
  for (long row = expected; row < count; ++row) EXPECT_EQ(z[row], -7.0) << "row " << row;
  KaloDestroyExpression(rows);
  KaloDestroyExpression(columns);
}

TEST(Columns, MatchRowByRowEvaluation) {
  const std::vector<double> xs = {1, 2, 0.5, -3, 1e300, 4, 0, 9};
  const std::vector<double> ys = {2, 0, 7, 1e-310, 1e300, 2, 0, 1};
  for (const char* equation : {"Z = X + Y", "Z = X / Y", "Z = X * Y", "Z = sin(X) + sqrt(Y)",
                               "Z = if(X > Y, X, Y) + Z", "Z = ln(X)", "Z = X"}) {
    ExpectColumnsMatchRows(equation, xs, ys);
    ExpectColumnsMatchRows(equation, {xs[0]}, {ys[0]});
  }
}

TEST(Columns, RefusesBadArgumentsAndHandles) {
  void* handle = KaloParseExpression("Z = X + Y", "X Y Z", nullptr, nullptr);
  double x[2] = {1, 2}, z[2] = {0, 0};
  double* withNull[] = {x, nullptr, z};
  EXPECT_EQ(KaloEvalExpressionColumns(handle, withNull, 2), 0);
  EXPECT_EQ(KaloGetEvalError(handle, nullptr, nullptr), 104);
  EXPECT_EQ(KaloEvalExpressionColumns(handle, nullptr, 1), 0);
  EXPECT_EQ(KaloGetEvalError(handle, nullptr, nullptr), 104);
  // No rows: nothing runs and the record of the last call stays.
  EXPECT_EQ(KaloEvalExpressionColumns(handle, nullptr, 0), 0);
  EXPECT_EQ(KaloEvalExpressionColumns(handle, withNull, -5), 0);
  EXPECT_EQ(KaloGetEvalError(handle, nullptr, nullptr), 104);
  EXPECT_EQ(KaloEvalExpressionColumns(nullptr, withNull, 2), 0);
  KaloDestroyExpression(handle);
}

}  // namespace
