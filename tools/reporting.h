// Exit codes, messages on standard error, and what a failing row does to a run.
#pragma once

#include <cstdio>
#include <string>

#include "tools/arguments.h"

namespace kalo::cli {

// The codes of the BSD <sysexits.h> from 64 on, so that scripts can tell the causes apart.
constexpr int EXIT_COMPILE_ERROR = 1;
constexpr int EXIT_MATH_ERROR = 2;
constexpr int EXIT_USAGE = 64;
constexpr int EXIT_DATA_ERROR = 65;
constexpr int EXIT_NO_INPUT = 66;
constexpr int EXIT_CANNOT_CREATE = 73;
constexpr int EXIT_IO_ERROR = 74;

// Writes "kalo: <message>" and a line end to standard error.
void Complain(const std::string& message);
// A usage fault: the reason and the one-line usage; returns EXIT_USAGE.
int UsageError(const std::string& message);

// Applies --on-error to the rows (or sweep points) that cannot be evaluated.
class RowErrors {
 public:
  explicit RowErrors(OnError onError) : policy(onError) {}

  // Reports one fault. False when the run must stop, with the exit code kept for Finish.
  bool Report(const std::string& message, int exitCode);
  bool WriteEmpty() const { return policy == OnError::EMPTY; }
  // The run's exit code; sums up the faults that were skipped or left empty.
  int Finish() const;

 private:
  OnError policy;
  long long count = 0;
  int stopCode = 0;
};

// Opens `path` for writing, or standard output when it is empty. Null after a complaint.
std::FILE* OpenOutput(const std::string& path);

}  // namespace kalo::cli
