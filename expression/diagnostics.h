// The texts through which the library tells of a fault, and the bounded copy that every text
// goes through on its way into a fixed buffer.
#pragma once

#include <cstddef>

namespace kalo {

// The file names that internal-error reports give; the host's user quotes them to us.
inline constexpr const char* CHECK_FILE_PARSE = "Parse";
inline constexpr const char* CHECK_FILE_USERFUNC = "userfunc";

// Copies at most size - 1 characters of `source` and always terminates `destination`.
void BoundedCopy(char* destination, const char* source, size_t size);

// Reports a failed consistency check to the host's handler (or standard error), naming the
// module, the file and the line. Always returns false, the check's verdict.
bool ReportInternalError(const char* checkFile, int checkLine);

// A consistency check: true when `condition` holds, otherwise the report and false.
#define KALO_CHECK(condition, file) ((condition) || ::kalo::ReportInternalError((file), __LINE__))

// Writes `message` into `buffer`, then, when it fits, a line break and `list` with " ? " marking
// byte `offset`.
void ComposeListError(char* buffer, size_t size, const char* list, const char* message,
                      size_t offset);

// Writes compile error `id`'s text into `message` (MESSAGE_SIZE bytes), then a line break and
// the equation `text` with " ? " marking `cursor`, cut to fit.
void ComposeCompileError(int id, const char* text, const char* cursor, char* message);

}  // namespace kalo
