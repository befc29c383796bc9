#include "tools/reporting.h"

#include <cerrno>
#include <cstring>

#include "tools/console.h"

namespace kalo::cli {

namespace {
// Past this many, a run that goes on over bad rows only counts them.
constexpr long long SHOWN_ROW_ERRORS = 10;
}  // namespace

void Complain(const std::string& message) { std::fprintf(stderr, "kalo: %s\n", message.c_str()); }

int UsageError(const std::string& message) {
  Complain(message);
  std::fprintf(stderr, "%s\n", USAGE_LINE);
  return EXIT_USAGE;
}

bool RowErrors::Report(const std::string& message, int exitCode) {
  ++count;
  if (policy == OnError::STOP) {
    Complain(message);
    stopCode = exitCode;
    return false;
  }
  if (count <= SHOWN_ROW_ERRORS) Complain(message);
  return true;
}

int RowErrors::Finish() const {
  if (stopCode != 0) return stopCode;
  if (count > 0) {
    Complain(std::to_string(count) + (count == 1 ? " row" : " rows") + " could not be evaluated: " +
             (policy == OnError::SKIP ? "left out" : "result left empty"));
  }
  return 0;
}

std::FILE* OpenOutput(const std::string& path) {
  if (path.empty() || path == "-") {
    UseBinaryMode(stdout);
    return stdout;
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Complain("cannot create " + path + ": " + std::strerror(errno));
  return file;
}

}  // namespace kalo::cli
