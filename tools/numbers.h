// Numbers as the tool reads and writes them: plain decimal text, the same in every locale.
#pragma once

#include <string_view>

namespace kalo::cli {

// Room for the longest text FormatNumber writes: "-0.00000012345678901234567" and
// "-123456789012345678900" take 26 and 22 characters.
constexpr int NUMBER_TEXT_SIZE = 32;
// Seventeen significant digits tell every double apart; more would print digits that are not
// there.
constexpr int MAX_DIGITS = 17;

enum class NumberRead { OK, NOT_A_NUMBER, OUT_OF_RANGE };

// Reads a whole cell or argument as a double: blanks and tabs around it and a leading '+' are
// allowed, anything else left over is not. A finite text beyond the doubles is OUT_OF_RANGE.
NumberRead ReadNumber(std::string_view text, double& value);
inline bool ParseNumber(std::string_view text, double& value) {
  return ReadNumber(text, value) == NumberRead::OK;
}

// Writes `value` with `digits` significant digits (1 to MAX_DIGITS), or with 0 the shortest
// digits that read back to exactly `value`; trailing zeros are dropped. Plain decimal notation
// from 1e-7 to 1e21, an exponent without '+' or padding outside. Returns the end of the text.
char* FormatNumber(double value, char* out, int digits = 0);

}  // namespace kalo::cli
