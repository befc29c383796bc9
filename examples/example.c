/* A minimal host: compiles one equation, evaluates it once and prints the result or the error. */
#include <kalo.h>
#include <stdio.h>

int main(int argc, char** argv) {
  const char* equation = argc > 1 ? argv[1] : "Z = 2*sin(X) + Y/3";
  double values[3] = {0.5, 6.0, 0.0}; /* X, Y, Z */
  char text[512];
  int code = 0;
  void* expression = KaloParseExpression(equation, "X Y Z", &code, text);
  if (expression == NULL) {
    printf("error %d: %s\n", code, text);
    return 1;
  }
  if (!KaloEvalExpression(expression, values)) {
    code = KaloGetEvalError(expression, text, NULL);
    printf("error %d: %s\n", code, text);
    KaloDestroyExpression(expression);
    return 2;
  }
  printf("Z = %.17g\n", values[2]);
  KaloDestroyExpression(expression);
  return 0;
}
