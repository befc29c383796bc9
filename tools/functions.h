// The functions an equation can call: the library's built-ins and the few the command adds
// through the library's host-function interface.
#pragma once

#include <string_view>

namespace kalo::cli {

// Registers the command's functions with the library, except any whose name a built-in has.
void RegisterHostFunctions();
// A built-in or a registered function, in any letter case.
bool IsFunctionName(std::string_view name);
// Prints the built-ins, then the command's own; returns the exit code.
int ListFunctions();

}  // namespace kalo::cli
