// The exports through kalo.h: argument and handle tests, return values, texts written or not.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "kalo.h"
#include "support/eval_harness.h"

extern "C" int KaloCHeaderCheck(void);

namespace {

TEST(CHeader, EveryExportCallableFromC) { EXPECT_EQ(KaloCHeaderCheck(), 0); }

// The code and text a parse leaves, whatever bytes it was given: a handle (destroyed at once),
// or a code and a terminated text of at most 511 characters with nothing written past 512 bytes.
std::string ParseOutcome(const std::string& equation, const std::string& variables) {
  int code = -1;
  char text[1024];
  std::memset(text, 0x7F, sizeof text);
  std::strcpy(text, "untouched");
  void* handle = KaloParseExpression(equation.c_str(), variables.c_str(), &code, text);
  KaloDestroyExpression(handle);
  EXPECT_NE(std::memchr(text, '\0', 512), nullptr);
  for (size_t i = 512; i < sizeof text; ++i) EXPECT_EQ(text[i], 0x7F) << i;
  return (handle != nullptr ? "handle " : "") + std::to_string(code) + " " + text;
}

// Nesting is cut with the text at 303 characters, before any depth could exhaust a stack; texts
// that quote a long list or equation stay within their bound (ParseOutcome).
TEST(ParseExpression, ReportsFaultsByCodeForAnyByteAndDeepNesting) {
  std::string nots, calls, longList;
  for (int i = 0; i < 2500; ++i) nots += "not ", calls += "sin(";
  for (int i = 0; i < 150; ++i) longList += std::string(47, 'b') + std::to_string(i) + " ";
  // clang-format off
  const struct { std::string equation, variables, outcome; } rows[] = {
      {"", "X", "4 Expected variable or function name\r\n ? "}, {"Y = X", "", "4 Variable or function not defined\r\nY ?  = X"},
      {"Y = 1", "X Y 2Z", "1 Variable name must start with a letter or underscore\r\nX Y  ? 2Z"},
      {"Y = X", "X Y", "handle -1 untouched"},  // success writes neither the code nor the text
      {"Y = " + std::string(10000, '(') + "X" + std::string(10000, ')'), "X Y",
       "4 Expected variable or function name\r\nY = " + std::string(299, '(') + " ? "},
      {"Y = " + std::string(10000, '-') + "X", "X Y", "4"}, {"Y = " + nots + "X", "X Y", "4"},
      {"Y = " + calls + "X", "X Y", "4"}, {std::string(5000, 'b') + " = 1", "Y", "4"}, {"Y = 1", longList, "1"},
      {"Y = 1e" + std::string(10000, '9'), "Y", "4"}};
  // clang-format on
  for (const auto& row : rows)
    EXPECT_EQ(ParseOutcome(row.equation, row.variables).substr(0, row.outcome.size()), row.outcome);
  int code = 0;
  char text[512] = "";  // each out-parameter may be null on its own
  EXPECT_EQ(KaloParseExpression(nullptr, "X", &code, nullptr), nullptr);
  EXPECT_EQ(code, 4);
  EXPECT_EQ(KaloParseExpression("Y = X", nullptr, &code, text), nullptr);
  EXPECT_EQ(std::to_string(code) + " " + text, "4 Blank equation or empty parameter list");
  EXPECT_EQ(KaloParseExpression("Y = 1", "X Y$", nullptr, text), nullptr);
  EXPECT_STREQ(text, "Invalid character in variable name\r\nX Y ? $");
  EXPECT_EQ(KaloParseExpression("Y = (", "Y", nullptr, nullptr), nullptr);
  for (int value = 1; value < 256; ++value) {  // any byte anywhere in an equation or a list
    const std::string b(1, static_cast<char>(value));
    for (const std::string& equation :
         {b, "Y = " + b, "Y = 1" + b + "2", "Y = X" + b, b + "Y = 1", "Y = sin(" + b + ")"})
      EXPECT_NE(std::string("4h").find(ParseOutcome(equation, "X Y")[0]), std::string::npos)
          << value;
    for (const std::string& list : {b, "X" + b + "Y", b + "Y", "Y " + b})
      EXPECT_NE(std::string("14h").find(ParseOutcome("Y = 1", list)[0]), std::string::npos)
          << value;
  }
}

// A hundred variables and a hundred literals fill the pool's 200 slots, every one its own; one
// literal more is too many. A new handle has no error yet and measures angles in radians; the
// units export returns the unit stored before, even outside the range.
TEST(ParseExpression, NewHandleWithAFullPoolEvaluatesAndOneLiteralMoreIsTooMany) {
  std::string names, sum = "v0 = 1";
  for (int i = 0; i < 100; ++i) names += " v" + std::to_string(i);
  for (int i = 2; i <= 100; ++i) sum += "+" + std::to_string(i);
  EXPECT_EQ(ParseOutcome(sum + "+1+v1", names), "4 Equation too complex\r\n" + sum + "+1 ? +v1");
  const kalo_test::Handle full(sum.c_str(), names.c_str());
  EXPECT_EQ(kalo_test::ErrorText(full.get()), "No errors");
  EXPECT_EQ(KaloGetEvalError(full.get(), nullptr, nullptr), 0);
  std::vector<double> values(100, 0.0);
  EXPECT_EQ(KaloEvalExpression(full.get(), values.data()), 1);
  EXPECT_EQ(values[0], 5050);
  int previous = KAL_RADIANS;
  for (const int units : {0, 2, 7, 1000, 1}) {  // degrees, grads, two outside, radians
    EXPECT_EQ(KaloSetAngularUnits(full.get(), static_cast<KAL_ANGULAR_UNITS>(units)), previous);
    previous = units;
  }
}

TEST(Handles, NullAndNonMagicBuffersAreAbsentForEveryExport) {
  for (const uint32_t firstWord : {0u, 0x1234u, 0xEE54u, 0x1EE55u, 0xEE550000u, 0x55EEu}) {
    alignas(16) unsigned char memory[1024], before[1024];
    std::memset(memory, 0xA5, sizeof memory);
    std::memcpy(memory, &firstWord, sizeof firstWord);
    std::memcpy(before, memory, sizeof memory);
    for (void* handle : {static_cast<void*>(memory), static_cast<void*>(nullptr)}) {
      double values[4] = {1, 2, 3, 4};
      char text[512] = "untouched";
      EXPECT_EQ(KaloEvalExpression(handle, values), 0);
      EXPECT_EQ(KaloEvalExpressionColumns(handle, nullptr, 1), 0);
      EXPECT_EQ(KaloGetEvalError(handle, text, nullptr), 0);
      EXPECT_EQ(KaloGetEvalError(handle, nullptr, nullptr), 0);
      EXPECT_EQ(KaloSetAngularUnits(handle, KAL_GRADS), KAL_DEGREES);
      KaloDestroyExpression(handle);
      EXPECT_STREQ(text, "untouched");
      EXPECT_EQ(values[0] + values[1] + values[2] + values[3], 10.0);
    }
    EXPECT_EQ(std::memcmp(memory, before, sizeof memory), 0) << std::hex << firstWord;
  }
}

std::vector<std::pair<std::string, int>> enumCalls;  // name and parameter count
int enumAnswer;

int RecordEnum(char const* name, int parameterCount, char const* description, long userValue) {
  enumCalls.emplace_back(name, parameterCount);
  EXPECT_GE(std::strlen(description), 10u) << name;
  EXPECT_EQ(userValue, -2147483647L);
  return enumAnswer;
}

// The walk gives each built-in once, in the table's order, until the callback stops; each
// compiles with exactly its count and evaluates (their values: evaluator/forms_test).
TEST(EnumFunctions, WalksTheBuiltinsEachTakingItsCount) {
  EXPECT_EQ(KaloEnumFunctions(nullptr, 3), 32);
  enumAnswer = 0;
  EXPECT_EQ(KaloEnumFunctions(&RecordEnum, -2147483647L), 0);
  ASSERT_EQ(enumCalls.size(), 1u);
  enumCalls.clear();
  enumAnswer = 7;
  EXPECT_EQ(KaloEnumFunctions(&RecordEnum, -2147483647L), 7);
  ASSERT_EQ(enumCalls.size(), 32u);
  std::set<std::string> names;
  for (const auto& [name, parameterCount] : enumCalls) {
    EXPECT_TRUE(names.insert(name).second) << name;
    std::string list = "A";
    for (int i = 1; i < parameterCount; ++i) list += ", " + std::string(1, char('A' + i));
    EXPECT_EQ(ParseOutcome("Y = " + name + "(" + list + ", 1)", "A B C Y")[0], '4') << name;
    const kalo_test::Handle handle(("Y = " + name + "(" + list + ")").c_str(), "A B C Y");
    double values[4] = {0.5, 0.25, 2, 0};
    EXPECT_EQ(KaloEvalExpression(handle.get(), values), 1) << name;
  }
  EXPECT_EQ(enumCalls.front().first + enumCalls.back().first, "acosif");
}

int SumPlusUserValue(double* arguments, double* result, long userValue) {
  *result = arguments[0] + arguments[1] + arguments[2] + static_cast<double>(userValue);
  return 0;
}
int Negate(double* arguments, double* result, long) {
  *result = -arguments[0];
  return 0;
}

TEST(RegisterFunction, ChecksNameCountAndCallbackAndReplacesInAnyCase) {
  // clang-format off
  const struct { const char* name; int count; bool hosted; int expected; } rows[] = {
      {"_f", 1, true, 1}, {"f1", 0, true, 1}, {"a_b", 100, true, 1}, {"a__b", 1, true, 1}, {"g", -1, true, 0},
      {"g", 101, true, 0}, {"g", 1, false, 0}, {nullptr, 1, true, 0}, {"1f", 1, true, 0}, {"a-b", 1, true, 0},
      {"a b", 1, true, 0}, {"ab$", 1, true, 0}, {"", 1, true, 0}, {"\xC3\xA9", 1, true, 0},
      {"a234567890123456789012345678901", 1, true, 1}, {"a2345678901234567890123456789012", 1, true, 0},  // 31 at most
      {nullptr, -5, false, 1},  // clears, whatever the count
  };
  // clang-format on
  for (const auto& row : rows)
    EXPECT_EQ(KaloRegisterFunction(row.name, row.count, row.hosted ? &Negate : nullptr, 0),
              row.expected)
        << (row.name ? row.name : "(null)") << " " << row.count;
  EXPECT_EQ(ParseOutcome("Y = _f(1)", "Y")[0], '4');  // the last row emptied the registry
  // The same name in any case replaces; refusals change nothing.
  ASSERT_EQ(KaloRegisterFunction("myfunc", 1, &Negate, 0), 1);
  ASSERT_EQ(KaloRegisterFunction("MYFUNC", 3, &SumPlusUserValue, 20), 1);
  EXPECT_EQ(KaloRegisterFunction("myFunc", 101, &Negate, 0), 0);
  EXPECT_EQ(KaloRegisterFunction("myFunc", 1, nullptr, 0), 0);
  double y = 0;
  EXPECT_EQ(KaloEvalExpression(kalo_test::Handle("Y = MyFunc(1, 2, 3)", "Y").get(), &y), 1);
  EXPECT_EQ(y, 26.0);
  EXPECT_EQ(ParseOutcome("Y = MYFUNC(1)", "Y"), "4 Missing function argument\r\nY = MYFUNC(1) ? ");
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
}

}  // namespace
