// The texts of faults: the bounded copy, the marked compile error text and its 511-character
// budget, which no equation of 303 characters reaches, and the internal-error report. The list
// error's budget is the variable list's rows' (compiler_test).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "expression/diagnostics.h"
#include "expression/program.h"
#include "support/reports.h"

namespace kalo {
namespace {

TEST(BoundedCopy, CopiesAtMostSizeLessOneAndNeverWritesPastTheBuffer) {
  // clang-format off
  const struct { const char* source; size_t size; const char* expected; } rows[] = {
      {"abc", 1, ""}, {"abc", 3, "ab"}, {"abc", 4, "abc"}, {"", 5, ""}};
  // clang-format on
  for (const auto& row : rows) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    BoundedCopy(buffer, row.source, row.size);
    EXPECT_STREQ(buffer, row.expected) << row.source << " " << row.size;
    for (size_t i = row.size; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;
  }
}

// "Syntax error\r\n" is 14 characters, leaving 497 of 511 for the equation and the marker;
// where fewer than three places are left, no marker, the rest of the text fills them. An
// unknown identifier gives the bare missing text.
TEST(ComposeCompileError, CutsTheTextToTheBudgetAndMarksTheCursor) {
  const std::string a600(600, 'a'), head = "Syntax error\r\n";
  // clang-format off
  const struct { int id; std::string text; size_t cursor; std::string expected; } rows[] = {
      {10010, a600, 400, head + std::string(400, 'a') + " ? " + std::string(94, 'a')},
      {10010, a600, 494, head + std::string(494, 'a') + " ? "}, {10010, a600, 495, head + std::string(497, 'a')},
      {10007, "Y = 2 + *\t 3", 9, "Expected variable or function name\r\nY = 2 + * ? \t 3"},
      {10000, "Y", 0, "Missing Error String"}, {10011, "Y", 0, "Missing Error String"},
  };
  // clang-format on
  for (const auto& row : rows) {
    char message[MESSAGE_SIZE];
    ComposeCompileError(row.id, row.text.c_str(), row.text.c_str() + row.cursor, message);
    ASSERT_NE(std::memchr(message, '\0', MESSAGE_SIZE), nullptr);
    EXPECT_EQ(message, row.expected) << row.id << " " << row.cursor;
  }
}

// The report names the module that holds the library's code (here this test program, by its
// file name without directories), the file constant and the line, cut to 255 characters; the
// check's verdict is its condition.
TEST(InternalError, ReportNamesModuleFileAndLine) {
  testing::ReportRecorder recorder;
  EXPECT_FALSE(ReportInternalError("Parse", 42));
  EXPECT_FALSE(KALO_CHECK(1 + 1 == 3, CHECK_FILE_USERFUNC));
  EXPECT_TRUE(KALO_CHECK(1 + 1 == 2, CHECK_FILE_USERFUNC));
  ReportInternalError(std::string(400, 'f').c_str(), 7);
  ASSERT_EQ(recorder.Count(), 3u);
  const std::string& first = recorder.Reports()[0];
  const std::string prefix = "Internal error\r\nModule: ";
  ASSERT_EQ(first.compare(0, prefix.size(), prefix), 0) << first;
  const std::string module = first.substr(prefix.size(), first.find(',') - prefix.size());
  EXPECT_EQ(module.rfind("expression_diagnostics_test", 0), 0u) << module;
  EXPECT_EQ(first, prefix + module + ", File: Parse (line 42)");
  EXPECT_NE(recorder.Reports()[1].find(", File: userfunc (line "), std::string::npos);
  EXPECT_EQ(recorder.Reports()[2].size(), 255u);
}

}  // namespace
}  // namespace kalo
