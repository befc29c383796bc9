// The exported functions: the barrier between the C ABI and the library. Each export tests its
// handle and arguments first, then hands the work to the stage that owns it. No fault of the
// library's own leaves here as an exception; a host callback's exception passes through.
#include <new>

#include "expression/diagnostics.h"
#include "include/kalo.h"
#include "interface/handle.h"
#include "platform/platform.h"
#include "userfunc/registry.h"

using kalo::ComposeEvalError;
using kalo::Evaluate;
using kalo::EvaluateColumns;
using kalo::Expression;
using kalo::ExpressionFromHandle;

namespace {

constexpr int CREATION_FAILED = 1;
constexpr int COMPILE_FAILED = 4;
constexpr char OUT_OF_MEMORY[] = "Out of memory";

void Report(int* errorCode, char* errorText, int code, const char* text) {
  if (errorCode != nullptr) *errorCode = code;
  if (errorText != nullptr) kalo::BoundedCopy(errorText, text, kalo::MESSAGE_SIZE);
}

// Creates the Expression, or reports why not and yields null.
Expression* CreateExpression(const char* variables, int* errorCode, char* errorText) {
  char message[kalo::MESSAGE_SIZE];
  try {
    Expression* expression = new (std::nothrow) Expression(variables, message, sizeof message);
    if (expression == nullptr) Report(errorCode, errorText, CREATION_FAILED, OUT_OF_MEMORY);
    return expression;
  } catch (char* composed) {
    Report(errorCode, errorText, CREATION_FAILED, composed);
  } catch (const std::bad_alloc&) {
    Report(errorCode, errorText, CREATION_FAILED, OUT_OF_MEMORY);
  } catch (...) {
    kalo::ReportInternalError(kalo::CHECK_FILE_PARSE, __LINE__);
    Report(errorCode, errorText, CREATION_FAILED, "Internal error");
  }
  return nullptr;
}

}  // namespace

extern "C" {

KALO_API void* KaloParseExpression(char const* equation, char const* variables, int* errorCode,
                                   char* errorText) {
  if (equation == nullptr || variables == nullptr) {
    Report(errorCode, errorText, COMPILE_FAILED, "Blank equation or empty parameter list");
    return nullptr;
  }
  Expression* expression = CreateExpression(variables, errorCode, errorText);
  if (expression == nullptr) return nullptr;
  bool compiled = false;
  try {
    compiled = expression->Compile(equation);
    if (!compiled) Report(errorCode, errorText, COMPILE_FAILED, expression->message);
  } catch (const std::bad_alloc&) {
    // The program has fixed room; only what is built beside it for evaluation may allocate, and
    // a failure there is the creation's, as though the handle could not be had.
    Report(errorCode, errorText, CREATION_FAILED, OUT_OF_MEMORY);
  }
  if (compiled) return expression;
  delete expression;
  return nullptr;
}

KALO_API void KaloDestroyExpression(void* handle) {
  if (Expression* expression = ExpressionFromHandle(handle)) delete expression;
}

KALO_API int KaloEvalExpression(void* handle, double* values) {
  Expression* expression = ExpressionFromHandle(handle);
  if (expression == nullptr) return 0;
  return Evaluate(expression->program, &expression->evaluator, &expression->record, values) ? 1 : 0;
}

KALO_API long KaloEvalExpressionColumns(void* handle, double* const* columns, long rowCount) {
  Expression* expression = ExpressionFromHandle(handle);
  if (expression == nullptr) return 0;
  return EvaluateColumns(expression->program, &expression->evaluator, &expression->record, columns,
                         rowCount);
}

KALO_API int KaloGetEvalError(void* handle, char* text, struct _exception* /*unused*/) {
  Expression* expression = ExpressionFromHandle(handle);
  if (expression == nullptr) return 0;
  if (text != nullptr) {
    ComposeEvalError(expression->program, expression->record, expression->message);
    kalo::BoundedCopy(text, expression->message, kalo::MESSAGE_SIZE);
  }
  return expression->record.errorCode;
}

KALO_API KAL_ANGULAR_UNITS KaloSetAngularUnits(void* handle, KAL_ANGULAR_UNITS units) {
  Expression* expression = ExpressionFromHandle(handle);
  if (expression == nullptr) return KAL_DEGREES;
  const KAL_ANGULAR_UNITS previous = expression->evaluator.angularUnits;
  SetAngularUnits(expression->program, &expression->evaluator, units);
  return previous;
}

KALO_API int KaloRegisterFunction(char const* name, int parameterCount, KaloHostFunction callback,
                                  long userValue) {
  return kalo::RegisterUserFunction(name, parameterCount, callback, userValue);
}

KALO_API int KaloEnumFunctions(KaloEnumCallback callback, long userValue) {
  return kalo::EnumBuiltinFunctions(callback, userValue);
}

KALO_API KaloInternalErrorHandler KaloSetInternalErrorHandler(KaloInternalErrorHandler handler,
                                                              long userValue) {
  return kalo::platform::SetReportHandler(handler, userValue);
}

}  // extern "C"
