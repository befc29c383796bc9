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
      if (kind == TOK_IDENT) stream += std::string(":") + tokenizer.identifier;
      char value[32];
      std::snprintf(value, sizeof value, ":%.15g", tokenizer.number);
      if (kind == TOK_NUMBER) stream += value;
      if (kind != TOK_END) continue;
      // The end repeats and never moves the cursor.
      const char* cursor = tokenizer.cursor;
      EXPECT_EQ(tokenizer.NextToken(), TOK_END);
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

struct ScanRow {
  std::string equation;
  std::string tokens;
};

class TokenizerTable : public ::testing::TestWithParam<ScanRow> {};

TEST_P(TokenizerTable, Scans) { EXPECT_EQ(Scan(GetParam().equation), GetParam().tokens); }

const std::string A47(47, 'a');

// clang-format off
INSTANTIATE_TEST_SUITE_P(Tokens, TokenizerTable, ::testing::Values(
    ScanRow{"Y = 1.5e3", "IDENT:Y EQ NUM:1500 END"}, ScanRow{"", "END"},
    ScanRow{" \t\n\v\f\rX\r\n", "IDENT:X END"},
    ScanRow{"+-*/(),", "PLUS MINUS MULTIPLY DIVIDE LPAREN RPAREN COMMA END"},
    ScanRow{"<> < > <= >= =< ==", "NE LT GT LE GE EQ LT EQ EQ END"},
    ScanRow{"<>=", "NE EQ END"}, ScanRow{">==", "GE EQ END"},
    ScanRow{"AND Not xOr or", "AND NOT XOR OR END"},
    ScanRow{"andy nota _and x_1", "IDENT:andy IDENT:nota IDENT:_and IDENT:x_1 END"},
    // Numbers.
    ScanRow{".5", "NUM:0.5 END"}, ScanRow{"5.", "NUM:5 END"}, ScanRow{"007", "NUM:7 END"},
    ScanRow{".", "ERR:10005@0"}, ScanRow{".e5", "ERR:10005@0"}, ScanRow{"1 + .x", "NUM:1 PLUS ERR:10005@4"},
    ScanRow{"1..2", "NUM:1 NUM:0.2 END"}, ScanRow{"1.5.5", "NUM:1.5 NUM:0.5 END"},
    ScanRow{"1e298", "NUM:1e+298 END"}, ScanRow{"1e-298", "NUM:1e-298 END"},
    ScanRow{"1000e298", "NUM:1e+301 END"}, ScanRow{"1e299", "ERR:10005@5"},
    ScanRow{"1e-299", "ERR:10005@6"}, ScanRow{"1E+0300 + 1", "ERR:10005@7"},
    ScanRow{"1e12345678901234567890", "ERR:10005@22"},
    ScanRow{"1e0000000000005", "NUM:100000 END"}, ScanRow{"1e0000000000299", "ERR:10005@15"},
    ScanRow{"2e", "NUM:2 END"}, ScanRow{"2E-", "NUM:2 END"}, ScanRow{"2ex", "NUM:2 IDENT:x END"},
    ScanRow{"2e + 3", "NUM:2 PLUS NUM:3 END"}, ScanRow{"2e+3", "NUM:2000 END"},
    ScanRow{"2.5e-1", "NUM:0.25 END"}, ScanRow{"2e+-3", "NUM:2 MINUS NUM:3 END"},
    ScanRow{"0x10", "NUM:0 IDENT:x10 END"},
    // Characters that start no token, the cursor resting on them; bytes of 128 and above
    // belong to no class: they end a token and start none.
    ScanRow{"!", "ERR:10010@0"}, ScanRow{"1 ^ 2", "NUM:1 ERR:10010@2"}, ScanRow{"X $", "IDENT:X ERR:10010@2"},
    ScanRow{"\xC3\xA9", "ERR:10010@0"}, ScanRow{"ab\xB5", "IDENT:ab ERR:10010@2"},
    ScanRow{"1\xB5", "NUM:1 ERR:10010@1"},
    // Identifiers are cut after 47 characters; the rest scans as new tokens.
    ScanRow{A47, "IDENT:" + A47 + " END"}, ScanRow{A47 + "bbb", "IDENT:" + A47 + " IDENT:bbb END"},
    ScanRow{A47 + "9x", "IDENT:" + A47 + " NUM:9 IDENT:x END"},
    ScanRow{A47 + "and", "IDENT:" + A47 + " AND END"},
    // Only 303 characters of the equation are read.
    ScanRow{std::string(300, ' ') + "abcdefg!", "IDENT:abc END"},
    ScanRow{std::string(302, ' ') + "1e300", "NUM:1 END"}));
// clang-format on

}  // namespace
}  // namespace kalo
