// The guard around every evaluation: one at a time in the process, the host's values in and
// out, the floating-point unit reset for the run and restored after it, and the error texts.
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "evaluator/errors.h"
#include "evaluator/math.h"
#include "expression/diagnostics.h"
#include "expression/expression.h"
#include "platform/platform.h"

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

// The busy marker: the errorCode of the running evaluation, or null. Taken and released in one
// atomic step each, so two threads can never both pass the gate.
std::atomic<int32_t*> activeErrorCode{nullptr};

// Releases the busy marker on every way out of an evaluation, an exception thrown by a host
// function included.
struct BusyScope {
  BusyScope() = default;
  ~BusyScope() { activeErrorCode.store(nullptr, std::memory_order_release); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;
};

// Restores the host's floating-point state on every way out of a run.
class FloatScope {
 public:
  explicit FloatScope(bool x87InRun)
      : saved_(platform::EnterFloatGuard(x87InRun)), x87InRun_(x87InRun) {}
  ~FloatScope() { platform::LeaveFloatGuard(saved_, x87InRun_); }
  FloatScope(const FloatScope&) = delete;
  FloatScope& operator=(const FloatScope&) = delete;

 private:
  platform::FloatState saved_;
  const bool x87InRun_;
};

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

bool Expression::EnterGate() {
  int32_t* idle = nullptr;
  if (activeErrorCode.compare_exchange_strong(idle, &errorCode, std::memory_order_acquire))
    return true;
  errorCode = ERROR_BUSY;
  return false;
}

void Expression::ResetRecord() {
  lastCodeWord = 0;
  errorCode = ERROR_NONE;
  topValue = 0.0;
  nextValue = 0.0;
}

bool Expression::Evaluate(double* values) {
  if (!EnterGate()) return false;
  const BusyScope busy;
  ResetRecord();
  const bool succeeded = RunGuarded(values);
  if (succeeded) values[assignedVariable] = pool[assignedVariable];
  return succeeded;
}

// Row by row, exactly as that many calls of Evaluate would run, under one gate.
long Expression::EvaluateColumns(double* const* columns, long rowCount) {
  if (rowCount <= 0) return 0;
  if (!EnterGate()) return 0;
  const BusyScope busy;
  ResetRecord();
  bool present = KALO_CHECK(columns != nullptr, CHECK_FILE_PARSE);
  for (int i = 0; present && i < variableCount; ++i)
    present = KALO_CHECK(columns[i] != nullptr, CHECK_FILE_PARSE);
  if (!present) {
    errorCode = ERROR_BAD_ADDRESS;
    return 0;
  }
  double values[MAX_VARIABLES];
  for (long row = 0; row < rowCount; ++row) {
    for (int i = 0; i < variableCount; ++i) values[i] = columns[i][row];
    ResetRecord();
    if (!RunGuarded(values)) return row;
    columns[assignedVariable][row] = pool[assignedVariable];
  }
  return rowCount;
}

bool Expression::RunGuarded(double* values) {
  const size_t size = static_cast<size_t>(variableCount) * sizeof(double);
  if (!KALO_CHECK(!platform::IsBadReadPointer(values, size), CHECK_FILE_PARSE) ||
      !KALO_CHECK(!platform::IsBadWritePointer(values, size), CHECK_FILE_PARSE)) {
    errorCode = ERROR_BAD_ADDRESS;
    return false;
  }
  if (!KALO_CHECK(variableCount <= poolCount, CHECK_FILE_PARSE)) {
    errorCode = ERROR_INTERNAL;
    return false;
  }
  bool plain = true;
  for (int i = 0; i < variableCount; ++i) {
    pool[i] = values[i];
    // On the bits: a host that unmasked the invalid or denormal trap must not be stopped here,
    // before the run has reset its unit.
    plain &= math::IsNormalOrZeroBits(values[i]);
  }
  const FloatScope floatScope(UsesX87());
  if (fast.usable && RunFast(plain)) return true;
  RunProgram();
  return errorCode == ERROR_NONE;
}

bool Expression::UsesX87() const {
  return fast.callsHost || (platform::LIBRARY_USES_X87 && fast.callsLibrary);
}

void Expression::ComposeEvalError() {
  if (errorCode == ERROR_NONE) {
    BoundedCopy(message, "No errors", MESSAGE_SIZE);
    return;
  }
  const char* text = GetErrorText(errorCode);
  int count = -1;
  const char* name = GetCodeWordName(lastCodeWord, &count);
  char top[32], next[32];
  FormatG(top, sizeof top, topValue);
  FormatG(next, sizeof next, nextValue);
  if (count == 1)
    std::snprintf(message, MESSAGE_SIZE, "MATH ERROR:  %s(%s)\r\n%s", name, top, text);
  else if (count == 2)
    std::snprintf(message, MESSAGE_SIZE, "MATH ERROR:  %s(%s,%s)\r\n%s", name, next, top, text);
  else
    std::snprintf(message, MESSAGE_SIZE, "MATH ERROR:  %s\r\n%s", name, text);
}

}  // namespace kalo
