// The host's variable list, read once when a handle is made.
#include <cstring>
#include <new>

#include "common/ascii.h"
#include "compiler/compiler.h"
#include "expression/diagnostics.h"

namespace kalo {
namespace {

// Where a list fault is composed: the host's buffer and the list as the host wrote it.
struct ListErrorContext {
  char* buffer;
  size_t size;
  const char* hostList;
  bool Fail(const char* message, size_t offset) const {
    return ComposeListError(buffer, size, hostList, message, offset);
  }
};

// Scans one name at `*position`, terminates it in place and leaves `*position` after it.
bool ScanVariableName(char** position, char** start, const ListErrorContext& context,
                      const char* text) {
  char* p = *position;
  while (IsAsciiSpace(*p)) ++p;
  *start = p;
  if (!IsNameStart(*p))
    return context.Fail("Variable name must start with a letter or underscore",
                        static_cast<size_t>(p - text));
  ++p;
  while (*p != '\0' && !IsAsciiSpace(*p)) {
    if (!IsNameChar(*p))
      return context.Fail("Invalid character in variable name", static_cast<size_t>(p - text));
    ++p;
  }
  // One whitespace character after a name is its separator and becomes its terminator.
  if (*p != '\0') *p++ = '\0';
  *position = p;
  return true;
}

}  // namespace

bool ReadVariableList(const char* list, Program* program, char* message, size_t size) {
  const size_t listLength = std::strlen(list);
  program->variableText.reset(new (std::nothrow) char[listLength + 1]);
  char* const text = program->variableText.get();
  if (text == nullptr) {
    BoundedCopy(message, "Out of memory", size);
    return false;
  }
  std::memcpy(text, list, listLength + 1);
  const ListErrorContext context{message, size, list};
  for (int i = 0; i < MAX_VARIABLES; ++i) program->nameOffsets[i] = -1;
  if (text[0] == '\0') return true;
  char* position = text;
  do {
    char* name = nullptr;
    if (!ScanVariableName(&position, &name, context, text)) return false;
    const size_t offset = static_cast<size_t>(name - text);
    for (int i = 0; i < program->variableCount; ++i)
      if (EqualsIgnoringCase(name, static_cast<int>(std::strlen(name)), VariableName(*program, i)))
        return context.Fail("Duplicate variable name", offset);
    if (program->variableCount == MAX_VARIABLES) return context.Fail("Too many variables", offset);
    program->nameOffsets[program->variableCount++] = static_cast<int32_t>(offset);
    program->pool[program->poolCount++] = 0.0;
  } while (*position != '\0');
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
