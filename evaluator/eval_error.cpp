// The texts of evaluation faults, and the names they give to code words.
#include <charconv>
#include <cstdio>

#include "common/error_codes.h"
#include "evaluator/evaluator.h"
#include "expression/diagnostics.h"
#include "userfunc/registry.h"

namespace kalo {
namespace {

struct ErrorText {
  int code;
  const char* text;
};

constexpr ErrorText ERROR_TEXTS[] = {
    {ERROR_NONE, "No errors"},
    {ERROR_UNKNOWN_MATH, "Unknown math error"},
    {ERROR_BUSY, "Busy with another expression"},
    {ERROR_INTERNAL, "Internal error"},
    {ERROR_BAD_ADDRESS, "Internal error: bad address"},
    {ERROR_DENORMAL, "Denormalized number"},
    {ERROR_DIVIDE_BY_ZERO, "Divide by 0 error"},
    {ERROR_INEXACT, "Inexact result"},
    {ERROR_INVALID, "Invalid operation"},
    {ERROR_OVERFLOW, "Overflow error"},
    {ERROR_UNDERFLOW, "Underflow error"},
    {ERROR_STACK_FAULT, "Stack overflow error"},
    {ERROR_DOMAIN, "Argument domain error"},
    {ERROR_SINGULARITY, "Argument singularity error"},
    {ERROR_OVERFLOW_RANGE, "Overflow range error"},
    {ERROR_UNDERFLOW_RANGE, "Underflow range error"},
    {ERROR_TOTAL_LOSS, "Total loss of precision"},
    {ERROR_PARTIAL_LOSS, "Partial loss of precision"},
};

constexpr bool CodesAscend() {
  for (size_t i = 1; i < sizeof ERROR_TEXTS / sizeof ERROR_TEXTS[0]; ++i)
    if (ERROR_TEXTS[i].code <= ERROR_TEXTS[i - 1].code) return false;
  return true;
}
static_assert(sizeof ERROR_TEXTS / sizeof ERROR_TEXTS[0] == 18, "one text per known code");
static_assert(CodesAscend(), "codes are unique and ascending");

// printf's "%G", but with a "." whatever the locale: six significant digits, upper case.
size_t FormatG(char* out, size_t size, double value) {
  const std::to_chars_result written =
      std::to_chars(out, out + size - 1, value, std::chars_format::general, 6);
  *written.ptr = '\0';
  for (char* p = out; p != written.ptr; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 'a' + 'A');
  return static_cast<size_t>(written.ptr - out);
}

}  // namespace

const char* GetErrorText(int code) {
  for (const ErrorText& entry : ERROR_TEXTS)
    if (entry.code == code) return entry.text;
  return "Unknown error";
}

const char* GetCodeWordName(const Program& program, CodeWord word, int* operandCount) {
  *operandCount = -1;
  if (word == 0) return "Unknown operation";
  if (IsOperand(word)) {
    const int slot = OperandSlot(word);
    return slot < program.variableCount ? VariableName(program, slot) : "Unknown variable";
  }
  if (IsUserCall(word)) {
    const UserFunction* function = FindUserFunctionAt(UserCallIndex(word));
    if (!KALO_CHECK(function != nullptr, CHECK_FILE_USERFUNC)) return "Unknown registered function";
    *operandCount = function->parameterCount;
    return function->name;
  }
  if (!IsOperation(word)) return "Unknown function";
  *operandCount = OperandCount(word);
  return InfoOf(word).name;
}

void ComposeEvalError(const Program& program, const EvalRecord& record, char* message) {
  if (record.errorCode == ERROR_NONE) {
    BoundedCopy(message, "No errors", MESSAGE_SIZE);
    return;
  }
  const char* text = GetErrorText(record.errorCode);
  int count = -1;
  const char* name = GetCodeWordName(program, record.lastCodeWord, &count);
  char top[32], next[32];
  FormatG(top, sizeof top, record.topValue);
  FormatG(next, sizeof next, record.nextValue);
  if (count == 1)
    std::snprintf(message, MESSAGE_SIZE, "MATH ERROR:  %s(%s)\r\n%s", name, top, text);
  else if (count == 2)
    std::snprintf(message, MESSAGE_SIZE, "MATH ERROR:  %s(%s,%s)\r\n%s", name, next, top, text);
  else
    std::snprintf(message, MESSAGE_SIZE, "MATH ERROR:  %s\r\n%s", name, text);
}

}  // namespace kalo
