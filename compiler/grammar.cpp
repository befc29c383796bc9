// The grammar: one pass of recursive descent over the tokens, emitting postfix code.
//
//   statement      -> IDENT "=" logical END
//   logical        -> comparison { ("and" | "or" | "xor") comparison }
//   comparison     -> additive { (">" | "<" | ">=" | "<=" | "=" | "<>") additive }
//   additive       -> multiplicative { ("+" | "-") multiplicative }
//   multiplicative -> primary { ("*" | "/") primary }
//   primary        -> "-" primary | "not" logical | "(" logical ")" | NUMBER
//                   | IDENT [ "(" logical { "," logical } ")" ]
//
// Each parse function is entered on the first token of its construct and leaves on the first
// token after it. The first fault composes the message and every caller passes false up.
#include <cstring>

#include "compiler/tokenizer.h"
#include "evaluator/builtins.h"
#include "evaluator/random.h"
#include "expression/diagnostics.h"
#include "expression/expression.h"
#include "platform/platform.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

struct BinaryOperator {
  TokenKind token;
  Operation operation;
};

// The four binary levels, loosest first. Every level is left-associative.
struct Level {
  const BinaryOperator* operators;
  int count;
};

constexpr BinaryOperator LOGICAL[] = {{TOK_AND, OP_AND}, {TOK_OR, OP_OR}, {TOK_XOR, OP_XOR}};
constexpr BinaryOperator COMPARISON[] = {{TOK_GT, OP_GT}, {TOK_LT, OP_LT}, {TOK_GE, OP_GE},
                                         {TOK_LE, OP_LE}, {TOK_EQ, OP_EQ}, {TOK_NE, OP_NE}};
constexpr BinaryOperator ADDITIVE[] = {{TOK_PLUS, OP_ADD}, {TOK_MINUS, OP_SUB}};
constexpr BinaryOperator MULTIPLICATIVE[] = {{TOK_MULTIPLY, OP_MUL}, {TOK_DIVIDE, OP_DIV}};

constexpr Level LEVELS[] = {{LOGICAL, 3}, {COMPARISON, 6}, {ADDITIVE, 2}, {MULTIPLICATIVE, 2}};
constexpr int LEVEL_COUNT = sizeof LEVELS / sizeof LEVELS[0];

const BinaryOperator* FindOperator(const Level& level, TokenKind token) {
  for (int i = 0; i < level.count; ++i)
    if (level.operators[i].token == token) return &level.operators[i];
  return nullptr;
}

}  // namespace

bool Expression::Compile(const char* equation) {
  if (!KALO_CHECK(equation != nullptr, CHECK_FILE_PARSE)) equation = "";
  // A failed internal check composes no text of its own; the host then reads this one.
  BoundedCopy(message, "Internal error", MESSAGE_SIZE);
  Tokenizer local(equation);
  tokenizer = &local;
  bool compiled;
  try {
    compiled = ParseStatement();
  } catch (int id) {
    compiled = ComposeCompileError(id, local.text, local.cursor);
  }
  tokenizer = nullptr;
  if (!compiled) return false;
  BuildFastProgram();
  SeedRandom(platform::TickCount());
  return true;
}

bool Expression::ReadToken() {
  currentToken = tokenizer->NextToken();
  return true;
}

bool Expression::Fault(int id) {
  return ComposeCompileError(id, tokenizer->text, tokenizer->cursor);
}

// The only writer of the code buffer.
bool Expression::Emit(CodeWord word) {
  if (codeCount == MAX_CODE_WORDS) return Fault(ERR_TOO_COMPLEX);
  code[codeCount++] = word;
  return true;
}

// The only writer of the pool's literal slots.
bool Expression::AddLiteral(double value) {
  if (poolCount == MAX_POOL_SLOTS) return Fault(ERR_TOO_COMPLEX);
  pool[poolCount++] = value;
  return true;
}

// statement -> IDENT "=" logical END
bool Expression::ParseStatement() {
  ReadToken();
  if (currentToken != TOK_IDENT) return Fault(ERR_EXPECTED_NAME);
  const int target =
      FindVariable(tokenizer->identifier, static_cast<int>(std::strlen(tokenizer->identifier)));
  if (target < 0) return Fault(ERR_NOT_DEFINED);
  assignedVariable = target;
  ReadToken();
  if (currentToken != TOK_EQ) return Fault(ERR_MISSING_EQUALS);
  ReadToken();
  if (!ParseLogical()) return false;
  if (currentToken != TOK_END) return Fault(ERR_EXPECTED_MORE);
  return true;
}

