// The host's variable list, read once when a handle is made.
#include <cstring>
#include <new>

#include "common/ascii.h"
#include "compiler/compiler.h"
#include "expression/diagnostics.h"

namespace kalo {
namespace {

// Scans one name at `*position`, terminates it in place and leaves `*position` after it. Returns
// null and the name's offset in `text` at *at, or the fault and the offending character's.
const char* ScanVariableName(char** position, char** start, size_t* at, const char* text) {
  char* p = *position;
  while (IsAsciiSpace(*p)) ++p;
  *start = p;
  *at = static_cast<size_t>(p - text);
  if (!IsNameStart(*p)) return "Variable name must start with a letter or underscore";
  ++p;
  while (*p != '\0' && !IsAsciiSpace(*p)) {
    *at = static_cast<size_t>(p - text);
    if (!IsNameChar(*p)) return "Invalid character in variable name";
    ++p;
  }
  // One whitespace character after a name is its separator and becomes its terminator.
  if (*p != '\0') *p++ = '\0';
  *position = p;
  *at = static_cast<size_t>(*start - text);
  return nullptr;
}

// The fault of the name at `name`, the list's next, or null.
const char* CheckNewName(const Program& program, const char* name) {
  for (int i = 0; i < program.variableCount; ++i)
    if (EqualsIgnoringCase(name, static_cast<int>(std::strlen(name)), VariableName(program, i)))
      return "Duplicate variable name";
  return program.variableCount == MAX_VARIABLES ? "Too many variables" : nullptr;
}

}  // namespace

bool ReadVariableList(const char* list, Program* program, char* message, size_t size) {
  const size_t listLength = std::strlen(list);
  delete[] program->variableText;
  program->variableText = new (std::nothrow) char[listLength + 1];
  char* const text = program->variableText;
  if (text == nullptr) {
    BoundedCopy(message, "Out of memory", size);
    return false;
  }
  std::memcpy(text, list, listLength + 1);
  for (int i = 0; i < MAX_VARIABLES; ++i) program->nameOffsets[i] = -1;
  char* position = text;
  while (*position != '\0') {
    char* name = nullptr;
    size_t at = 0;
    const char* fault = ScanVariableName(&position, &name, &at, text);
    if (fault == nullptr) fault = CheckNewName(*program, name);
    if (fault != nullptr) {
      ComposeListError(message, size, list, fault, at);
      return false;
    }
    program->nameOffsets[program->variableCount++] = static_cast<int32_t>(at);
    program->pool[program->poolCount++] = 0.0;
  }
  return true;
}

int FindVariable(const Program& program, const char* name, int length) {
  for (int i = 0; i < program.variableCount; ++i) {
    if (!KALO_CHECK(program.nameOffsets[i] >= 0, CHECK_FILE_PARSE)) continue;
    if (EqualsIgnoringCase(name, length, VariableName(program, i))) return i;
  }
  return -1;
}

}  // namespace kalo
