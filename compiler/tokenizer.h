// Splits one equation into tokens. Its two faults, a malformed number and a character that
// starts no token, are thrown as compile error identifiers (int) and caught only by Compile.
#pragma once

#include <cstdint>

namespace kalo {

enum TokenKind : int32_t {
  TOK_END = 1,       // the terminator
  TOK_PLUS = 2,      // +
  TOK_MINUS = 3,     // -
  TOK_DIVIDE = 4,    // /
  TOK_MULTIPLY = 5,  // *
  TOK_LPAREN = 6,    // (
  TOK_RPAREN = 7,    // )
  TOK_IDENT = 8,     // identifier
  TOK_NUMBER = 9,    // numeric literal
  TOK_AND = 10,      // and
  TOK_OR = 11,       // or
  TOK_XOR = 12,      // xor
  TOK_NOT = 13,      // not
  TOK_GT = 14,       // >
  TOK_LT = 15,       // <
  TOK_GE = 16,       // >=
  TOK_LE = 17,       // <=
  TOK_EQ = 18,       // =
  TOK_NE = 19,       // <>
  TOK_COMMA = 20,    // ,
};

// Compile error identifiers, the keys of the string table.
enum CompileError : int {
  ERR_MISSING_EQUALS = 10001,
  ERR_MISSING_LPAREN = 10002,
  ERR_MISSING_RPAREN = 10003,
  ERR_MISSING_ARGUMENT = 10004,
  ERR_INVALID_NUMBER = 10005,
  ERR_NOT_DEFINED = 10006,
  ERR_EXPECTED_NAME = 10007,
  ERR_EXPECTED_MORE = 10008,
  ERR_TOO_COMPLEX = 10009,
  ERR_SYNTAX = 10010,
};

constexpr int EQUATION_SIZE = 304;   // at most 303 characters of the equation are read
constexpr int IDENTIFIER_SIZE = 48;  // at most 47 characters of an identifier

class Tokenizer {
 public:
  explicit Tokenizer(const char* equation);

  TokenKind NextToken();

  char text[EQUATION_SIZE];
  char identifier[IDENTIFIER_SIZE];
  const char* cursor;
  double number;

 private:
  TokenKind ScanIdentifier();
  TokenKind ScanNumber();
};

}  // namespace kalo
