// Helpers for tests through the public header: a handle that releases itself, the error text,
// the internal-error reports; and (float_env.h) the floating-point state a host sees.
#pragma once

#include <gtest/gtest.h>

#include <cfenv>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "kalo.h"
#include "support/float_env.h"

namespace kalo_test {

inline uint64_t Bits(double x) {
  uint64_t bits;
  return std::memcpy(&bits, &x, sizeof bits), bits;
}

// Equal to the bit, or both NaN: a result of -0 must not pass for 0.
inline bool Same(double a, double b) { return Bits(a) == Bits(b) || (a != a && b != b); }

class Handle {
 public:
  Handle(const char* equation, const char* variables) {
    char text[512] = {};
    int code = 0;
    handle_ = KaloParseExpression(equation, variables, &code, text);
    EXPECT_NE(handle_, nullptr) << equation << ": " << code << " " << text;
  }
  ~Handle() { KaloDestroyExpression(handle_); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  void* get() const { return handle_; }

 private:
  void* handle_;
};

// Collects the internal-error reports delivered while it lives, in place of the host's handler.
class HostReports {
 public:
  HostReports() { Texts().clear(), previous_ = KaloSetInternalErrorHandler(&Record, 0); }
  ~HostReports() { KaloSetInternalErrorHandler(previous_, 0); }
  HostReports(const HostReports&) = delete;
  HostReports& operator=(const HostReports&) = delete;
  static std::vector<std::string>& Texts() {
    static std::vector<std::string> texts;
    return texts;
  }

 private:
  static void Record(const char* text, long /*userValue*/) { Texts().emplace_back(text); }
  KaloInternalErrorHandler previous_;
};

// The text of the last evaluation; the buffer is filled first, so that a missing terminator shows.
inline std::string ErrorText(void* handle, int* code = nullptr) {
  char text[512];
  std::memset(text, 'x', sizeof text);
  const int result = KaloGetEvalError(handle, text, nullptr);
  if (code != nullptr) *code = result;
  return text;
}

}  // namespace kalo_test
