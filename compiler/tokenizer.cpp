#include "compiler/tokenizer.h"

#include "common/ascii.h"
#include "expression/diagnostics.h"
#include "platform/platform.h"

namespace kalo {
namespace {

constexpr int MAX_EXPONENT = 299;  // a written exponent of this size or more is refused

struct Keyword {
  const char* name;
  TokenKind kind;
};
constexpr Keyword KEYWORDS[] = {
    {"and", TOK_AND}, {"or", TOK_OR}, {"xor", TOK_XOR}, {"not", TOK_NOT}};

struct Symbol {
  char first;
  char second;  // '\0' for a one-character symbol
  TokenKind kind;
};
// Two-character operators come first, so "<>" is never read as "<" and ">".
constexpr Symbol SYMBOLS[] = {
    {'<', '>', TOK_NE},   {'<', '=', TOK_LE},     {'>', '=', TOK_GE},   {'+', 0, TOK_PLUS},
    {'-', 0, TOK_MINUS},  {'*', 0, TOK_MULTIPLY}, {'/', 0, TOK_DIVIDE}, {'(', 0, TOK_LPAREN},
    {')', 0, TOK_RPAREN}, {'=', 0, TOK_EQ},       {'<', 0, TOK_LT},     {'>', 0, TOK_GT},
    {',', 0, TOK_COMMA},
};

}  // namespace

Tokenizer::Tokenizer(const char* equation) : text(), identifier(), cursor(text), number(0.0) {
  BoundedCopy(text, equation, sizeof text);
}

TokenKind Tokenizer::NextToken() {
  while (IsAsciiSpace(*cursor)) ++cursor;
  const char c = *cursor;
  if (IsNameStart(c)) return ScanIdentifier();
  if (IsAsciiDigit(c) || c == '.') return ScanNumber();
  for (const Symbol& symbol : SYMBOLS) {
    if (c == symbol.first && (symbol.second == '\0' || cursor[1] == symbol.second)) {
      cursor += symbol.second == '\0' ? 1 : 2;
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
  } while (length < IDENTIFIER_SIZE - 1 && IsNameChar(*cursor));
  identifier[length] = '\0';
  for (const Keyword& keyword : KEYWORDS)
    if (EqualsIgnoringCase(identifier, length, keyword.name)) return keyword.kind;
  return TOK_IDENT;
}

TokenKind Tokenizer::ScanNumber() {
  const char* start = cursor;
  if (!IsAsciiDigit(*cursor) && !IsAsciiDigit(cursor[1]))
    throw static_cast<int>(ERR_INVALID_NUMBER);
  while (IsAsciiDigit(*cursor)) ++cursor;
  if (*cursor == '.') ++cursor;
  while (IsAsciiDigit(*cursor)) ++cursor;
  const char* valueEnd = cursor;
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
      valueEnd = cursor;
    }
  }
  // A dangling "e" and its sign stay consumed but add nothing to the value.
  number = platform::ReadDecimal(start, valueEnd);
  return TOK_NUMBER;
}

}  // namespace kalo
