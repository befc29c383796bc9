// The Windows backend: the STRINGTABLE resource, the module name, the probes, the number reader
// and the catch of floating-point traps raised by host functions.
#include <float.h>
#include <windows.h>
#undef LoadString

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string>

#include "platform/host_call.h"
#include "platform/platform.h"
#include "resources/string_table.h"

namespace kalo::platform {
namespace {

TEST(Win32StringTable, ResourceHoldsEveryCompileErrorTextAndCopiesBounded) {
  for (unsigned id = 10001; id <= 10010; ++id) {
    char text[512];
    const int length = LoadString(id, text, sizeof text);
    ASSERT_GT(length, 0) << id;
    EXPECT_STREQ(text, resources::FindString(id)) << id;
    EXPECT_EQ(length, static_cast<int>(std::strlen(text)));
  }
  char text[512];
  EXPECT_EQ(LoadString(10000, text, sizeof text), 0);
  EXPECT_EQ(LoadString(10011, text, sizeof text), 0);
  std::memset(text, 'x', 8);
  EXPECT_EQ(LoadString(10010, text, 7), 6);  // "Syntax error" cut to six characters
  EXPECT_STREQ(text, "Syntax");
  EXPECT_EQ(text[7], 'x');
}

TEST(Win32Module, NamesTheFileWithoutDirectories) {
  char name[256];
  ModuleFileName(name, sizeof name);
  const std::string text = name;
  EXPECT_EQ(text.find_first_of("\\/:"), std::string::npos) << text;
  EXPECT_EQ(text, "platform_win32_test.exe");
  char small[5];
  ModuleFileName(small, sizeof small);
  EXPECT_STREQ(small, "plat");
  EXPECT_EQ(ModuleHandle(), static_cast<const void*>(GetModuleHandleA(nullptr)));
}

TEST(Win32Probes, RefuseNullUnmappedAndReadOnlyForWriting) {
  void* noAccess = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_NOACCESS);
  void* readOnly = VirtualAlloc(nullptr, 4096, MEM_COMMIT | MEM_RESERVE, PAGE_READONLY);
  ASSERT_NE(noAccess, nullptr);
  ASSERT_NE(readOnly, nullptr);
  double values[3] = {};
  // clang-format off
  struct Row { void* pointer; size_t size; bool badRead, badWrite; } rows[] = {
      {nullptr, 8, true, true},  {nullptr, 0, false, false}, {values, sizeof values, false, false},
      {noAccess, 8, true, true}, {readOnly, 8, false, true}, {noAccess, 0, false, false}};
  // clang-format on
  for (const Row& row : rows) {
    EXPECT_EQ(IsBadReadPointer(row.pointer, row.size), row.badRead) << row.pointer;
    EXPECT_EQ(IsBadWritePointer(row.pointer, row.size), row.badWrite) << row.pointer;
  }
  EXPECT_TRUE(IsBadStringPointer(nullptr, 32));
  EXPECT_TRUE(IsBadStringPointer(static_cast<const char*>(noAccess), 32));
  EXPECT_FALSE(IsBadStringPointer("name", 32));
  VirtualFree(noAccess, 0, MEM_RELEASE);
  VirtualFree(readOnly, 0, MEM_RELEASE);
}

TEST(Win32Numbers, ReadDecimalRoundsLikeStrtodInTheCLocale) {
  // clang-format off
  struct Row { const char* text; double value; } rows[] = {
      {"0.1", 0.1}, {"1e-310", 1e-310},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()}, {"1e-400", 0.0},
      {"1e400", std::numeric_limits<double>::infinity()},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()}};
  // clang-format on
  for (const Row& row : rows)
    EXPECT_EQ(ReadDecimal(row.text, row.text + std::strlen(row.text)), row.value) << row.text;
}

// --- Traps -------------------------------------------------------------------------------

TEST(Win32Traps, StatusesMapAsTheGuardsFilter) {
  constexpr uint32_t MASKED = 0x1F80;
  // clang-format off
  struct Row { unsigned long status; uint32_t mxcsr; uint16_t x87Status; int code; } rows[] = {
      {0xC000008D, MASKED, 0, 201}, {0xC000008E, MASKED, 0, 202}, {0xC000008F, MASKED, 0, 203},
      {0xC0000090, MASKED, 0, 204}, {0xC0000091, MASKED, 0, 205}, {0xC0000092, MASKED, 0, 207},
      {0xC0000093, MASKED, 0, 206},
      // SSE: the raised flag whose mask is clear; overflow and underflow before inexact.
      {0xC00002B5, (MASKED & ~0x0080u) | 0x01, 0, 204},
      {0xC00002B5, (MASKED & ~0x0200u) | 0x04 | 0x01, 0, 202},  // invalid flag left masked
      {0xC00002B5, (MASKED & ~0x0C00u) | 0x08 | 0x20, 0, 205},
      {0xC00002B4, (MASKED & ~0x1000u) | 0x20, 0, 203},
      {0xC00002B5, (MASKED & ~0x0100u) | 0x02, 0, 201},
      // x87 under the general status.
      {0xC00002B5, MASKED, 0x41, 207},
      {0xC00002B5, MASKED, 0x10, 206},
      {0xC00002B5, MASKED, 0, 0},
      // A single status with an unmasked SSE flag raised: the flag names the fault (Wine
      // reports an SSE denormal operand as underflow).
      {0xC0000093, (MASKED & ~0x0100u) | 0x02, 0, 201},
      {0xC0000093, MASKED | 0x02 | 0x20, 0, 206},  // raised but masked flags are no cause
      {0xC0000005, 0, 0, 0},                       // access violation: not ours
      {0xE06D7363, 0, 0, 0},                       // a C++ exception of another compiler
  };
  // clang-format on
  for (const Row& row : rows)
    EXPECT_EQ(MapFloatTrap(row.status, row.mxcsr, row.x87Status), row.code)
        << std::hex << row.status << " " << row.mxcsr;
}

