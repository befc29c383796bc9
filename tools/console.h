// The few operating-system questions the tool asks: is a standard stream a terminal, and (on
// systems that translate line ends) reading and writing bytes unchanged.
#pragma once

#include <cstdio>

namespace kalo::cli {

bool IsTerminal(std::FILE* stream);
void UseBinaryMode(std::FILE* stream);

}  // namespace kalo::cli
