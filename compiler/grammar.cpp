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
// token after it. The first fault is noted and every caller passes false up; its message is
// composed once, where the Tokenizer stopped.
#include <cstring>

#include "compiler/compiler.h"
#include "compiler/tokenizer.h"
#include "expression/diagnostics.h"
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

// One compilation: the tokens of one equation into one program.
class Parser {
 public:
  Parser(Tokenizer& tokenizer, Program& program) : tokenizer_(tokenizer), program_(program) {}

  bool ParseStatement();
  // The compile error that stopped the parse; 0 after a failed internal check.
  int fault() const { return fault_; }

 private:
  void Advance() { current_ = tokenizer_.NextToken(); }
  // Passes `condition` on, noting fault `id` when it is false; the parse then unwinds.
  bool Require(bool condition, int id) {
    if (!condition) fault_ = id;
    return condition;
  }
  bool Expect(TokenKind kind, int id);
  bool Emit(CodeWord word);
  bool AddLiteral(double value);
  bool ParseLevel(int level);
  bool ParseLogical() { return ParseLevel(0); }
  bool ParsePrimary();
  bool ParseNegation();
  bool ParseNot();
  bool ParseParenthesized();
  bool ParseNumber();
  bool ParseIdentifier();
  bool ParseVariable(const char* name, int length);
  bool ParseFunctionCall(const char* name, int length);
  bool ParseArguments(int count);

  Tokenizer& tokenizer_;
  Program& program_;
  TokenKind current_ = TOK_END;
  int fault_ = 0;
};

// Passes over the expected token, or refuses with `id`.
bool Parser::Expect(TokenKind kind, int id) {
  if (!Require(current_ == kind, id)) return false;
  Advance();
  return true;
}

// The only writer of the code buffer.
bool Parser::Emit(CodeWord word) {
  if (!Require(program_.codeCount < MAX_CODE_WORDS, ERR_TOO_COMPLEX)) return false;
  program_.code[program_.codeCount++] = word;
  return true;
}

// The only writer of the pool's literal slots.
bool Parser::AddLiteral(double value) {
  if (!Require(program_.poolCount < MAX_POOL_SLOTS, ERR_TOO_COMPLEX)) return false;
  program_.pool[program_.poolCount++] = value;
  return true;
}

// statement -> IDENT "=" logical END
bool Parser::ParseStatement() {
  Advance();
  if (!Require(current_ == TOK_IDENT, ERR_EXPECTED_NAME)) return false;
  const int target = FindVariable(program_, tokenizer_.identifier,
                                  static_cast<int>(std::strlen(tokenizer_.identifier)));
  if (!Require(target >= 0, ERR_NOT_DEFINED)) return false;
  program_.assignedVariable = target;
  Advance();
  if (!Expect(TOK_EQ, ERR_MISSING_EQUALS) || !ParseLogical()) return false;
  return Require(current_ == TOK_END, ERR_EXPECTED_MORE);
}

// level -> next-level { operator-of-this-level next-level }
bool Parser::ParseLevel(int level) {
  const auto parseOperand = [&] {
    return level + 1 < LEVEL_COUNT ? ParseLevel(level + 1) : ParsePrimary();
  };
  if (!parseOperand()) return false;
  while (const BinaryOperator* op = FindOperator(LEVELS[level], current_)) {
    Advance();
    if (!parseOperand() || !Emit(op->operation)) return false;
  }
  return true;
}

// primary -> "-" primary | "not" logical | "(" logical ")" | NUMBER | IDENT ...
bool Parser::ParsePrimary() {
  switch (current_) {
    case TOK_MINUS: return ParseNegation();
    case TOK_NOT: return ParseNot();
    case TOK_LPAREN: return ParseParenthesized();
    case TOK_NUMBER: return ParseNumber();
    case TOK_IDENT: return ParseIdentifier();
    default: return Require(false, ERR_EXPECTED_NAME);
  }
}

// "-" primary: binds tighter than every binary operator.
bool Parser::ParseNegation() {
  Advance();
  return ParsePrimary() && Emit(OP_NEG);
}

// "not" logical: reaches to the ")", "," or end that closes the enclosing construct.
bool Parser::ParseNot() {
  Advance();
  return ParseLogical() && Emit(OP_NOT);
}

// "(" logical ")"
bool Parser::ParseParenthesized() {
  Advance();
  return ParseLogical() && Expect(TOK_RPAREN, ERR_MISSING_RPAREN);
}

// NUMBER: every literal takes a slot of its own; nothing is folded or shared.
bool Parser::ParseNumber() {
  if (!Emit(MakeOperand(program_.poolCount)) || !AddLiteral(tokenizer_.number)) return false;
  Advance();
  return true;
}

// IDENT [ "(" arguments ]: a call when "(" follows, else a variable.
bool Parser::ParseIdentifier() {
  char name[IDENTIFIER_SIZE];
  BoundedCopy(name, tokenizer_.identifier, sizeof name);
  const int length = static_cast<int>(std::strlen(name));
  Advance();
  if (current_ == TOK_LPAREN) return ParseFunctionCall(name, length);
  return ParseVariable(name, length);
}

bool Parser::ParseVariable(const char* name, int length) {
  const int index = FindVariable(program_, name, length);
  if (index >= 0) return Emit(MakeOperand(index));
  const bool isFunction =
      FindUserFunction(name, length) != nullptr || FindBuiltinFunction(name, length) != nullptr;
  return Require(false, isFunction ? ERR_MISSING_LPAREN : ERR_NOT_DEFINED);
}

// A registered function hides a built-in of the same name.
bool Parser::ParseFunctionCall(const char* name, int length) {
  KALO_CHECK(current_ == TOK_LPAREN, CHECK_FILE_PARSE);
  Advance();
  int index = -1;
  if (const UserFunction* function = FindUserFunction(name, length, &index))
    return ParseArguments(function->parameterCount) && Emit(MakeUserCall(index));
  if (const OperationInfo* function = FindBuiltinFunction(name, length))
    return ParseArguments(function->operandCount) && Emit(function->code);
  return Require(false, ERR_NOT_DEFINED);
}

// arguments -> logical { "," logical } ")", exactly `count` of them.
bool Parser::ParseArguments(int count) {
  if (!KALO_CHECK(count >= 1, CHECK_FILE_PARSE)) return false;
  for (int argument = 1;; ++argument) {
    if (!ParseLogical()) return false;
    if (argument == count) break;
    if (!Expect(TOK_COMMA, ERR_MISSING_ARGUMENT)) return false;
  }
  return Expect(TOK_RPAREN, ERR_MISSING_RPAREN);
}

}  // namespace

bool Compile(const char* equation, Program* program, char* message) {
  if (!KALO_CHECK(equation != nullptr, CHECK_FILE_PARSE)) equation = "";
  Tokenizer tokenizer(equation);
  Parser parser(tokenizer, *program);
  int fault = 0;
  try {
    if (parser.ParseStatement()) return true;
    fault = parser.fault();
  } catch (int id) {
    fault = id;
  }
  if (fault != 0)
    ComposeCompileError(fault, tokenizer.text, tokenizer.cursor, message);
  else  // a failed internal check composes no text of its own
    BoundedCopy(message, "Internal error", MESSAGE_SIZE);
  return false;
}

}  // namespace kalo
