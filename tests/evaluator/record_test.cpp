// The record an evaluation leaves for its error text, read from the Expression itself: the word
// that ran last and the operands of the last built-in operation, exactly, where the text shows
// them only to six digits. And the names the text gives to every kind of code word.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "interface/handle.h"
#include "support/reports.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

bool Same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
}

Expression* Compiled(const char* equation) {
  char message[MESSAGE_SIZE];
  auto* expression = new Expression("X Y Z", message, MESSAGE_SIZE);
  EXPECT_TRUE(expression->Compile(equation)) << equation << ": " << expression->message;
  return expression;
}

struct RecordRow {
  const char* equation;
  std::vector<double> inputs;  // X, Y, Z
  int errorCode;
  CodeWord lastCodeWord;
  double nextValue;
  double topValue;
};

TEST(Record, LastWordAndOperandsOfTheLastBuiltinOperation) {
  const RecordRow rows[] = {
      {"Z = 2*sin(X) + Y/3", {0.5, 6}, 0, 101, 2 * std::sin(0.5), 2},
      {"Z = 2*sin(X) + Y/3", {NaN, 6}, 205, 126, 2, NaN},
      {"Y = X", {5}, 0, 0x8000, 0, 0},  // no built-in operation ran
      {"Y = 0 / 0", {}, 202, 104, 0, 0},
      {"Y = 1 / 0", {}, 202, 104, 1, 0},
      {"Y = 1e10 and 1", {}, 303, 105, 1e10, 1},
      {"Y = (1e10 and 1) + 1", {}, 303, 105, 1e10, 1},
      {"Y = 2 + sqrt(X)", {-4}, 205, 128, 2, -4},
      {"Y = sqrt(X) + 2", {-4}, 205, 128, 0, -4},  // one operand at the bottom: next is 0
      {"Y = X * 0.5", {0x1p-1022}, 206, 103, 0x1p-1022, 0.5},
      {"Y = X + 1", {1e-310}, 201, 101, 1e-310, 1},
      {"Y = 3 * -X", {2}, 0, 103, 3, -2},
      {"Y = if(X, 2, 3)", {0}, 0, 146, 2, 3},
      {"Y = 1 + if(X, 2, 3)", {0}, 0, 101, 1, 3},
      {"Y = max(1, X) * 2", {NaN}, 205, 141, 1, NaN},
  };
  for (const RecordRow& row : rows) {
    Expression* expression = Compiled(row.equation);
    // Twice: a second run with the same values leaves the same record.
    for (int run = 0; run < 2; ++run) {
      std::vector<double> values = row.inputs;
      values.resize(3, 0.0);
      const EvalRecord& record = expression->record;
      EXPECT_EQ(
          Evaluate(expression->program, &expression->evaluator, &expression->record, values.data()),
          row.errorCode == 0)
          << row.equation;
      EXPECT_EQ(record.errorCode, row.errorCode) << row.equation;
      EXPECT_EQ(record.lastCodeWord, row.lastCodeWord) << row.equation;
      EXPECT_TRUE(Same(record.nextValue, row.nextValue))
          << row.equation << ": next " << record.nextValue;
      EXPECT_TRUE(Same(record.topValue, row.topValue))
          << row.equation << ": top " << record.topValue;
    }
    delete expression;
  }
}

TEST(Record, NamesOfCodeWords) {
  ClearUserFunctions();
  const testing::ReportRecorder recorder;
  Expression* expression = Compiled("Z = X + 2");  // the literal takes slot 3
  const struct {
    CodeWord word;
    const char* name;
    int count;
  } rows[] = {
      // clang-format off
      {0, "Unknown operation", -1}, {0x8002, "Z", -1}, {0x8000, "X", -1},
      {0x8003, "Unknown variable", -1}, {0xC000, "Unknown variable", -1},
      {100, "Negation", 1}, {101, "Add", 2}, {102, "Subtract", 2}, {103, "Multiply", 2},
      {104, "Divide", 2}, {105, "and", 2}, {106, "or", 2}, {107, "not", 1}, {108, "xor", 2},
      {109, "=", 2}, {110, "<>", 2}, {111, "<", 2}, {112, "<=", 2}, {113, ">", 2},
      {114, ">=", 2}, {115, "acos", 1}, {126, "sin", 1}, {138, "atan2", 2}, {143, "jn", 2},
      {146, "if", 3}, {147, "Unknown function", -1}, {99, "Unknown function", -1},
      {1, "Unknown function", -1},
      // clang-format on
  };
  for (const auto& row : rows) {
    int count = 99;
    EXPECT_STREQ(GetCodeWordName(expression->program, row.word, &count), row.name) << row.word;
    EXPECT_EQ(count, row.count) << row.word;
  }
  EXPECT_EQ(recorder.Count(), 0u);
  // A registered-function word whose record is gone is named, after a report, as unknown.
  int count = 99;
  EXPECT_STREQ(GetCodeWordName(expression->program, 0x4005, &count), "Unknown registered function");
  EXPECT_EQ(count, -1);
  ASSERT_EQ(recorder.Count(), 1u);
  EXPECT_NE(testing::ReportRecorder::Reports()[0].find("userfunc"), std::string::npos);
  delete expression;
}

}  // namespace
}  // namespace kalo
