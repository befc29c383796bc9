// Each maths routine behind the built-ins runs on a full x87 stack: the first value it pushed would
// set the invalid flag, and any instruction resetting the unit would change the tag word.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "evaluator/math.h"
#include "platform/float_unit.h"

namespace kalo {

#if defined(__x86_64__) || defined(_M_X64)
volatile double sink;
struct X87Environment {
  uint16_t control, unused1, status, unused2, tags, unused3, rest[8];
};

template <typename Run>
bool TouchesX87(Run run) {
  X87Environment before, after;
  __asm__ __volatile__("fninit\n\t.rept 8\n\tfldz\n\t.endr");
  __asm__ __volatile__("fnstenv %0\n\tfldcw %0" : "=m"(before));  // fnstenv masks everything
  run();
  __asm__ __volatile__("fnstenv %0\n\tfninit" : "=m"(after));
  return (after.status & 0x41) != 0 || after.tags != before.tags ||
         (after.status & 0x3800) != (before.status & 0x3800);
}

TEST(MathsLibrary, UsesTheX87UnitOnlyWhereTheGuardHandlesIt) {
  ASSERT_TRUE(TouchesX87([] { __asm__ __volatile__("fld1\n\tfstp %%st(0)" : : : "st"); }));
  double xs[] = {0, -0.0, 1e-310, 0.5, 1, -1, 3.7, 30, 700, -745.5, 1e22, INFINITY, -INFINITY};
  std::string users;
  bool rangeFailed = false;
  for (const OperationInfo& row : OPERATIONS)
    for (double x : xs)
      for (double y : xs)
        if (row.computation == BY_LIBRARY && users.find(row.name) == std::string::npos &&
            TouchesX87([&] { sink = math::Apply(row.code, x, y, 0.0, KAL_RADIANS, &rangeFailed); }))
          users += std::string(row.name) + " ";
  EXPECT_EQ(users.empty(), !platform::LIBRARY_USES_X87) << "routines using the x87 unit: " << users;
}
#endif

}  // namespace kalo
