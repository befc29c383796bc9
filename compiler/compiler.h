// The compiler: the only writer of a Program. It reads the host's variable list when a handle
// is made, then one equation into code words and literals.
#pragma once

#include <cstddef>

#include "expression/program.h"

namespace kalo {

// Reads `list` into an empty `program`: its names, and a zeroed pool slot for each. False when
// the list is refused or memory is short; `message` (`size` bytes) then says why.
bool ReadVariableList(const char* list, Program* program, char* message, size_t size);

// Compiles `equation` into a program that holds only its variables. False on a compile fault,
// whose marked text is then in `message` (MESSAGE_SIZE bytes).
bool Compile(const char* equation, Program* program, char* message);

// The index of the variable named by the first `length` characters of `name`, ignoring case;
// -1 when there is none.
int FindVariable(const Program& program, const char* name, int length);

}  // namespace kalo
