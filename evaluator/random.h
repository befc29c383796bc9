// The random generator behind randu and randn: 15-bit draws, 0 to 32767, reseeded after every
// successful compilation.
#pragma once

#include <cstdint>

namespace kalo {

constexpr int RANDOM_MAX = 32767;

void SeedRandom(uint32_t seed);
int DrawRandom();

}  // namespace kalo
