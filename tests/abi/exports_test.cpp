// The exports as a host sees them through kalo.h: argument and handle tests, the values each
// export returns, and the texts it writes or leaves alone.
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

struct Parsed {
  void* handle;
  int code;
  std::string text;
};

Parsed Parse(const char* equation, const char* variables) {
  Parsed parsed{nullptr, -1, {}};
  char text[512] = "untouched";
  parsed.handle = KaloParseExpression(equation, variables, &parsed.code, text);
  parsed.text = text;
  KaloDestroyExpression(parsed.handle);
  return parsed;
}

TEST(ParseExpression, RefusesNullsAndReportsListAndCompileFaults) {
  struct Row {
    const char* equation;
    const char* variables;
    int code;
    const char* text;
  };
  const char* const blank = "Blank equation or empty parameter list";
  const Row rows[] = {
      {nullptr, "X Y", 4, blank},
      {"Y = X", nullptr, 4, blank},
      {"", "X", 4, "Expected variable or function name\r\n ? "},
      {"Y = X", "", 4, "Variable or function not defined\r\nY ?  = X"},
      {"Y = 1", "X Y 2Z", 1, "Variable name must start with a letter or underscore\r\nX Y  ? 2Z"},
      {"Y = 1", "X  ", 1, "Variable name must start with a letter or underscore\r\nX   ? "},
  };
  for (const Row& row : rows) {
    const Parsed parsed = Parse(row.equation, row.variables);
    EXPECT_EQ(parsed.handle, nullptr);
    EXPECT_EQ(parsed.code, row.code) << parsed.text;
    EXPECT_EQ(parsed.text, row.text);
  }
  // A list holds at most 100 names.
  std::string names;
  for (int i = 0; i < 101; ++i) names += " v" + std::to_string(i);
  EXPECT_EQ(Parse("v0 = 1", names.c_str()).code, 1);
  EXPECT_EQ(Parse("v0 = 1", names.c_str()).text.substr(0, 18), "Too many variables");
  names.resize(names.rfind(' '));
  EXPECT_EQ(Parse("v0 = v99", names.c_str()).code, -1);
  // ...and with 100 literals the pool's 200 slots are full, every one still its own.
  std::string sum = "v0 = 1";
  for (int i = 2; i <= 100; ++i) sum += "+" + std::to_string(i);
  void* full = KaloParseExpression(sum.c_str(), names.c_str(), nullptr, nullptr);
  std::vector<double> values(100, 0.0);
  EXPECT_EQ(KaloEvalExpression(full, values.data()), 1);
  EXPECT_EQ(values[0], 5050);
  KaloDestroyExpression(full);
  // Each out-parameter may be null on its own.
  int code = 0;
  EXPECT_EQ(KaloParseExpression(nullptr, "X", &code, nullptr), nullptr);
  EXPECT_EQ(code, 4);
  char text[512] = "";
  EXPECT_EQ(KaloParseExpression("Y = 1", "X Y$", nullptr, text), nullptr);
  EXPECT_STREQ(text, "Invalid character in variable name\r\nX Y ? $");
  EXPECT_EQ(KaloParseExpression("Y = (", "Y", nullptr, nullptr), nullptr);
}

TEST(ParseExpression, SuccessLeavesCodeAndTextAsTheHostSetThem) {
  int code = 77;
  char text[512] = "the host's text";
  void* handle = KaloParseExpression("Y = X", "X Y", &code, text);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(code, 77);
  EXPECT_STREQ(text, "the host's text");
  KaloDestroyExpression(handle);
}