bool Expression::ParseLogical() { return ParseLevel(0); }

// level -> next-level { operator-of-this-level next-level }
bool Expression::ParseLevel(int level) {
  const auto parseOperand = [&] {
    return level + 1 < LEVEL_COUNT ? ParseLevel(level + 1) : ParsePrimary();
  };
  if (!parseOperand()) return false;
  while (const BinaryOperator* op = FindOperator(LEVELS[level], currentToken)) {
    ReadToken();
    if (!parseOperand() || !Emit(op->operation)) return false;
  }
  return true;
}

// primary -> "-" primary | "not" logical | "(" logical ")" | NUMBER | IDENT ...
bool Expression::ParsePrimary() {
  switch (currentToken) {
    case TOK_MINUS: return ParseNegation();
    case TOK_NOT: return ParseNot();
    case TOK_LPAREN: return ParseParenthesized();
    case TOK_NUMBER: return ParseNumber();
    case TOK_IDENT: return ParseIdentifier();
    default: return Fault(ERR_EXPECTED_NAME);
  }
}

// "-" primary: binds tighter than every binary operator.
bool Expression::ParseNegation() {
  ReadToken();
  return ParsePrimary() && Emit(OP_NEG);
}

// "not" logical: reaches to the ")", "," or end that closes the enclosing construct.
bool Expression::ParseNot() {
  ReadToken();
  return ParseLogical() && Emit(OP_NOT);
}

// "(" logical ")"
bool Expression::ParseParenthesized() {
  ReadToken();
  if (!ParseLogical()) return false;
  if (currentToken != TOK_RPAREN) return Fault(ERR_MISSING_RPAREN);
  return ReadToken();
}

// NUMBER: every literal takes a slot of its own; nothing is folded or shared.
bool Expression::ParseNumber() {
  if (!Emit(MakeOperand(poolCount)) || !AddLiteral(tokenizer->number)) return false;
  return ReadToken();
}

// IDENT [ "(" arguments ]: a call when "(" follows, else a variable.
bool Expression::ParseIdentifier() {
  char name[IDENTIFIER_SIZE];
  BoundedCopy(name, tokenizer->identifier, sizeof name);
  const int length = static_cast<int>(std::strlen(name));
  ReadToken();
  if (currentToken == TOK_LPAREN) return ParseFunctionCall(name, length);
  return ParseVariable(name, length);
}

bool Expression::ParseVariable(const char* name, int length) {
  const int index = FindVariable(name, length);
  if (index >= 0) return Emit(MakeOperand(index));
  if (FindUserFunction(name, length) != nullptr || FindBuiltinFunction(name, length) != nullptr)
    return Fault(ERR_MISSING_LPAREN);
  return Fault(ERR_NOT_DEFINED);
}

// A registered function hides a built-in of the same name.
bool Expression::ParseFunctionCall(const char* name, int length) {
  KALO_CHECK(currentToken == TOK_LPAREN, CHECK_FILE_PARSE);
  ReadToken();
  int index = -1;
  if (const UserFunction* function = FindUserFunction(name, length, &index))
    return EmitUserCall(*function, index);
  if (const BuiltinFunction* function = FindBuiltinFunction(name, length))
    return EmitBuiltinCall(*function);
  return Fault(ERR_NOT_DEFINED);
}

// arguments -> logical { "," logical } ")", exactly `count` of them.
bool Expression::ParseArguments(int count) {
  if (!KALO_CHECK(count >= 1, CHECK_FILE_PARSE)) return false;
  for (int argument = 1;; ++argument) {
    if (!ParseLogical()) return false;
    if (argument == count) break;
    if (currentToken != TOK_COMMA) return Fault(ERR_MISSING_ARGUMENT);
    ReadToken();
  }
  if (currentToken != TOK_RPAREN) return Fault(ERR_MISSING_RPAREN);
  return ReadToken();
}

bool Expression::EmitUserCall(const UserFunction& function, int index) {
  return ParseArguments(function.parameterCount) && Emit(MakeUserCall(index));
}

bool Expression::EmitBuiltinCall(const BuiltinFunction& function) {
  return ParseArguments(function.parameterCount) && Emit(static_cast<CodeWord>(function.id));
}

int Expression::FindVariable(const char* name, int length) const {
  for (int i = 0; i < variableCount; ++i) {
    if (!KALO_CHECK(nameOffsets[i] >= 0, CHECK_FILE_PARSE)) continue;
    if (EqualsIgnoringCase(name, length, variableText + nameOffsets[i])) return i;
  }
  return -1;
}

}  // namespace kalo
