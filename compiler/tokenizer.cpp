#include "compiler/tokenizer.h"

#include <cstring>

#include "platform/platform.h"
#include "expression/diagnostics.h"

namespace kalo {
namespace {

constexpr int MAX_EXPONENT = 299;  // a written exponent of this size or more is refused

char ToUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

struct Keyword {
  const char* name;
  TokenKind kind;
};
constexpr Keyword KEYWORDS[] = {{"and", TOK_AND}, {"or", TOK_OR}, {"xor", TOK_XOR}, {"not", TOK_NOT}};

struct Symbol {
  const char* text;
  TokenKind kind;
};
// Two-character operators come first, so "<>" is never read as "<" and ">".
constexpr Symbol SYMBOLS[] = {
    {"<>", TOK_NE},     {"<=", TOK_LE},     {">=", TOK_GE},       {"+", TOK_PLUS},
    {"-", TOK_MINUS},   {"*", TOK_MULTIPLY}, {"/", TOK_DIVIDE},   {"(", TOK_LPAREN},
    {")", TOK_RPAREN},  {"=", TOK_EQ},      {"<", TOK_LT},        {">", TOK_GT},
    {",", TOK_COMMA},
};

}  // namespace

bool EqualsIgnoringCase(const char* text, int length, const char* name) {
  for (int i = 0; i < length; ++i)
    if (name[i] == '\0' || ToUpper(text[i]) != ToUpper(name[i])) return false;
  return name[length] == '\0';
}

Tokenizer::Tokenizer(const char* equation) : text(), identifier(), cursor(text), number(0.0) {
  BoundedCopy(text, equation, sizeof text);
}

TokenKind Tokenizer::NextToken() {
  while (IsAsciiSpace(*cursor)) ++cursor;
  const char c = *cursor;
  if (IsAsciiLetter(c) || c == '_') return ScanIdentifier();
  if (IsAsciiDigit(c) || c == '.') return ScanNumber();
  for (const Symbol& symbol : SYMBOLS) {
    const size_t length = std::strlen(symbol.text);
    if (std::strncmp(cursor, symbol.text, length) == 0) {
      cursor += length;
      return symbol.kind;
    }
  }
  if (c == '\0') return TOK_END;
  throw static_cast<int>(ERR_SYNTAX);
}

TokenKind Tokenizer::ScanIdentifier() {
  int length = 0;
  do {
    identifier[length++] = *cursor++;
  } while (length < IDENTIFIER_SIZE - 1 &&
           (IsAsciiLetter(*cursor) || IsAsciiDigit(*cursor) || *cursor == '_'));
  identifier[length] = '\0';
  for (const Keyword& keyword : KEYWORDS)
    if (EqualsIgnoringCase(identifier, length, keyword.name)) return keyword.kind;
  return TOK_IDENT;
}

TokenKind Tokenizer::ScanNumber() {
  const char* start = cursor;
  if (!IsAsciiDigit(*cursor) && !IsAsciiDigit(cursor[1])) throw static_cast<int>(ERR_INVALID_NUMBER);
  while (IsAsciiDigit(*cursor)) ++cursor;
  if (*cursor == '.') ++cursor;
  while (IsAsciiDigit(*cursor)) ++cursor;
  const char* mantissaEnd = cursor;
  const char* exponentEnd = cursor;
  if (*cursor == 'e' || *cursor == 'E') {
    ++cursor;
    if (*cursor == '+' || *cursor == '-') ++cursor;
    if (IsAsciiDigit(*cursor)) {
      // Only whether the size reaches the limit matters, so the count saturates there.
      int size = 0;
      while (IsAsciiDigit(*cursor)) {
        if (size < MAX_EXPONENT) size = size * 10 + (*cursor - '0');
        ++cursor;
      }
      if (size >= MAX_EXPONENT) throw static_cast<int>(ERR_INVALID_NUMBER);
      exponentEnd = cursor;
    }
  }
  // A dangling "e" and its sign stay consumed but add nothing to the value.
  number = platform::ReadDecimal(start, exponentEnd == mantissaEnd ? mantissaEnd : exponentEnd);
  return TOK_NUMBER;
}

}  // namespace kalo
