// The process-wide list of functions the host registered. Compiled code refers to a record by
// its index, which keeps naming the same function until the registry is cleared.
#pragma once

#include "include/kalo.h"

namespace kalo {

constexpr int USER_NAME_SIZE = 32;  // at most 31 characters and a terminator
constexpr int MAX_USER_PARAMETERS = 100;

struct UserFunction {
  char name[USER_NAME_SIZE] = {};  // in the letter case of its first registration
  int parameterCount = -1;
  KaloHostFunction callback = nullptr;
  long userData = 0;
};

// The behaviour behind KaloRegisterFunction.
int RegisterUserFunction(const char* name, int parameterCount, KaloHostFunction callback,
                         long userData);

// Empties the registry; its storage stays for later registrations.
void ClearUserFunctions();

// The record of `name`, appended when it is new; none when the name is not an identifier of at
// most 31 characters or the registry cannot grow.
UserFunction* FindOrAddUserFunction(const char* name);

// The record whose name is exactly the first `length` characters of `text`, ignoring case.
UserFunction* FindUserFunction(const char* text, int length, int* index = nullptr);

// The record at `index`, or none: a compiled call outlives its record once the registry is
// cleared, and whether that is an internal fault is the caller's to say.
const UserFunction* FindUserFunctionAt(int index);

}  // namespace kalo
