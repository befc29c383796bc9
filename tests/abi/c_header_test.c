/* The public header compiled as C: every export called once with C types, so that a C++-only
 * construct in kalo.h or a changed prototype breaks this build. */
#include <kalo.h>
#include <stddef.h>
#include <string.h>

int KaloCHeaderCheck(void);

static int enumCalls;

static int CountBuiltin(char const* name, int parameterCount, char const* description,
                        long userValue) {
  enumCalls += name != NULL && description != NULL && parameterCount >= 1 && parameterCount <= 3 &&
               userValue == 5L;
  return 1;
}

static int AddUserValue(double* arguments, double* result, long userValue) {
  *result = arguments[0] + (double)userValue;
  return 0;
}

static void IgnoreReport(const char* text, long userValue) { (void)text, (void)userValue; }

int KaloCHeaderCheck(void) {
  int code = -1;
  char text[512];
  double values[3] = {0.5, 6.0, 0.0}, *columns[3] = {values, values + 1, values + 2};
  void* handle;
  int failures = KaloRegisterFunction("plus", 1, AddUserValue, 2L) != 1;
  handle = KaloParseExpression("Z = plus(X) + Y/3", "X Y Z", &code, text);
  if (handle == NULL) return 100;
  failures += KaloSetAngularUnits(handle, KAL_DEGREES) != KAL_RADIANS;
  failures += KaloEvalExpression(handle, values) != 1 || values[2] != 4.5;
  failures += KaloEvalExpressionColumns(handle, columns, 1L) != 1 || values[2] != 4.5;
  failures += KaloGetEvalError(handle, text, (struct _exception*)NULL) != 0;
  KaloDestroyExpression(handle);
  enumCalls = 0;
  failures += KaloEnumFunctions(NULL, 0L) != 32;
  failures += KaloEnumFunctions(CountBuiltin, 5L) != 1 || enumCalls != 32;
  failures += KaloSetInternalErrorHandler(IgnoreReport, 1L) == IgnoreReport;
  failures += KaloSetInternalErrorHandler(NULL, 0L) != IgnoreReport;
  failures += KaloRegisterFunction(NULL, 0, NULL, 0L) != 1;
  return failures + (KaloParseExpression("Z = plus(X)", "X Z", &code, text) != NULL || code != 4);
}

/* The same check as a program: the host that the install and foreign-host tests build. */
#ifdef KALO_HOST_MAIN
int main(void) { return KaloCHeaderCheck(); }
#endif
