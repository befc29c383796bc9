#include <float.h>
#include <windows.h>
#include <xmmintrin.h>
#undef LoadString

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "platform/host_call.h"
#include "platform/platform.h"
#include "resources/string_table.h"

namespace kalo::platform {

TEST(Win32, StringTableModuleNameAndProbes) {
  char text[512] = {};
  for (unsigned id = 10001; id <= 10010; ++id)
    EXPECT_TRUE(LoadString(id, text, sizeof text) == int(std::strlen(text)) &&
                std::strcmp(text, resources::FindString(id)) == 0)
        << id;
  EXPECT_EQ(LoadString(10000, text, sizeof text) + LoadString(10011, text, sizeof text), 0);
  std::memset(text, 'x', 8);
  EXPECT_EQ(LoadString(10010, text, 7), 6);  // "Syntax error" cut to six characters
  EXPECT_TRUE(std::strcmp(text, "Syntax") == 0 && text[7] == 'x');
  ModuleFileName(text, sizeof text);
  EXPECT_STREQ(text, "platform_win32_test.exe");  // no directories
  ModuleFileName(text, 5);
  EXPECT_STREQ(text, "plat");
  EXPECT_EQ(ModuleHandle(), static_cast<const void*>(GetModuleHandleA(nullptr)));
  void* noAccess = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
  void* readOnly = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
  // clang-format off
  const struct { void* pointer; size_t size; bool badRead, badWrite, badString; } rows[] = {
      {nullptr, 8, true, true, true},    {nullptr, 0, false, false, true},
      {text, sizeof text, false, false, false}, {noAccess, 8, true, true, true},
      {readOnly, 8, false, true, false}, {noAccess, 0, false, false, true}};
  // clang-format on
  for (const auto& row : rows)
    EXPECT_TRUE(IsBadReadPointer(row.pointer, row.size) == row.badRead &&
                IsBadWritePointer(row.pointer, row.size) == row.badWrite &&
                IsBadStringPointer(static_cast<const char*>(row.pointer), 32) == row.badString)
        << row.pointer;
  for (void* page : {noAccess, readOnly}) VirtualFree(page, 0, MEM_RELEASE);
}

volatile double zero = 0.0, one = 1.0, three = 3.0, huge = 1e308, tiny = 1e-308, subnormal = 1e-310;
const uint16_t X87_INVALID_UNMASKED = 0x037E;

// _controlfp leaves the SSE denormal mask alone on x64, so that row writes the MXCSR itself; the
// x87 row pushes nine values onto the eight registers with invalid operation unmasked there.
// clang-format off
const struct { unsigned int unmasked; double (*raise)(); int code; } TRAPS[] = {
    {_EM_INVALID, [] { return zero / zero; }, 204}, {_EM_ZERODIVIDE, [] { return one / zero; }, 202},
    {_EM_INEXACT, [] { return one / three; }, 203}, {_EM_OVERFLOW, [] { return huge * huge; }, 205},
    {_EM_UNDERFLOW, [] { return tiny * tiny; }, 206},
    {0, [] { _mm_setcsr(0x1F80 & ~0x0100u); return subnormal + one; }, 201},
    {0, [] { __asm__ __volatile__("fninit\n\tfldcw %0\n\t.rept 9\n\tfld1\n\t.endr\n\tfwait"
                                  : : "m"(X87_INVALID_UNMASKED)); return 0.0; }, 207}};
// clang-format on

// Raises TRAPS[u]'s fault, its trap unmasked; -1 doubles its argument, -2 throws, others return u.
int Host(double* a, double* r, long u) {
  if (u == -2) throw std::runtime_error("host");
  if (u == -1) *r = 2.0 * a[0];
  if (u < 0) return u == -1 ? 0 : static_cast<int>(u);
  _clearfp();
  _controlfp(_MCW_EM & ~TRAPS[u].unmasked, _MCW_EM);
  *r = TRAPS[u].raise();
  return 0;
}

TEST(Win32, TrapsMapToCodesAndEndTheHostCallWithAResetUnit) {
  // SSE's first raised unmasked flag (inexact last), x87's, Wine's single status overruled by SSE.
  constexpr uint32_t M = 0x1F80;  // every SSE trap masked
  // clang-format off
  const struct { unsigned long status; uint32_t mxcsr; uint16_t x87Status; int code; } rows[] = {
      {0xC000008D, M, 0, 201}, {0xC000008E, M, 0, 202}, {0xC000008F, M, 0, 203},
      {0xC0000090, M, 0, 204}, {0xC0000091, M, 0, 205}, {0xC0000092, M, 0, 207},
      {0xC0000093, M, 0, 206}, {0xC0000005, 0, 0, 0},   {0xC00002B5, M, 0, 0},
      {0xC00002B5, (M & ~0x0080u) | 0x01, 0, 204}, {0xC00002B5, (M & ~0x0100u) | 0x02, 0, 201},
      {0xC00002B5, (M & ~0x0200u) | 0x04 | 0x01, 0, 202}, {0xC00002B4, (M & ~0x1000u) | 0x20, 0, 203},
      {0xC00002B5, (M & ~0x0C00u) | 0x08 | 0x20, 0, 205},
      {0xC00002B5, M, 0x41, 207}, {0xC00002B5, M, 0x10, 206},
      {0xC0000093, (M & ~0x0100u) | 0x02, 0, 201}, {0xC0000093, M | 0x02 | 0x20, 0, 206}};
  // clang-format on
  for (const auto& row : rows)
    EXPECT_EQ(MapFloatTrap(row.status, row.mxcsr, row.x87Status), row.code)
        << std::hex << row.status << " " << row.mxcsr;
  double in[1] = {2.0}, result = 7.0;
  int trapCode = -1;
  const auto call = [&](long u) { return CallHostFunction(&Host, in, &result, u, &trapCode); };
  // Abandoned before the result was stored; the next call is not taken for a trapped one.
  for (const auto& trap : TRAPS) {
    result = 7.0;
    EXPECT_EQ(call(static_cast<long>(&trap - TRAPS)), trap.code);
    EXPECT_TRUE(trapCode == trap.code && result == 7.0 && _mm_getcsr() == 0x1F80u) << trap.code;
    EXPECT_TRUE(call(-1) == 0 && trapCode == 0 && result == 4.0) << trap.code;
    _fpreset();
  }
  EXPECT_TRUE(call(-5) == -5 && trapCode == 0);
  EXPECT_THROW(call(-2), std::runtime_error);
  EXPECT_EQ(call(0), 204);  // the exception put the thread's call slot back
  _fpreset();
}

}  // namespace kalo::platform