volatile double zero = 0.0, one = 1.0, three = 3.0, huge = 1e308, tiny = 1e-308, subnormal = 1e-310;

// _controlfp leaves the SSE denormal mask alone on x64, so that row writes the MXCSR itself; the
// x87 row pushes nine values onto the eight registers with invalid operation unmasked there.
double Denormal() {
  const uint32_t unmasked = 0x1F80 & ~0x0100u;
  __asm__ __volatile__("ldmxcsr %0" : : "m"(unmasked));
  return subnormal + one;
}
double X87StackOverflow() {
  const uint16_t control = 0x037E;
  __asm__ __volatile__(
      "fninit\n\tfldcw %0\n\t"
      "fld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfwait"
      :
      : "m"(control));
  return 0.0;
}

struct TrapRow {
  const char* name;
  unsigned int unmasked;  // _controlfp's
  double (*raise)();
  int code;
};
// clang-format off
const TrapRow TRAPS[] = {
    {"DivideByZero", _EM_ZERODIVIDE, [] { return one / zero; }, 202},
    {"Invalid", _EM_INVALID, [] { return zero / zero; }, 204},
    {"Inexact", _EM_INEXACT, [] { return one / three; }, 203},
    {"Overflow", _EM_OVERFLOW, [] { return huge * huge; }, 205},
    {"Underflow", _EM_UNDERFLOW, [] { return tiny * tiny; }, 206},
    {"Denormal", 0, &Denormal, 201},
    {"X87StackOverflow", 0, &X87StackOverflow, 207}};
// clang-format on
constexpr long INVALID_ROW = 1;

// Raises the fault of TRAPS[u] with its trap unmasked.
int Raises(double* /*a*/, double* r, long u) {
  _clearfp();
  _controlfp(_MCW_EM & ~TRAPS[u].unmasked, _MCW_EM);
  *r = TRAPS[u].raise();
  return 0;
}
int Succeeds(double* a, double* r, long u) {
  *r = a[0] * static_cast<double>(u);
  return 0;
}
int Fails(double* /*a*/, double* /*r*/, long u) { return static_cast<int>(u); }
int Throws(double* /*a*/, double* /*r*/, long /*u*/) { throw std::runtime_error("host"); }

uint32_t Mxcsr() {
  uint32_t value;
  __asm__ __volatile__("stmxcsr %0" : "=m"(value));
  return value;
}

class Win32TrapTest : public ::testing::TestWithParam<int> {
 protected:
  void TearDown() override { _fpreset(); }
};

TEST_P(Win32TrapTest, EndsTheCallWithTheFaultsCodeAndAResetUnit) {
  double arguments[1] = {2.0};
  double result = 7.0;
  int trapCode = -1;
  const int code = TRAPS[GetParam()].code;
  EXPECT_EQ(CallHostFunction(&Raises, arguments, &result, GetParam(), &trapCode), code);
  EXPECT_EQ(trapCode, code);
  EXPECT_EQ(result, 7.0);  // abandoned before the result was stored
  EXPECT_EQ(Mxcsr(), 0x1F80u);
  // The thread goes on: the next call is not taken for a trapped one.
  EXPECT_EQ(CallHostFunction(&Succeeds, arguments, &result, 3, &trapCode), 0);
  EXPECT_EQ(trapCode, 0);
  EXPECT_EQ(result, 6.0);
}

INSTANTIATE_TEST_SUITE_P(Faults, Win32TrapTest,
                         ::testing::Range(0, static_cast<int>(std::size(TRAPS))),
                         [](const ::testing::TestParamInfo<int>& row) {
                           return std::string(TRAPS[row.param].name);
                         });

TEST(Win32Traps, PlainResultsAndHostExceptionsPassThrough) {
  double arguments[1] = {2.0};
  double result = 0.0;
  int trapCode = -1;
  EXPECT_EQ(CallHostFunction(&Fails, arguments, &result, -5, &trapCode), -5);
  EXPECT_EQ(trapCode, 0);
  EXPECT_THROW(CallHostFunction(&Throws, arguments, &result, 0, &trapCode), std::runtime_error);
  // The exception put the thread's call slot back: a later trap is still caught.
  EXPECT_EQ(CallHostFunction(&Raises, arguments, &result, INVALID_ROW, &trapCode), 204);
  _fpreset();
}

}  // namespace
}  // namespace kalo::platform
