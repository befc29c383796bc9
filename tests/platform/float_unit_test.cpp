// The maths routines behind the built-ins and the x87 unit: a run leaves that unit alone only
// where no routine uses it. Each routine runs on a full x87 stack, where the first value it
// pushed would overflow the stack and set the invalid flag, and on any x87 instruction that
// resets the unit the tag word would change.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "evaluator/math.h"
#include "platform/float_unit.h"

namespace kalo {
namespace {

#if defined(__x86_64__) || defined(_M_X64)
// clang-format off
struct X87Environment { uint16_t control, unused1, status, unused2, tags, unused3; uint32_t rest[5]; };
// clang-format on
volatile double sink;

// Whether `run` touched the x87 unit.
template <typename Run>
bool TouchesX87(Run run) {
  X87Environment before, after;
  __asm__ __volatile__("fninit");
  for (int i = 0; i < 8; ++i) __asm__ __volatile__("fldz");
  __asm__ __volatile__("fnstenv %0\n\tfldcw %0" : "=m"(before));  // fnstenv masks everything
  run();
  __asm__ __volatile__("fnstenv %0\n\tfninit" : "=m"(after));
  return (after.status & 0x41) != 0 || after.tags != before.tags ||
         (after.status & 0x3800) != (before.status & 0x3800);
}

TEST(MathsLibrary, UsesTheX87UnitOnlyWhereTheGuardHandlesIt) {
  ASSERT_TRUE(TouchesX87([] { __asm__ __volatile__("fld1\n\tfstp %%st(0)" : : : "st"); }));
  const double inf = std::numeric_limits<double>::infinity();
  const double arguments[] = {0, -0.0, 1e-310, 0.5, 1, -1, 3.7, 30, 700, -745.5, 1e22, inf, -inf};
  std::string users;
  bool rangeFailed = false;
  for (const OperationInfo& row : OPERATIONS) {
    bool used = false;
    for (double x : arguments)
      for (double y : arguments)
        used = used || (row.computation == BY_LIBRARY && TouchesX87([&] {
                          sink = math::Apply(row.code, x, y, 0.0, KAL_RADIANS, &rangeFailed);
                        }));
    if (used) users += std::string(row.name) + " ";
  }
  EXPECT_EQ(users.empty(), !platform::LIBRARY_USES_X87) << "routines using the x87 unit: " << users;
}
#endif

}  // namespace
}  // namespace kalo
