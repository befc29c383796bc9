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

TEST(VariableList, AcceptsNamesAndRefusesFaultsWithTheMarkedList) {
  const ListRow rows[] = {
      {"", {}, ""},
      {"X", {"X"}, ""},
      {" X\tY\r\nZ", {"X", "Y", "Z"}, ""},
      {"X ", {"X"}, ""},
      {"\v_a1\fb_2\n", {"_a1", "b_2"}, ""},
      {"and sin Not", {"and", "sin", "Not"}, ""},
      {"X  ", {}, START + "X   ? "},
      {"X\t\n", {}, START + "X\t\n ? "},
      {"   ", {}, START + "    ? "},
      {"X Y 2Z", {}, START + "X Y  ? 2Z"},
      {"X Y$ Z", {}, INVALID + "X Y ? $ Z"},
      {"X,Y", {}, INVALID + "X ? ,Y"},
      {"Rate rate", {}, DUPLICATE + "Rate  ? rate"},
      {"a B c b", {}, DUPLICATE + "a B c  ? b"},
      {"ab abc AB", {}, DUPLICATE + "ab abc  ? AB"},
      {"\xC3\xA9t\xC3\xA9", {}, START + " ? \xC3\xA9t\xC3\xA9"},
      {"X\xB5", {}, INVALID + "X ? \xB5"},
      {"X -Y", {}, START + "X  ? -Y"},
  };
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
  EXPECT_EQ(expression.record.errorCode, 0);
  EXPECT_EQ(expression.record.lastCodeWord, 0u);
  EXPECT_EQ(expression.evaluator.angularUnits, KAL_RADIANS);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(program.pool[i], 0.0);
  for (int i = 3; i < MAX_VARIABLES; ++i) EXPECT_EQ(program.nameOffsets[i], -1) << i;
  // Offsets point into the copy, which keeps the host's layout.
  EXPECT_EQ(program.nameOffsets[0], 0);
  EXPECT_EQ(program.nameOffsets[1], 2);
  EXPECT_EQ(program.nameOffsets[2], 4);
}

std::string Names(int count, const std::string& extra) {
  std::string list;
  for (int i = 0; i < count; ++i) list += "V" + std::to_string(i) + " ";
  return list + extra;
}

TEST(VariableList, HundredNamesFitAndTheLimitComesAfterTheDuplicateTest) {
  EXPECT_TRUE(Build(Names(99, "V99")).accepted);
  EXPECT_EQ(Build(Names(99, "V99")).names.size(), 100u);
  const std::string tooMany = Names(100, "Extra");
  EXPECT_EQ(Build(tooMany).message, "Too many variables\r\n" + Names(100, "") + " ? Extra");
  const std::string repeated = Names(100, "v7");
  EXPECT_EQ(Build(repeated).message, DUPLICATE + Names(100, "") + " ? v7");
}

TEST(VariableList, ListIsQuotedOnlyWhenMessageAndListFitIn505Characters) {
  // "Duplicate variable name" has 23 characters; the duplicate is the last name.
  for (const size_t listLength : {size_t{481}, size_t{482}, size_t{483}, size_t{600}}) {
    const std::string list = "X" + std::string(listLength - 2, ' ') + "x";
    const Built built = Build(list);
    SCOPED_TRACE(listLength);
    if (23 + listLength <= 505) {
      EXPECT_EQ(built.message, DUPLICATE + list.substr(0, listLength - 1) + " ? x");
      EXPECT_LE(built.message.size(), 511u);
    } else {
      EXPECT_EQ(built.message, "Duplicate variable name");
    }
  }
}

}  // namespace
}  // namespace kalo
