#include "tools/reporting.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>

#include "tools/console.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kalo::cli {

namespace {

// Past this many, a run that goes on over bad rows only counts them.
constexpr long long SHOWN_ROW_ERRORS = 10;

// The temporary file an interrupted run removes; a fixed buffer, since a signal handler may
// touch nothing else.
char pendingFile[4096];

void RemovePendingAndExit(int signal) {
  std::remove(pendingFile);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Opens a new file beside `target` that no other process has.
std::FILE* CreateTemporary(const std::string& target, std::string& name) {
#if defined(_WIN32)
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target + ".kalo" + std::to_string(random() % 1000000);
    std::error_code error;
    if (std::filesystem::exists(name, error)) continue;
    return std::fopen(name.c_str(), "wb");
  }
  return nullptr;
#else
  name = target + ".kaloXXXXXX";
  int descriptor = mkstemp(name.data());
  if (descriptor < 0) return nullptr;
  // mkstemp makes the file private; give it the mode a new file would have.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  return fdopen(descriptor, "wb");
#endif
}

}  // namespace

void Complain(const std::string& message) { std::fprintf(stderr, "kalo: %s\n", message.c_str()); }

int UsageError(const std::string& message) {
  Complain(message);
  std::fprintf(stderr, "%s\n", USAGE_LINE);
  return EXIT_USAGE;
}

int FinishOutput(std::FILE* stream) {
  if (std::fflush(stream) == 0 && std::ferror(stream) == 0) return 0;
  Complain(std::string("cannot write the output: ") + std::strerror(errno));
  return EXIT_IO_ERROR;
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
  if (count > SHOWN_ROW_ERRORS) {
    Complain("\u2026 and " + std::to_string(count - SHOWN_ROW_ERRORS) + " more rows");
  }
  if (count > 0) {
    Complain(std::to_string(count) + (count == 1 ? " row" : " rows") + " could not be evaluated: " +
             (policy == OnError::SKIP ? "left out" : "result left empty"));
  }
  return 0;
}

OutputTarget::~OutputTarget() {
  if (stream != nullptr && stream != stdout) Finish(EXIT_IO_ERROR);
}

bool OutputTarget::Open(const std::string& path) {
  if (path.empty() || path == "-") {
    UseBinaryMode(stdout);
    stream = stdout;
    return true;
  }
  target = path;
  stream = CreateTemporary(path, temporary);
  if (stream == nullptr) {
    Complain("cannot create " + path + ": " + std::strerror(errno));
    return false;
  }
  if (temporary.size() < sizeof pendingFile) {
    std::memcpy(pendingFile, temporary.c_str(), temporary.size() + 1);
    for (int signal : {SIGINT, SIGTERM}) std::signal(signal, RemovePendingAndExit);
  }
  return true;
}

int OutputTarget::Finish(int code) {
  if (stream == stdout) {
    int written = FinishOutput(stdout);
    return code != 0 ? code : written;
  }
  if (stream == nullptr) return code;
  bool closed = std::fflush(stream) == 0 && std::ferror(stream) == 0;
  closed = std::fclose(stream) == 0 && closed;
  stream = nullptr;
  if (code == 0 && !closed) {
    Complain("cannot write " + target + ": " + std::strerror(errno));
    code = EXIT_IO_ERROR;
  }
  std::error_code error;
  if (code == 0) {
    std::filesystem::rename(temporary, target, error);
    if (error) {
      Complain("cannot replace " + target + ": " + error.message());
      code = EXIT_IO_ERROR;
    }
  }
  if (code != 0) std::filesystem::remove(temporary, error);
  pendingFile[0] = '\0';
  return code;
}

}  // namespace kalo::cli
