// Numbers as the tool reads and writes them: plain decimal text, the same in every locale.
#pragma once

#include <string_view>

namespace kalo::cli {

// Room for the longest text FormatNumber writes: "-0.00000012345678901234567" and
// "-2.2250738585072014e-308" take 26 and 24 characters.
constexpr int NUMBER_TEXT_SIZE = 32;

// Reads a whole cell or argument as a double: blanks and tabs around it and a leading '+' are
// allowed, anything else left over is not.
bool ParseNumber(std::string_view text, double& value);

// Writes the shortest digits that read back to exactly `value`, in plain decimal notation from
// 1e-7 to 1e21 and with an exponent beyond, and returns the end of the text.
char* FormatNumber(double value, char* out);

}  // namespace kalo::cli
