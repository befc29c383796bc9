#include "tools/numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace kalo::cli {

namespace {

// Plain notation covers decimal exponents from PLAIN_LOWEST up to, not including, PLAIN_END.
constexpr int PLAIN_LOWEST = -7;
constexpr int PLAIN_END = 21;

char* Fill(char* out, char c, int count) {
  for (int i = 0; i < count; ++i) *out++ = c;
  return out;
}

char* Copy(char* out, std::string_view text) {
  std::memcpy(out, text.data(), text.size());
  return out + text.size();
}

// Lays out the significant `digits` of d.ddd * 10^exponent.
char* Layout(std::string_view digits, int exponent, char* out) {
  auto count = static_cast<int>(digits.size());
  if (exponent < PLAIN_LOWEST || exponent >= PLAIN_END) {
    *out++ = digits[0];
    if (count > 1) out = Copy(Fill(out, '.', 1), digits.substr(1));
    *out++ = 'e';
    return std::to_chars(out, out + 8, exponent).ptr;
  }
  if (exponent < 0) {
    out = Fill(Fill(out, '0', 1), '.', 1);
    return Copy(Fill(out, '0', -exponent - 1), digits);
  }
  int whole = exponent + 1;
  if (count <= whole) return Fill(Copy(out, digits), '0', whole - count);
  out = Copy(out, digits.substr(0, static_cast<size_t>(whole)));
  *out++ = '.';
  return Copy(out, digits.substr(static_cast<size_t>(whole)));
}

}  // namespace

NumberRead ReadNumber(std::string_view text, double& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  while (first < last && (*first == ' ' || *first == '\t')) ++first;
  while (last > first && (last[-1] == ' ' || last[-1] == '\t')) --last;
  // from_chars refuses the '+' that spreadsheets and people write; "+-1" stays an error.
  if (first < last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
  if (first == last) return NumberRead::NOT_A_NUMBER;
  auto [end, error] = std::from_chars(first, last, value);
  if (end != last) return NumberRead::NOT_A_NUMBER;
  if (error == std::errc::result_out_of_range) return NumberRead::OUT_OF_RANGE;
  return error == std::errc() ? NumberRead::OK : NumberRead::NOT_A_NUMBER;
}

// to_chars in scientific form gives the digits (the shortest that read back, or rounded to
// `digits`); the layout is ours, since the plain form of to_chars prints every binary digit of a
// large double ("278908409818195066880") and its exponents are padded ("1e-08").
char* FormatNumber(double value, char* out, int digits) {
  if (std::isnan(value)) return Copy(out, "nan");
  if (std::isinf(value) || value == 0) {
    return std::to_chars(out, out + NUMBER_TEXT_SIZE, value).ptr;
  }
  // Below 1e15 every digit of the plain form is significant, and to_chars writes it directly.
  double magnitude = std::fabs(value);
  if (digits == 0 && magnitude >= 1e-7 && magnitude < 1e15) {
    return std::to_chars(out, out + NUMBER_TEXT_SIZE, value, std::chars_format::fixed).ptr;
  }
  char text[NUMBER_TEXT_SIZE];
  char* end =
      digits > 0
          ? std::to_chars(text, text + sizeof text, value, std::chars_format::scientific,
                          digits - 1)
                .ptr
          : std::to_chars(text, text + sizeof text, value, std::chars_format::scientific).ptr;
  const char* mark = std::find(text, end, 'e');
  int exponent = 0;
  std::from_chars(mark[1] == '+' ? mark + 2 : mark + 1, end, exponent);
  char significant[NUMBER_TEXT_SIZE];
  size_t count = 0;
  const char* p = text;
  if (*p == '-') *out++ = *p++;
  for (; p < mark; ++p) {
    if (*p != '.') significant[count++] = *p;
  }
  while (count > 1 && significant[count - 1] == '0') --count;
  return Layout(std::string_view(significant, count), exponent, out);
}

}  // namespace kalo::cli
