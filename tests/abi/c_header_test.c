/* kalo.h compiled as C, every export called once with C types: a C++-only construct in the
 * header or a changed prototype breaks this build. As a program, the installed tree's host. */
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
  int failures = KaloRegisterFunction("plus", 1, AddUserValue, 2L) != 1;
  void* handle = KaloParseExpression("Z = plus(X) + Y/3", "X Y Z", &code, text);
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

#ifdef KALO_HOST_MAIN
int main(void) { return KaloCHeaderCheck(); }
#endif
