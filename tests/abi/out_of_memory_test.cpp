// Each allocation KaloParseExpression makes fails in turn. Every call must come back, never throw:
// with a handle that evaluates correctly (an allocation done without) or null, 1, "Out of memory".
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "kalo.h"

static long failAt = -1, allocations = 0;  // the allocation, counted from 0, that fails; -1: none

static void* Allocate(std::size_t size) {
  return failAt >= 0 && allocations++ == failAt ? nullptr : std::malloc(size != 0 ? size : 1);
}

// Every form, for the library too (it takes them from here); a sanitizer supplies any left out.
void* operator new(std::size_t size) {
  if (void* memory = Allocate(size)) return memory;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }

TEST(OutOfMemory, EveryFailedAllocationIsReportedOrDoneWithout) {
  for (const char* equation : {"Y = X * X + 1", "Y = sin(X) * 0 + 10", "Y = (not X) + 14"}) {
    for (long n = 0;; ++n) {
      SCOPED_TRACE(std::string(equation) + ", allocation " + std::to_string(n));
      int code = -1;
      char text[512] = "";
      allocations = 0;
      failAt = n;
      void* handle = KaloParseExpression(equation, "X Y", &code, text);
      failAt = -1;
      if (handle == nullptr) {
        EXPECT_EQ(std::to_string(code) + text, "1Out of memory");
        continue;
      }
      double values[] = {3.0, 0.0};
      EXPECT_EQ(KaloEvalExpression(handle, values), 1);
      EXPECT_EQ(values[1], 10.0);
      KaloDestroyExpression(handle);
      if (n >= allocations) break;  // no allocation failed: every one has had its turn
    }
  }
}