TEST(Handles, NullAndNonMagicBuffersAreAbsentForEveryExport) {
  const uint32_t firstWords[] = {0, 0x1234, 0xEE54, 0x1EE55, 0xEE550000, 0x55EE};
  for (const uint32_t firstWord : firstWords) {
    alignas(16) unsigned char memory[1024];
    std::memset(memory, 0xA5, sizeof memory);
    std::memcpy(memory, &firstWord, sizeof firstWord);
    unsigned char before[sizeof memory];
    std::memcpy(before, memory, sizeof memory);
    for (void* handle : {static_cast<void*>(memory), static_cast<void*>(nullptr)}) {
      double values[4] = {1, 2, 3, 4};
      char text[512] = "untouched";
      EXPECT_EQ(KaloEvalExpression(handle, values), 0);
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

TEST(AngularUnits, ReturnsTheUnitStoredBeforeEvenOutsideTheRange) {
  void* handle = KaloParseExpression("Y = sin(X)", "X Y", nullptr, nullptr);
  ASSERT_NE(handle, nullptr);
  const int sequence[] = {KAL_DEGREES, KAL_GRADS, 7, 1000, KAL_RADIANS};
  int previous = KAL_RADIANS;
  for (const int units : sequence) {
    EXPECT_EQ(KaloSetAngularUnits(handle, static_cast<KAL_ANGULAR_UNITS>(units)), previous);
    previous = units;
  }
  KaloDestroyExpression(handle);
}

struct EnumCall {
  std::string name;
  int parameterCount;
  std::string description;
  long userValue;
};
std::vector<EnumCall> enumCalls;
int enumAnswer;

int RecordEnum(char const* name, int parameterCount, char const* description, long userValue) {
  enumCalls.push_back({name, parameterCount, description, userValue});
  return enumAnswer;
}

// Every row the walk gives names a distinct built-in that compiles with exactly its count.
TEST(EnumFunctions, WalksTheBuiltinTableUntilTheCallbackStops) {
  enumCalls.clear();
  EXPECT_EQ(KaloEnumFunctions(nullptr, 3), 32);
  EXPECT_TRUE(enumCalls.empty());
  enumAnswer = 7;
  EXPECT_EQ(KaloEnumFunctions(&RecordEnum, -2147483647L), 7);
  ASSERT_EQ(enumCalls.size(), 32u);
  std::set<std::string> names;
  for (const EnumCall& call : enumCalls) {
    EXPECT_TRUE(names.insert(call.name).second) << call.name;
    EXPECT_EQ(call.userValue, -2147483647L);
    EXPECT_GE(call.description.size(), 10u) << call.name;
    std::string arguments = "1";
    for (int i = 1; i < call.parameterCount; ++i) arguments += ",1";
    for (int extra = 0; extra < 2; ++extra) {
      const Parsed parsed = Parse(("Y = " + call.name + "(" + arguments + ")").c_str(), "Y");
      EXPECT_EQ(parsed.code, extra == 0 ? -1 : 4) << call.name << "(" << arguments << ")";
      arguments += ",1";
    }
  }
  EXPECT_EQ(enumCalls.front().name, "acos");
  EXPECT_EQ(enumCalls.back().name, "if");
  enumCalls.clear();
  enumAnswer = 0;
  EXPECT_EQ(KaloEnumFunctions(&RecordEnum, 9), 0);
  ASSERT_EQ(enumCalls.size(), 1u);
  EXPECT_EQ(enumCalls[0].name, "acos");
}

int SumPlusUserValue(double* arguments, double* result, long userValue) {
  *result = arguments[0] + arguments[1] + arguments[2] + static_cast<double>(userValue);
  return 0;
}
int Negate(double* arguments, double* result, long) {
  *result = -arguments[0];
  return 0;
}

double Evaluate(const char* equation) {
  int code = 0;
  char text[512] = "";
  void* handle = KaloParseExpression(equation, "Y", &code, text);
  EXPECT_NE(handle, nullptr) << equation << ": " << text;
  double values[1] = {0};
  EXPECT_EQ(KaloEvalExpression(handle, values), 1) << equation;
  KaloDestroyExpression(handle);
  return values[0];
}

TEST(RegisterFunction, ChecksNameCountAndCallback) {
  struct Row {
    const char* name;
    int parameterCount;
    bool withCallback;
    int expected;
  };
  // clang-format off
  const Row rows[] = {
      {"_f", 1, true, 1}, {"f1", 0, true, 1}, {"a_b", 100, true, 1}, {"a__b", 1, true, 1},
      {"g", -1, true, 0}, {"g", 101, true, 0}, {"g", 1, false, 0}, {nullptr, 1, true, 0},
      {"1f", 1, true, 0}, {"a-b", 1, true, 0}, {"a b", 1, true, 0}, {"ab$", 1, true, 0},
      {"", 1, true, 0}, {"\xC3\xA9", 1, true, 0},
      {"a234567890123456789012345678901", 1, true, 1},
      {nullptr, -5, false, 1},  // clears, whatever the count
  };
  // clang-format on
  for (const Row& row : rows)
    EXPECT_EQ(
        KaloRegisterFunction(row.name, row.parameterCount, row.withCallback ? &Negate : nullptr, 0),
        row.expected)
        << (row.name ? row.name : "(null)") << " " << row.parameterCount;
  // The last row emptied the registry.
  EXPECT_EQ(Parse("Y = _f(1)", "Y").code, 4);
}

TEST(RegisterFunction, SameNameInAnyCaseReplacesAndRefusalsChangeNothing) {
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
  ASSERT_EQ(KaloRegisterFunction("myfunc", 1, &Negate, 0), 1);
  ASSERT_EQ(KaloRegisterFunction("MYFUNC", 3, &SumPlusUserValue, 20), 1);
  EXPECT_EQ(KaloRegisterFunction("myFunc", 101, &Negate, 0), 0);
  EXPECT_EQ(KaloRegisterFunction("myFunc", 1, nullptr, 0), 0);
  EXPECT_EQ(Evaluate("Y = MyFunc(1, 2, 3)"), 26.0);
  EXPECT_EQ(Parse("Y = MYFUNC(1)", "Y").text, "Missing function argument\r\nY = MYFUNC(1) ? ");
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
}

// An internal check that fails while compiling leaves the one text the host can read, and a
// report; a function without parameters cannot be called, so its call trips one.
TEST(RegisterFunction, CallOfAFunctionWithoutParametersFailsWithCode4AndOneReport) {
  ASSERT_EQ(KaloRegisterFunction("zero", 0, &Negate, 0), 1);
  const kalo_test::HostReports reports;
  const Parsed parsed = Parse("Y = zero()", "Y");
  EXPECT_EQ(parsed.code, 4);
  EXPECT_EQ(parsed.text, "Internal error");
  EXPECT_EQ(kalo_test::HostReports::Texts().size(), 1u);
  KaloRegisterFunction(nullptr, 0, nullptr, 0);
}

}  // namespace
