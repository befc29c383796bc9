// The compiled equation behind a handle: its program, its values, its variables and the record
// of its last fault. Its member functions are defined by the stage that owns them: the compiler
// (compiler/grammar.cpp), the interpreter and guard (evaluator/), the host-call (userfunc/) and
// the texts (expression/diagnostics.cpp).
#pragma once

#include <cstdint>

#include "evaluator/fast_program.h"
#include "evaluator/opcodes.h"
#include "include/kalo.h"

namespace kalo {

class Tokenizer;
struct BuiltinFunction;
struct UserFunction;
enum TokenKind : int32_t;

constexpr uint32_t EXPRESSION_MAGIC = 0xEE55;
constexpr int MAX_CODE_WORDS = 400;
constexpr int MAX_POOL_SLOTS = 200;
constexpr int MAX_VARIABLES = 100;
constexpr int MESSAGE_SIZE = 512;
constexpr int STACK_SIZE = 200;

// The fields stay public and in this order: a handle is tested by reading its first 32-bit word,
// so `magic` must stay first and the type standard-layout.
struct Expression {
  uint32_t magic;
  CodeWord* code;
  int32_t codeCount;
  double* pool;  // the ValuePool: variable slots, then one slot per literal; then the fast
                 // form's other registers (evaluator/fast_program.h)
  int32_t poolCount;
  int32_t variableCount;
  char* variableText;    // the variable list, each name terminated in place
  int32_t* nameOffsets;  // offset of variable i's name in variableText; -1 beyond
  int32_t assignedVariable;
  int32_t errorCode;
  CodeWord lastCodeWord;
  double topValue;   // last (or only) operand of the latest built-in operation
  double nextValue;  // the operand before it, 0 when there was none
  char message[MESSAGE_SIZE];
  TokenKind currentToken;
  Tokenizer* tokenizer;
  KAL_ANGULAR_UNITS angularUnits;
  FastProgram fast;

  // --- Life (expression/expression.cpp) ---
  // Throws `message` (a char*) holding the reason when the list is bad or memory is short.
  Expression(const char* variableList, char* message, int messageSize);
  ~Expression();
  Expression(const Expression&) = delete;
  Expression& operator=(const Expression&) = delete;

  // --- Texts (expression/diagnostics.cpp) ---
  bool ComposeCompileError(int id, const char* text, const char* cursor);

  // --- Compiler (compiler/grammar.cpp) ---
  bool Compile(const char* equation);
  int FindVariable(const char* name, int length) const;

  // --- Names for reports (evaluator/builtins.cpp) ---
  const char* GetCodeWordName(CodeWord word, int* operandCount) const;

  // --- Evaluation (evaluator/interpreter.cpp, evaluator/guard.cpp) ---
  bool Evaluate(double* values);
  long EvaluateColumns(double* const* columns, long rowCount);
  bool EnterGate();
  void ResetRecord();
  bool RunGuarded(double* values);
  bool UsesX87() const;
  bool RunProgram();
  void BuildFastProgram();
  bool RunFast(bool inputsPlain);
  bool ExecuteBuiltin(CodeWord operation, double* stack, int* depth);
  void ComposeEvalError();

  // --- Host calls (userfunc/call.cpp) ---
  bool CallUserFunction(int index, double* stack, int* depth);

 private:
  void FreeBuffers();
  bool ParseVariableList(char* messageBuffer, int messageSize, const char* hostList);

  // Grammar, one function per construct.
  bool ReadToken();
  bool Fault(int id);
  bool Emit(CodeWord word);
  bool AddLiteral(double value);
  bool ParseStatement();
  bool ParseLevel(int level);
  bool ParseLogical();
  bool ParsePrimary();
  bool ParseNegation();
  bool ParseNot();
  bool ParseParenthesized();
  bool ParseNumber();
  bool ParseIdentifier();
  bool ParseVariable(const char* name, int length);
  bool ParseFunctionCall(const char* name, int length);
  bool ParseArguments(int count);
  bool EmitUserCall(const UserFunction& function, int index);
  bool EmitBuiltinCall(const BuiltinFunction& function);
};

// The handle's test: not null and carrying the magic. Not foolproof: a dead handle whose memory
// was reused may pass, which is why hosts must not pass a handle after destroying it.
Expression* ExpressionFromHandle(void* handle);

}  // namespace kalo
