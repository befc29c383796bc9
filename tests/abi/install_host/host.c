/* A host built against an installed kalo: compiles one equation and checks its result. */
#include <kalo.h>
#include <stdio.h>

int main(void) {
  char text[512];
  int code = 0;
  double values[3] = {1.5, 2.0, 0.0};
  void* handle = KaloParseExpression("Z = X + Y", "X Y Z", &code, text);
  if (handle == NULL) {
    printf("code %d: %s\n", code, text);
    return 1;
  }
  if (KaloEvalExpression(handle, values) != 1 || values[2] != 3.5) return 2;
  KaloDestroyExpression(handle);
  printf("Z = %g\n", values[2]);
  return 0;
}
