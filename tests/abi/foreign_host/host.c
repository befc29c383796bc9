/* A Windows host built by another compiler than the DLL: it finds kalo.dll at run time and
 * reaches the exports by their undecorated names only. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "kalo.h"

int main(void) {
  HMODULE dll = LoadLibraryA("kalo.dll");
  __typeof__(&KaloParseExpression) parse = NULL;
  __typeof__(&KaloEvalExpression) eval = NULL;
  __typeof__(&KaloGetEvalError) error = NULL;
  __typeof__(&KaloDestroyExpression) destroy = NULL;
  char text[512] = "";
  int code = 0;
  double values[3] = {1.0, 0.0, 0.0};
  void* expression = NULL;
  if (dll != NULL) {
    parse = (__typeof__(parse))(void*)GetProcAddress(dll, "KaloParseExpression");
    eval = (__typeof__(eval))(void*)GetProcAddress(dll, "KaloEvalExpression");
    error = (__typeof__(error))(void*)GetProcAddress(dll, "KaloGetEvalError");
    destroy = (__typeof__(destroy))(void*)GetProcAddress(dll, "KaloDestroyExpression");
  }
  if (!parse || !eval || !error || !destroy) return printf("kalo.dll or an export is missing\n"), 1;
  expression = parse("Z = X / Y", "X Y Z", &code, text);
  if (expression == NULL || eval(expression, values))
    return printf("parse: %d %s\n", code, text), 1;
  code = error(expression, text, NULL);
  destroy(expression);
  if (code != 202 || strcmp(text, "MATH ERROR:  Divide(1,0)\r\nDivide by 0 error") != 0)
    return printf("unexpected fault %d: %s\n", code, text), 1;
  return printf("ok\n"), 0;
}
