#include "expression/expression.h"

#include <cstring>
#include <new>

#include "expression/diagnostics.h"

namespace kalo {
namespace {

// ASCII only, whatever the locale: a byte of 128 or above is neither a letter nor a digit.
bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsNameStart(char c) { return IsLetter(c) || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

bool SameNameIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

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
  while (IsSpace(*p)) ++p;
  *start = p;
  if (!IsNameStart(*p))
    return context.Fail("Variable name must start with a letter or underscore",
                        static_cast<size_t>(p - text));
  ++p;
  while (*p != '\0' && !IsSpace(*p)) {
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

Expression::Expression(const char* variableList, char* messageBuffer, int messageSize)
    : magic(0),
      code(nullptr),
      codeCount(0),
      pool(nullptr),
      poolCount(0),
      variableCount(0),
      variableText(nullptr),
      nameOffsets(nullptr),
      assignedVariable(0),
      errorCode(0),
      lastCodeWord(0),
      topValue(0.0),
      nextValue(0.0),
      currentToken(),
      tokenizer(nullptr),
      angularUnits(KAL_RADIANS) {
  const size_t listLength = std::strlen(variableList);
  code = new (std::nothrow) CodeWord[MAX_CODE_WORDS];
  pool = new (std::nothrow) double[REGISTER_COUNT];
  nameOffsets = new (std::nothrow) int32_t[MAX_VARIABLES];
  variableText = new (std::nothrow) char[listLength + 1];
  if (code == nullptr || pool == nullptr || nameOffsets == nullptr || variableText == nullptr) {
    FreeBuffers();
    BoundedCopy(messageBuffer, "Out of memory", static_cast<size_t>(messageSize));
    throw messageBuffer;
  }
  magic = EXPRESSION_MAGIC;
  InitializeRegisters(pool);
  ReserveNativeCode(&fast.native);
  std::memcpy(variableText, variableList, listLength + 1);
  if (!ParseVariableList(messageBuffer, messageSize, variableList)) {
    FreeBuffers();
    throw messageBuffer;
  }
}

Expression::~Expression() {
  if (!KALO_CHECK(magic == EXPRESSION_MAGIC, CHECK_FILE_PARSE)) return;
  FreeBuffers();
  magic = 0;
}

void Expression::FreeBuffers() {
  delete[] code;
  delete[] pool;
  delete[] nameOffsets;
  delete[] variableText;
  ReleaseNativeCode(&fast.native);
  code = nullptr;
  pool = nullptr;
  nameOffsets = nullptr;
  variableText = nullptr;
}

bool Expression::ParseVariableList(char* messageBuffer, int messageSize, const char* hostList) {
  const ListErrorContext context{messageBuffer, static_cast<size_t>(messageSize), hostList};
  for (int i = 0; i < MAX_VARIABLES; ++i) nameOffsets[i] = -1;
  if (variableText[0] == '\0') return true;
  char* position = variableText;
  do {
    char* name = nullptr;
    if (!ScanVariableName(&position, &name, context, variableText)) return false;
    const size_t offset = static_cast<size_t>(name - variableText);
    for (int i = 0; i < variableCount; ++i)
      if (SameNameIgnoringCase(variableText + nameOffsets[i], name))
        return context.Fail("Duplicate variable name", offset);
    if (variableCount == MAX_VARIABLES) return context.Fail("Too many variables", offset);
    nameOffsets[variableCount++] = static_cast<int32_t>(offset);
    pool[poolCount++] = 0.0;
  } while (*position != '\0');
  return true;
}

Expression* ExpressionFromHandle(void* handle) {
  if (handle == nullptr) return nullptr;
  uint32_t word;
  std::memcpy(&word, handle, sizeof word);
  return word == EXPRESSION_MAGIC ? static_cast<Expression*>(handle) : nullptr;
}

}  // namespace kalo
