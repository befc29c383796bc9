#include "tools/numbers.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace kalo::cli {

bool ParseNumber(std::string_view text, double& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  while (first < last && (*first == ' ' || *first == '\t')) ++first;
  while (last > first && (last[-1] == ' ' || last[-1] == '\t')) --last;
  // from_chars refuses the '+' that spreadsheets and people write; "+-1" stays an error.
  if (first < last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  if (first == last) return false;
  auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}

// The digits are always the shortest that read back exactly. The plain to_chars picks whichever
// notation is shorter, which turns 100000 into "1e+05"; like ECMAScript's number printing, plain
// decimal notation is kept from 1e-7 up to 1e21 and the exponent form used only outside.
char* FormatNumber(double value, char* out) {
  double magnitude = std::fabs(value);
  if (magnitude >= 1e-7 && magnitude < 1e21) {
    return std::to_chars(out, out + NUMBER_TEXT_SIZE, value, std::chars_format::fixed).ptr;
  }
  return std::to_chars(out, out + NUMBER_TEXT_SIZE, value).ptr;
}

}  // namespace kalo::cli
