// Exit codes, messages on standard error, what a failing row does to a run, and the output
// file that appears only when a run ends well.
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
// Flushes `stream`; 0, or EXIT_IO_ERROR after a complaint when anything written was lost.
int FinishOutput(std::FILE* stream);

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

// Standard output, or a file written under a temporary name in the target's folder and renamed
// over the target only by Commit: a failed or interrupted run leaves the target as it was.
class OutputTarget {
 public:
  OutputTarget() = default;
  ~OutputTarget();
  OutputTarget(const OutputTarget&) = delete;
  OutputTarget& operator=(const OutputTarget&) = delete;

  // Empty or "-" is standard output. False after a complaint.
  bool Open(const std::string& path);
  std::FILE* Stream() const { return stream; }
  // Ends the run with `code`: on 0 the file takes the target's name, otherwise it goes away.
  // Returns `code`, or EXIT_IO_ERROR after a complaint when the output could not be completed.
  int Finish(int code);

 private:
  std::FILE* stream = nullptr;
  std::string target;
  std::string temporary;
};

}  // namespace kalo::cli
