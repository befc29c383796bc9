#include "tools/numbers.h"

#include <charconv>
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

char* FormatNumber(double value, char* out) {
  return std::to_chars(out, out + NUMBER_TEXT_SIZE, value).ptr;
}

}  // namespace kalo::cli
