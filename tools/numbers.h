// Numbers as the tool reads and writes them: plain decimal text, the same in every locale.
#pragma once

#include <string_view>

namespace kalo::cli {

// Room for the longest text FormatNumber writes ("-2.2250738585072014e-308" and the like).
constexpr int NUMBER_TEXT_SIZE = 32;

// Reads a whole cell or argument as a double: blanks and tabs around it and a leading '+' are
// allowed, anything else left over is not.
bool ParseNumber(std::string_view text, double& value);

// Writes the shortest text that reads back to exactly `value` and returns the end of it.
char* FormatNumber(double value, char* out);

}  // namespace kalo::cli
