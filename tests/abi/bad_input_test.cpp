// Whatever bytes a host passes, KaloParseExpression returns a handle, or null with a creation
// code and a terminated text of at most 511 characters, and writes nothing past 512 bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "kalo.h"

namespace {

// Parses and checks the outcome's shape; returns the text ("" for a handle).
std::string ParseAnyway(const std::string& equation, const std::string& variables,
                        int allowedCode) {
  char text[1024];
  std::memset(text, 0x7F, sizeof text);
  int code = 0;
  void* handle = KaloParseExpression(equation.c_str(), variables.c_str(), &code, text);
  if (handle != nullptr) {
    KaloDestroyExpression(handle);
    return "";
  }
  const std::string trace = testing::PrintToString(equation.substr(0, 40)) + " over " +
                            testing::PrintToString(variables.substr(0, 40));
  EXPECT_TRUE(code == allowedCode || (allowedCode == 0 && (code == 1 || code == 4)))
      << code << " for " << trace;
  EXPECT_NE(std::memchr(text, '\0', 512), nullptr) << trace;
  for (size_t i = 512; i < sizeof text; ++i) EXPECT_EQ(text[i], 0x7F) << trace << " at " << i;
  return text;
}

TEST(BadInput, EveryByteAnywhereInAnEquation) {
  for (int value = 1; value < 256; ++value) {
    const std::string b(1, static_cast<char>(value));
    for (const std::string& equation :
         {b, "Y = " + b, "Y = 1" + b + "2", "Y = X" + b, b + "Y = 1", "Y = sin(" + b + ")"})
      ParseAnyway(equation, "X Y", 4);
  }
}

TEST(BadInput, EveryByteInAVariableList) {
  for (int value = 1; value < 256; ++value) {
    const std::string b(1, static_cast<char>(value));
    for (const std::string& list : {b, "X" + b + "Y", b + "Y", "Y " + b})
      ParseAnyway("Y = 1", list, 0);
  }
}

TEST(BadInput, DeepNestingIsCutAt303Characters) {
  const std::string expectedHead = "Expected variable or function name\r\nY = ";
  const std::string open(10000, '(');
  EXPECT_EQ(ParseAnyway("Y = " + open + "X" + std::string(10000, ')'), "X Y", 4),
            expectedHead + std::string(299, '(') + " ? ");
  EXPECT_EQ(ParseAnyway("Y = " + std::string(10000, '-') + "X", "X Y", 4),
            expectedHead + std::string(299, '-') + " ? ");
  std::string nots, calls;
  for (int i = 0; i < 2500; ++i) nots += "not ", calls += "sin(";
  ParseAnyway("Y = " + nots + "X", "X Y", 4);
  ParseAnyway("Y = " + calls + "X", "X Y", 4);
}

TEST(BadInput, LongIdentifiersAndExponents) {
  const std::string b47(47, 'b'), b48(48, 'b'), b5000(5000, 'b');
  EXPECT_EQ(ParseAnyway("Y = " + b47, b47 + " Y", 4), "");
  EXPECT_NE(ParseAnyway("Y = " + b48, b48 + " Y", 4), "");
  EXPECT_NE(ParseAnyway("Y = " + b5000, b5000 + " Y", 4), "");
  EXPECT_NE(ParseAnyway(b5000 + " = 1", "Y", 4), "");
  std::string list;
  for (int i = 0; i < 150; ++i) list += b47 + std::to_string(i) + " ";
  ParseAnyway("Y = 1", list, 1);
  const std::string digits(10000, '9'), zeros(10000, '0');
  EXPECT_NE(ParseAnyway("Y = 1e" + digits, "Y", 4), "");
  EXPECT_NE(ParseAnyway("Y = 1e-" + digits, "Y", 4), "");
  EXPECT_EQ(ParseAnyway("Y = 1e" + zeros + "5", "Y", 4), "");
  EXPECT_EQ(ParseAnyway("Y = " + digits, "Y", 4), "");
  EXPECT_EQ(ParseAnyway("Y = 0." + zeros + "1", "Y", 4), "");
}

}  // namespace
