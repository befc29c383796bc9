// Character classes and name comparison in ASCII, never the locale's: bytes of 128 and above
// belong to no class, so an equation or a variable list reads the same in every locale.
#pragma once

namespace kalo {

constexpr bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
constexpr bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
constexpr bool IsAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
// The underscore is no letter, but names may start with it.
constexpr bool IsNameStart(char c) { return IsAsciiLetter(c) || c == '_'; }
constexpr bool IsNameChar(char c) { return IsNameStart(c) || IsAsciiDigit(c); }

constexpr char ToAsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Compares the first `length` characters of `text` with the whole of `name`, ignoring case.
constexpr bool EqualsIgnoringCase(const char* text, int length, const char* name) {
  for (int i = 0; i < length; ++i)
    if (name[i] == '\0' || ToAsciiUpper(text[i]) != ToAsciiUpper(name[i])) return false;
  return name[length] == '\0';
}

}  // namespace kalo
