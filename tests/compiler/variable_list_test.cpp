// The variable list as the constructor reads it: which lists build an Expression with which
// names, and the exact text, marker included, that refuses the others.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "interface/handle.h"

namespace kalo {
namespace {

// Builds an Expression over `list`; on success returns its names, on refusal the message.
struct Built {
  bool accepted;
  std::vector<std::string> names;
  std::string message;
};

Built Build(const std::string& list) {
  char message[MESSAGE_SIZE];
  Built built{false, {}, {}};
  try {
    Expression expression(list.c_str(), message, MESSAGE_SIZE);
    built.accepted = true;
    for (int i = 0; i < expression.program.variableCount; ++i)
      built.names.emplace_back(VariableName(expression.program, i));
  } catch (char* thrown) {
    EXPECT_EQ(thrown, message);
    built.message = thrown;
  }
  return built;
}

const std::string START = "Variable name must start with a letter or underscore\r\n";
const std::string INVALID = "Invalid character in variable name\r\n";
const std::string DUPLICATE = "Duplicate variable name\r\n";

struct ListRow {
  std::string list;
  std::vector<std::string> names;  // when accepted
  std::string message;             // when refused
};

std::string Names(int count, const std::string& extra) {
  std::string list;
  for (int i = 0; i < count; ++i) list += "V" + std::to_string(i) + " ";
  return list + extra;
}

// The limit is tested after the duplicate test; the list is quoted only where the message and
// the list fit in 505 characters ("Duplicate variable name" has 23).
TEST(VariableList, AcceptsNamesAndRefusesFaultsWithTheMarkedList) {
  std::vector<std::string> hundred;
  for (int i = 0; i < 100; ++i) hundred.push_back("V" + std::to_string(i));
  const std::string x482 = "X" + std::string(480, ' ') + "x", x483 = "X " + x482.substr(1);
  // clang-format off
  const ListRow rows[] = {
      {"", {}, ""}, {" X\tY\r\nZ", {"X", "Y", "Z"}, ""}, {"X ", {"X"}, ""},
      {"\v_a1\fb_2\n", {"_a1", "b_2"}, ""}, {"and sin Not", {"and", "sin", "Not"}, ""},
      {"X\t\n", {}, START + "X\t\n ? "}, {"   ", {}, START + "    ? "},
      {"X Y 2Z", {}, START + "X Y  ? 2Z"}, {"X -Y", {}, START + "X  ? -Y"},
      {"X Y$ Z", {}, INVALID + "X Y ? $ Z"}, {"X,Y", {}, INVALID + "X ? ,Y"},
      {"Rate rate", {}, DUPLICATE + "Rate  ? rate"}, {"a B c b", {}, DUPLICATE + "a B c  ? b"},
      {"ab abc AB", {}, DUPLICATE + "ab abc  ? AB"},
      {"\xC3\xA9t\xC3\xA9", {}, START + " ? \xC3\xA9t\xC3\xA9"}, {"X\xB5", {}, INVALID + "X ? \xB5"},
      {Names(99, "V99"), hundred, ""},
      {Names(100, "Extra"), {}, "Too many variables\r\n" + Names(100, "") + " ? Extra"},
      {Names(100, "v7"), {}, DUPLICATE + Names(100, "") + " ? v7"},
      {x482, {}, DUPLICATE + x482.substr(0, 481) + " ? x"}, {x483, {}, "Duplicate variable name"},
  };
  // clang-format on
  for (const ListRow& row : rows) {
    SCOPED_TRACE(testing::PrintToString(row.list));
    const Built built = Build(row.list);
    EXPECT_EQ(built.accepted, row.message.empty());
    EXPECT_EQ(built.names, row.names);
    EXPECT_EQ(built.message, row.message);
  }
}

TEST(VariableList, NewExpressionHoldsZeroedVariableSlotsAndAnEmptyProgram) {
  char message[MESSAGE_SIZE];
  Expression expression("A b C", message, MESSAGE_SIZE);
  EXPECT_EQ(expression.magic, EXPRESSION_MAGIC);
  const Program& program = expression.program;
  EXPECT_EQ(program.variableCount, 3);
  EXPECT_EQ(program.poolCount, 3);
  EXPECT_EQ(program.codeCount, 0);
  EXPECT_EQ(program.assignedVariable, 0);
  EXPECT_EQ(expression.record.errorCode, 0);
  EXPECT_EQ(expression.record.lastCodeWord, 0u);
  EXPECT_EQ(expression.evaluator.angularUnits, KAL_RADIANS);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(program.pool[i], 0.0);
  // Offsets point into the copy, which keeps the host's layout.
  for (int i = 0; i < MAX_VARIABLES; ++i) EXPECT_EQ(program.nameOffsets[i], i < 3 ? 2 * i : -1);
}

}  // namespace
}  // namespace kalo
