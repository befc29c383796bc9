// The call of a registered host function during an evaluation.
#pragma once

#include <cstdint>

namespace kalo {

// Calls registry entry `index` on the top values of `stack` (positions 1 to *depth; stack[0] is
// unused) and leaves its result in their place. A failed call leaves the host's code, a trap's
// code or ERROR_INTERNAL in *errorCode.
void CallUserFunction(int index, double* stack, int* depth, int32_t* errorCode);

}  // namespace kalo
