// A generator of our own rather than the C library's rand: glibc's draws 31 bits, and sharing
// its state with the host would let either disturb the other's sequence.
#include "evaluator/random.h"

#include <atomic>

namespace kalo {
namespace {
// Relaxed atomics: draws happen only during an evaluation, which is one at a time, but a
// compilation on another thread may reseed meanwhile, and that must not be a data race.
std::atomic<uint32_t> state{1};
}  // namespace

void SeedRandom(uint32_t seed) { state.store(seed, std::memory_order_relaxed); }

// The classic linear congruential generator whose high bits give 15-bit draws.
int DrawRandom() {
  const uint32_t next = state.load(std::memory_order_relaxed) * 214013u + 2531011u;
  state.store(next, std::memory_order_relaxed);
  return static_cast<int>((next >> 16) & RANDOM_MAX);
}

}  // namespace kalo
