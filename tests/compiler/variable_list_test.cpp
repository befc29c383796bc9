// The variable list as the constructor reads it: which lists build an Expression with which
// names, and the exact text, marker included, that refuses the others.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interface/handle.h"

namespace kalo {
namespace {

// Builds an Expression over `list` and yields its names, or the message that refused it.
std::string Build(const std::string& list) {
  char message[MESSAGE_SIZE];
  try {
    Expression expression(list.c_str(), message, MESSAGE_SIZE);
    std::string names = "names:";
    for (int i = 0; i < expression.program.variableCount; ++i)
      names += std::string(" ") + VariableName(expression.program, i);
    return names;
  } catch (char* thrown) {
    EXPECT_EQ(thrown, message);
    return thrown;
  }
}

std::string Names(int count, const std::string& extra) {
  std::string list;
  for (int i = 0; i < count; ++i) list += "V" + std::to_string(i) + " ";
  return list + extra;
}

// The limit is tested after the duplicate test; the list is quoted only where the message and
// the list fit in 505 characters ("Duplicate variable name" has 23).
TEST(VariableList, AcceptsNamesAndRefusesFaultsWithTheMarkedList) {
  const std::string start = "Variable name must start with a letter or underscore\r\n";
  const std::string invalid = "Invalid character in variable name\r\n";
  const std::string duplicate = "Duplicate variable name\r\n";
  const std::string x482 = "X" + std::string(480, ' ') + "x", x483 = "X " + x482.substr(1);
  // clang-format off
  const struct { std::string list, outcome; } rows[] = {
      {"", "names:"}, {" X\tY\r\nZ ", "names: X Y Z"}, {"\v_a1\fb_2\n", "names: _a1 b_2"},
      {"and sin Not", "names: and sin Not"}, {Names(99, "V99"), "names: " + Names(99, "V99")},
      {"X\t\n", start + "X\t\n ? "}, {"   ", start + "    ? "}, {"X Y 2Z", start + "X Y  ? 2Z"},
      {"X -Y", start + "X  ? -Y"}, {"\xC3\xA9t\xC3\xA9", start + " ? \xC3\xA9t\xC3\xA9"},
      {"X Y$ Z", invalid + "X Y ? $ Z"}, {"X\xB5", invalid + "X ? \xB5"},
      {"a B c b", duplicate + "a B c  ? b"}, {"ab abc AB", duplicate + "ab abc  ? AB"},
      {Names(100, "Extra"), "Too many variables\r\n" + Names(100, "") + " ? Extra"},
      {Names(100, "v7"), duplicate + Names(100, "") + " ? v7"},
      {x482, duplicate + x482.substr(0, 481) + " ? x"}, {x483, "Duplicate variable name"},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(Build(row.list), row.outcome) << row.list;
}

TEST(VariableList, NewExpressionHoldsZeroedVariableSlotsAndAnEmptyProgram) {
  char message[MESSAGE_SIZE];
  const Expression expression("A b C", message, MESSAGE_SIZE);
  const Program& program = expression.program;
  EXPECT_EQ(expression.magic, EXPRESSION_MAGIC);
  const std::vector<long> counts = {
      program.variableCount,       program.poolCount,
      program.codeCount,           program.assignedVariable,
      expression.record.errorCode, static_cast<long>(expression.record.lastCodeWord)};
  EXPECT_EQ(counts, (std::vector<long>{3, 3, 0, 0, 0, 0}));
  EXPECT_EQ(expression.evaluator.angularUnits, KAL_RADIANS);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(program.pool[i], 0.0);
  // Offsets point into the copy, which keeps the host's layout.
  for (int i = 0; i < MAX_VARIABLES; ++i) EXPECT_EQ(program.nameOffsets[i], i < 3 ? 2 * i : -1);
}

}  // namespace
}  // namespace kalo
