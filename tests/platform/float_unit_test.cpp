// The maths routines behind the built-ins and the x87 unit: a run leaves that unit alone only
// where no routine uses it. Each routine runs on a full x87 stack, where the first value it
// pushed would overflow the stack and set the invalid flag, and on any x87 instruction that
// resets the unit the tag word would change.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "evaluator/math.h"
#include "platform/float_unit.h"

namespace kalo {
namespace {

#if defined(__x86_64__) || defined(_M_X64)
struct X87Environment {
  uint16_t control, unused1, status, unused2, tags, unused3;
  uint32_t rest[5];
};

X87Environment ReadX87() {
  X87Environment environment;
  __asm__ __volatile__("fnstenv %0" : "=m"(environment));
  __asm__ __volatile__("fldcw %0" : : "m"(environment.control));  // fnstenv masks everything
  return environment;
}

// Whether `run` touched the x87 unit.
template <typename Run>
bool TouchesX87(Run run) {
  __asm__ __volatile__("fninit");
  for (int i = 0; i < 8; ++i) __asm__ __volatile__("fldz");
  const X87Environment before = ReadX87();
  run();
  const X87Environment after = ReadX87();
  __asm__ __volatile__("fninit");
  return (after.status & 0x41) != 0 || after.tags != before.tags ||
         (after.status & 0x3800) != (before.status & 0x3800);
}

TEST(MathsLibrary, UsesTheX87UnitOnlyWhereTheGuardHandlesIt) {
  ASSERT_TRUE(TouchesX87([] { __asm__ __volatile__("fld1\n\tfstp %%st(0)" : : : "st"); }));
  const double inf = std::numeric_limits<double>::infinity();
  const double arguments[] = {0, -0.0, 1e-310, 0.5, 1, -1, 3.7, 30, 700, -745.5, 1e22, inf, -inf};
  std::string users;
  for (const OperationInfo& row : OPERATIONS) {
    if (row.computation != BY_LIBRARY) continue;
    bool used = false;
    for (double x : arguments)
      for (double y : arguments)
        used = used || TouchesX87([&] {
                 bool rangeFailed = false;
                 volatile double result =
                     math::Apply(row.code, x, y, 0.0, KAL_RADIANS, &rangeFailed);
                 (void)result;
               });
    if (used) users += std::string(row.name) + " ";
  }
  if (platform::LIBRARY_USES_X87)
    EXPECT_FALSE(users.empty()) << "no routine uses the x87 unit: the guard may leave it alone";
  else
    EXPECT_TRUE(users.empty()) << "routines that use the x87 unit: " << users;
}
#endif

}  // namespace
}  // namespace kalo
