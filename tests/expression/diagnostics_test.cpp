// The texts of faults: the bounded copy, the marked compile error text and its 511-character
// budget, the list error's direct composition, and the internal-error report.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "expression/diagnostics.h"
#include "expression/program.h"
#include "support/reports.h"

namespace kalo {
namespace {

TEST(BoundedCopy, CopiesAtMostSizeLessOneAndNeverWritesPastTheBuffer) {
  struct Row {
    const char* source;
    size_t size;
    const char* expected;
  };
  const Row rows[] = {{"abc", 1, ""},    {"abc", 2, "a"},    {"abc", 3, "ab"},
                      {"abc", 4, "abc"}, {"abc", 10, "abc"}, {"", 5, ""}};
  for (const Row& row : rows) {
    char buffer[16];
    std::memset(buffer, '#', sizeof buffer);
    BoundedCopy(buffer, row.source, row.size);
    EXPECT_STREQ(buffer, row.expected) << row.source << " " << row.size;
    for (size_t i = row.size; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], '#') << i;
  }
}

TEST(ComposeListError, MarksTheOffsetWhereTheListFits) {
  struct Row {
    size_t size;
    size_t offset;
    const char* expected;
  };
  // "Bad" + "AB CD": 3 + 5 + 6 must stay below the size.
  const Row rows[] = {{512, 0, "Bad\r\n ? AB CD"},
                      {512, 3, "Bad\r\nAB  ? CD"},
                      {512, 5, "Bad\r\nAB CD ? "},
                      {15, 2, "Bad\r\nAB ?  CD"},
                      {14, 2, "Bad"},
                      {3, 2, "Ba"}};
  for (const Row& row : rows) {
    char buffer[MESSAGE_SIZE];
    ComposeListError(buffer, row.size, "AB CD", "Bad", row.offset);
    EXPECT_STREQ(buffer, row.expected) << row.size << " " << row.offset;
  }
}

// ComposeCompileError over arbitrary text, so that the budget can be reached.
std::string Compose(int id, const std::string& text, size_t cursor) {
  char message[MESSAGE_SIZE];
  ComposeCompileError(id, text.c_str(), text.c_str() + cursor, message);
  EXPECT_NE(std::memchr(message, '\0', MESSAGE_SIZE), nullptr);
  return message;
}

TEST(ComposeCompileError, UnknownIdentifierGivesTheBareMissingText) {
  for (const int id : {0, 10000, 10011, -1})
    EXPECT_EQ(Compose(id, "Y = 1 $", 6), "Missing Error String") << id;
}

TEST(ComposeCompileError, TextBeyondTheBudgetIsCutAndTheMarkerNeedsThreeCharacters) {
  // "Syntax error\r\n" is 14 characters, leaving 497 for the equation and the marker.
  const std::string text(600, 'a');
  const std::string head = "Syntax error\r\n";
  struct Row {
    size_t cursor;
    std::string expected;
  };
  const Row rows[] = {
      {0, head + " ? " + std::string(494, 'a')},
      {400, head + std::string(400, 'a') + " ? " + std::string(94, 'a')},
      {494, head + std::string(494, 'a') + " ? "},
      {495, head + std::string(497, 'a')},  // two places left: no marker, the rest fills them
      {497, head + std::string(497, 'a')},
      {600, head + std::string(497, 'a')},
  };
  for (const Row& row : rows) {
    const std::string composed = Compose(10010, text, row.cursor);
    EXPECT_EQ(composed, row.expected) << row.cursor;
    EXPECT_LE(composed.size(), 511u);
  }
}

TEST(ComposeCompileError, KeepsWhitespaceAroundTheMarker) {
  EXPECT_EQ(Compose(10007, "Y = 2 + *\t 3", 9),
            "Expected variable or function name\r\nY = 2 + * ? \t 3");
}

TEST(InternalError, ReportNamesModuleFileAndLineAndTheVerdictIsFalse) {
  testing::ReportRecorder recorder;
  EXPECT_FALSE(ReportInternalError("Parse", 42));
  EXPECT_FALSE(KALO_CHECK(1 + 1 == 3, CHECK_FILE_USERFUNC));
  EXPECT_TRUE(KALO_CHECK(1 + 1 == 2, CHECK_FILE_USERFUNC));
  ASSERT_EQ(recorder.Count(), 2u);
  const std::string& first = testing::ReportRecorder::Reports()[0];
  const std::string prefix = "Internal error\r\nModule: ";
  ASSERT_EQ(first.compare(0, prefix.size(), prefix), 0) << first;
  const std::string module = first.substr(prefix.size(), first.find(',') - prefix.size());
  EXPECT_EQ(module.find('/'), std::string::npos) << "the file name, without directories";
  EXPECT_EQ(first, prefix + module + ", File: Parse (line 42)");
  const std::string& second = testing::ReportRecorder::Reports()[1];
  EXPECT_NE(second.find(", File: userfunc (line "), std::string::npos) << second;
}

TEST(InternalError, LongReportIsCutTo255Characters) {
  testing::ReportRecorder recorder;
  const std::string file(400, 'f');
  ReportInternalError(file.c_str(), 7);
  ASSERT_EQ(recorder.Count(), 1u);
  EXPECT_EQ(testing::ReportRecorder::Reports()[0].size(), 255u);
}

}  // namespace
}  // namespace kalo
