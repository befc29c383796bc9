// The POSIX backend of the platform layer.
#include <dlfcn.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <locale.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/platform.h"
#include "resources/string_table.h"

namespace kalo::platform {
namespace {

// What the loader tells of the library's own file, recorded once at load.
struct Module {
  const void* base = nullptr;
  const char* path = nullptr;
};

Module LocateModule() {
  Dl_info info{};
  // Any symbol of this library names the file it was loaded from.
  if (dladdr(reinterpret_cast<const void*>(&LocateModule), &info) == 0) return {};
  return {info.dli_fbase, info.dli_fname};
}

Module module;

// Runs when the library (or a program linking it statically) is loaded, before any export.
__attribute__((constructor)) void RecordModule() { module = LocateModule(); }

// Made once at load, so that reading a number never allocates.
const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t{});

}  // namespace

const void* ModuleHandle() { return module.base; }

void ModuleFileName(char* buffer, size_t size) {
  if (size == 0) return;
  buffer[0] = '\0';
  if (module.path == nullptr) return;
  const char* slash = std::strrchr(module.path, '/');
  const char* name = slash != nullptr ? slash + 1 : module.path;
  std::snprintf(buffer, size, "%s", name);
}

int LoadString(unsigned id, char* buffer, int size) {
  const char* text = resources::FindString(id);
  if (text == nullptr || size <= 0) return 0;
  const int length = static_cast<int>(std::strlen(text));
  const int taken = length < size ? length : size - 1;
  std::memcpy(buffer, text, static_cast<size_t>(taken));
  buffer[taken] = '\0';
  return taken;
}

namespace backend {
void ShowReport(const char* text) { std::fprintf(stderr, "%s\n", text); }
double ReadDecimalInCLocale(const char* text) { return strtod_l(text, nullptr, cLocale); }
}  // namespace backend

uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

bool IsBadStringPointer(const char* text, size_t /*limit*/) { return text == nullptr; }
bool IsBadReadPointer(const void* pointer, size_t size) { return size != 0 && pointer == nullptr; }
bool IsBadWritePointer(void* pointer, size_t size) { return size != 0 && pointer == nullptr; }

}  // namespace kalo::platform

namespace kalo::platform {

bool MapCodeRegion(size_t size, void** writable, void** executable) {
  const int file = memfd_create("kalo-code", MFD_CLOEXEC);
  if (file < 0) return false;
  bool mapped = false;
  if (ftruncate(file, static_cast<off_t>(size)) == 0) {
    void* rw = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    void* rx = mmap(nullptr, size, PROT_READ | PROT_EXEC, MAP_SHARED, file, 0);
    mapped = rw != MAP_FAILED && rx != MAP_FAILED;
    if (mapped) {
      *writable = rw;
      *executable = rx;
    } else {
      if (rw != MAP_FAILED) munmap(rw, size);
      if (rx != MAP_FAILED) munmap(rx, size);
    }
  }
  close(file);
  return mapped;
}

}  // namespace kalo::platform
