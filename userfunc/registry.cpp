#include "userfunc/registry.h"

#include <cstring>
#include <new>
#include <vector>

#include "common/ascii.h"
#include "expression/diagnostics.h"
#include "expression/operations.h"
#include "platform/platform.h"

namespace kalo {
namespace {

// A function-local static: built on first use and destroyed by the runtime's exit processing
// when the library is unloaded, which releases every record and the storage.
std::vector<UserFunction>& Registry() {
  static std::vector<UserFunction> registry;
  return registry;
}

// An identifier the compiler can read back: a letter or "_", then letters, digits and "_". Names
// longer than a record holds are refused, since no equation could call them by their whole name.
bool IsRegistrableName(const char* name) {
  if (!IsNameStart(name[0])) return false;
  int length = 1;
  for (; name[length] != '\0'; ++length)
    if (!IsNameChar(name[length])) return false;
  return length < USER_NAME_SIZE;
}

}  // namespace

int RegisterUserFunction(const char* name, int parameterCount, KaloHostFunction callback,
                         long userData) {
  if (name == nullptr && callback == nullptr) {
    ClearUserFunctions();
    return 1;
  }
  if (platform::IsBadStringPointer(name, USER_NAME_SIZE)) return 0;
  if (parameterCount < 0 || parameterCount > MAX_USER_PARAMETERS) return 0;
  if (callback == nullptr) return 0;
  UserFunction* function = FindOrAddUserFunction(name);
  if (function == nullptr) return 0;
  function->parameterCount = parameterCount;
  function->callback = callback;
  function->userData = userData;
  return 1;
}

void ClearUserFunctions() { Registry().clear(); }

UserFunction* FindOrAddUserFunction(const char* name) {
  if (!IsRegistrableName(name)) return nullptr;
  const int length = static_cast<int>(std::strlen(name));
  if (UserFunction* found = FindUserFunction(name, length)) return found;
  std::vector<UserFunction>& registry = Registry();
  // Indices share a code word with a flag bit, so the count is bounded.
  if (registry.size() >= static_cast<size_t>(MAX_USER_FUNCTIONS)) return nullptr;
  try {
    UserFunction record;
    BoundedCopy(record.name, name, sizeof record.name);
    registry.push_back(record);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return &registry.back();
}

UserFunction* FindUserFunction(const char* text, int length, int* index) {
  std::vector<UserFunction>& registry = Registry();
  for (size_t i = 0; i < registry.size(); ++i) {
    if (EqualsIgnoringCase(text, length, registry[i].name)) {
      if (index != nullptr) *index = static_cast<int>(i);
      return &registry[i];
    }
  }
  return nullptr;
}

const UserFunction* FindUserFunctionAt(int index) {
  const std::vector<UserFunction>& registry = Registry();
  if (index < 0 || static_cast<size_t>(index) >= registry.size()) return nullptr;
  return &registry[static_cast<size_t>(index)];
}

}  // namespace kalo
