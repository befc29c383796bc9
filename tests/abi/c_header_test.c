/* The public header compiled as C: every export called once with C types, so that a C++-only
 * construct in kalo.h or a changed prototype breaks this build. */
#include <kalo.h>
#include <stddef.h>
#include <string.h>

int KaloCHeaderCheck(void);

static int enumCalls;

static int CountBuiltin(char const* name, int parameterCount, char const* description,
                        long userValue) {
  (void)description;
  if (name == NULL || parameterCount < 1 || parameterCount > 3 || userValue != 5L) return 0;
  ++enumCalls;
  return 1;
}

static int AddUserValue(double* arguments, double* result, long userValue) {
  *result = arguments[0] + (double)userValue;
  return 0;
}

static void IgnoreReport(const char* text, long userValue) {
  (void)text;
  (void)userValue;
}

int KaloCHeaderCheck(void) {
  int failures = 0;
  int code = -1;
  char text[512];
  double values[3] = {0.5, 6.0, 0.0};
  void* handle;
  KaloInternalErrorHandler previous;

  if (KaloRegisterFunction("plus", 1, AddUserValue, 2L) != 1) ++failures;
  handle = KaloParseExpression("Z = plus(X) + Y/3", "X Y Z", &code, text);
  if (handle == NULL) return 100;
  if (KaloSetAngularUnits(handle, KAL_DEGREES) != KAL_RADIANS) ++failures;
  if (KaloSetAngularUnits(handle, KAL_GRADS) != KAL_DEGREES) ++failures;
  if (KaloEvalExpression(handle, values) != 1 || values[2] != 4.5) ++failures;
  if (KaloGetEvalError(handle, text, (struct _exception*)NULL) != 0) ++failures;
  if (KaloGetEvalError(handle, NULL, NULL) != 0) ++failures;
  KaloDestroyExpression(handle);

  enumCalls = 0;
  if (KaloEnumFunctions(NULL, 0L) != 32) ++failures;
  if (KaloEnumFunctions(CountBuiltin, 5L) != 1 || enumCalls != 32) ++failures;

  previous = KaloSetInternalErrorHandler(IgnoreReport, 1L);
  if (KaloSetInternalErrorHandler(previous, 0L) != IgnoreReport) ++failures;
  if (KaloRegisterFunction(NULL, 0, NULL, 0L) != 1) ++failures;
  code = 0;
  if (KaloParseExpression("Z = plus(X)", "X Z", &code, text) != NULL || code != 4) ++failures;
  if (strncmp(text, "Variable or function not defined", 32) != 0) ++failures;
  return failures;
}
