#include "expression/diagnostics.h"

#include <cstdio>
#include <cstring>

#include "expression/program.h"
#include "platform/platform.h"

namespace kalo {

namespace {
constexpr char MARKER[] = " ? ";
constexpr size_t MARKER_LENGTH = 3;
constexpr char LINE_BREAK[] = "\r\n";
constexpr size_t REPORT_SIZE = 256;
}  // namespace

void BoundedCopy(char* destination, const char* source, size_t size) {
  if (size == 0) return;
  size_t length = 0;
  while (length + 1 < size && source[length] != '\0') ++length;
  std::memcpy(destination, source, length);
  destination[length] = '\0';
}

bool ReportInternalError(const char* checkFile, int checkLine) {
  char module[REPORT_SIZE];
  platform::ModuleFileName(module, sizeof module);
  char report[REPORT_SIZE];
  // A longer report is cut to the buffer, as intended.
  const int length =
      std::snprintf(report, sizeof report, "Internal error\r\nModule: %s, File: %s (line %d)",
                    module, checkFile, checkLine);
  if (length < 0) report[0] = '\0';
  platform::DeliverReport(report);
  return false;
}

void ComposeListError(char* buffer, size_t size, const char* list, const char* message,
                      size_t offset) {
  BoundedCopy(buffer, message, size);
  const size_t messageLength = std::strlen(buffer);
  const size_t listLength = std::strlen(list);
  if (messageLength + listLength + MARKER_LENGTH + 3 >= size) return;
  char* quoted = buffer + messageLength;
  std::memcpy(quoted, LINE_BREAK, 2);
  quoted += 2;
  // Both parts are known to fit, so they are written directly rather than appended and moved.
  std::memcpy(quoted, list, offset);
  std::memcpy(quoted + offset, MARKER, MARKER_LENGTH);
  std::memcpy(quoted + offset + MARKER_LENGTH, list + offset, listLength - offset + 1);
}

// The text is limited to MESSAGE_SIZE - 1 characters; the budget counts what may still be added.
void ComposeCompileError(int id, const char* text, const char* cursor, char* message) {
  const int loaded = platform::LoadString(static_cast<unsigned>(id), message, MESSAGE_SIZE);
  if (loaded == 0) {
    BoundedCopy(message, "Missing Error String", MESSAGE_SIZE);
    return;
  }
  size_t length = static_cast<size_t>(loaded);
  const auto append = [&](const char* part, size_t count) {
    const size_t budget = MESSAGE_SIZE - 1 - length;
    const size_t taken = count < budget ? count : budget;
    std::memcpy(message + length, part, taken);
    length += taken;
  };
  append(LINE_BREAK, 2);
  const size_t before = static_cast<size_t>(cursor - text);
  append(text, before);
  if (MESSAGE_SIZE - 1 - length >= MARKER_LENGTH) append(MARKER, MARKER_LENGTH);
  append(cursor, std::strlen(cursor));
  message[length] = '\0';
}

}  // namespace kalo
