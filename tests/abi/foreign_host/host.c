/* A Windows host built by another compiler than the DLL: it finds kalo.dll at run time and
 * reaches the exports by their undecorated names only. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "kalo.h"

typedef __typeof__(&KaloParseExpression) ParseFunction;
typedef __typeof__(&KaloEvalExpression) EvalFunction;
typedef __typeof__(&KaloGetEvalError) ErrorFunction;
typedef __typeof__(&KaloDestroyExpression) DestroyFunction;

static FARPROC Find(HMODULE dll, const char* name) {
  FARPROC function = GetProcAddress(dll, name);
  if (function == NULL) printf("%s is not exported\n", name);
  return function;
}

int main(void) {
  HMODULE dll = LoadLibraryA("kalo.dll");
  if (dll == NULL) {
    printf("kalo.dll does not load\n");
    return 1;
  }
  ParseFunction parse = (ParseFunction)(void*)Find(dll, "KaloParseExpression");
  EvalFunction eval = (EvalFunction)(void*)Find(dll, "KaloEvalExpression");
  ErrorFunction error = (ErrorFunction)(void*)Find(dll, "KaloGetEvalError");
  DestroyFunction destroy = (DestroyFunction)(void*)Find(dll, "KaloDestroyExpression");
  if (!parse || !eval || !error || !destroy) return 1;

  char text[512];
  int code = 0;
  double values[3] = {1.0, 0.0, 0.0};
  void* expression = parse("Z = X / Y", "X Y Z", &code, text);
  if (expression == NULL || eval(expression, values)) {
    printf("parse or evaluation did not go as expected (code %d)\n", code);
    return 1;
  }
  code = error(expression, text, NULL);
  destroy(expression);
  if (code != 202 || strcmp(text, "MATH ERROR:  Divide(1,0)\r\nDivide by 0 error") != 0) {
    printf("unexpected fault %d: %s\n", code, text);
    return 1;
  }
  printf("ok\n");
  return 0;
}
