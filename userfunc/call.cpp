#include "userfunc/call.h"

#include "common/error_codes.h"
#include "expression/diagnostics.h"
#include "expression/program.h"
#include "platform/host_call.h"
#include "userfunc/registry.h"

namespace kalo {

void CallUserFunction(int index, double* stack, int* depth, int32_t* errorCode) {
  const UserFunction* function = FindUserFunctionAt(index);
  if (!KALO_CHECK(function != nullptr, CHECK_FILE_USERFUNC)) {
    *errorCode = ERROR_INTERNAL;
    return;
  }
  // Everything needed is read now: the callback may register or clear functions, which can
  // move the records.
  const KaloHostFunction callback = function->callback;
  const int count = function->parameterCount;
  const long userData = function->userData;
  if (!KALO_CHECK(callback != nullptr, CHECK_FILE_PARSE) ||
      !KALO_CHECK(*depth >= count, CHECK_FILE_PARSE)) {
    *errorCode = ERROR_INTERNAL;
    return;
  }
  const int base = *depth - count;
  // The count may have changed since compilation, so the result's position is checked here.
  if (base + 1 > STACK_SIZE) {
    *errorCode = ERROR_INTERNAL;
    return;
  }
  // Every registered function takes at most 100 arguments, so one fixed array serves all and the
  // call never allocates.
  double arguments[MAX_USER_PARAMETERS + 1];
  for (int i = 0; i < count; ++i) arguments[i] = stack[base + 1 + i];
  if (count == 0) stack[base + 1] = 0.0;
  *depth = base + 1;
  int trapCode = 0;
  const int result =
      platform::CallHostFunction(callback, arguments, &stack[base + 1], userData, &trapCode);
  if (trapCode != 0) {
    *errorCode = trapCode;
    return;
  }
  if (result != 0) *errorCode = result;
}

}  // namespace kalo
