// Token streams, written as text so that a table row reads like the equation it scans:
// kinds in upper case, an identifier's text or a number's value after a colon, and a thrown
// fault as ERR:<identifier>@<offset of the cursor>.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "compiler/tokenizer.h"

namespace kalo {
namespace {

std::string Scan(const std::string& equation) {
  static const char* const NAMES[] = {"",       "END",    "PLUS",  "MINUS", "DIVIDE", "MULTIPLY",
                                      "LPAREN", "RPAREN", "IDENT", "NUM",   "AND",    "OR",
                                      "XOR",    "NOT",    "GT",    "LT",    "GE",     "LE",
                                      "EQ",     "NE",     "COMMA"};
  Tokenizer tokenizer(equation.c_str());
  std::string stream;
  try {
    for (int i = 0; i < 400; ++i) {
      const TokenKind kind = tokenizer.NextToken();
      stream += std::string(stream.empty() ? "" : " ") + NAMES[kind];
      char value[32];
      std::snprintf(value, sizeof value, ":%.15g", tokenizer.number);
      if (kind == TOK_IDENT) stream += std::string(":") + tokenizer.identifier;
      if (kind == TOK_NUMBER) stream += value;
      if (kind != TOK_END) continue;
      // The end repeats and never moves the cursor.
      const char* cursor = tokenizer.cursor;
      EXPECT_EQ(tokenizer.NextToken(), TOK_END);
      EXPECT_EQ(tokenizer.cursor, cursor);
      return stream;
    }
  } catch (int id) {
    stream += (stream.empty() ? "ERR:" : " ERR:") + std::to_string(id) + "@" +
              std::to_string(tokenizer.cursor - tokenizer.text);
  }
  return stream;
}

TEST(Tokenizer, ScansEachRowToItsStream) {
  const std::string a47(47, 'a');
  // clang-format off
  const struct { std::string equation, tokens; } rows[] = {
      {"Y = 1.5e3", "IDENT:Y EQ NUM:1500 END"}, {"", "END"}, {" \t\n\v\f\rX\r\n", "IDENT:X END"},
      {"+-*/(),", "PLUS MINUS MULTIPLY DIVIDE LPAREN RPAREN COMMA END"},
      {"<> < > <= >= =< == <>= >==", "NE LT GT LE GE EQ LT EQ EQ NE EQ GE EQ END"},
      {"AND Not xOr or andy nota _and x_1", "AND NOT XOR OR IDENT:andy IDENT:nota IDENT:_and IDENT:x_1 END"},
      // Numbers: an exponent of 298 either way is the largest; digits beyond it are the mantissa's.
      {".5 5. 007 1..2 1.5.5 0x1", "NUM:0.5 NUM:5 NUM:7 NUM:1 NUM:0.2 NUM:1.5 NUM:0.5 NUM:0 IDENT:x1 END"},
      {"1e298 1e-298 1000e298 1e0000000000005", "NUM:1e+298 NUM:1e-298 NUM:1e+301 NUM:100000 END"},
      {"1e299", "ERR:10005@5"}, {"1e-299", "ERR:10005@6"}, {"1e12345678901234567890", "ERR:10005@22"},
      {"1 + .x", "NUM:1 PLUS ERR:10005@4"},
      // An exponent without digits is not one.
      {"2ex 2e + 3 2e+3 2.5e-1 2e+-3", "NUM:2 IDENT:x NUM:2 PLUS NUM:3 NUM:2000 NUM:0.25 NUM:2 MINUS NUM:3 END"},
      {"2e", "NUM:2 END"}, {"2E-", "NUM:2 END"},
      // Characters that start no token, the cursor resting on them; bytes of 128 and above
      // belong to no class: they end a token and start none.
      {"1 ^ 2", "NUM:1 ERR:10010@2"}, {"X $", "IDENT:X ERR:10010@2"}, {"\xC3\xA9", "ERR:10010@0"},
      {"ab\xB5", "IDENT:ab ERR:10010@2"}, {"1\xB5", "NUM:1 ERR:10010@1"},
      // Identifiers are cut after 47 characters; the rest scans as new tokens.
      {a47, "IDENT:" + a47 + " END"}, {a47 + "b9and", "IDENT:" + a47 + " IDENT:b9and END"},
      {a47 + "9and", "IDENT:" + a47 + " NUM:9 AND END"},
      // Only 303 characters of the equation are read.
      {std::string(300, ' ') + "abcdefg!", "IDENT:abc END"}, {std::string(302, ' ') + "1e300", "NUM:1 END"},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(Scan(row.equation), row.tokens) << row.equation;
}

}  // namespace
}  // namespace kalo
