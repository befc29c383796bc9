#include "tools/equation.h"

#include <algorithm>

namespace kalo::cli {

namespace {

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

size_t IdentifierEnd(std::string_view text, size_t at) {
  while (at < text.size() && (IsLetter(text[at]) || IsDigit(text[at]))) ++at;
  return at;
}

}  // namespace

Equation::~Equation() { KaloDestroyExpression(handle); }

bool Equation::Compile(const std::string& equation, const std::string& variables) {
  KaloDestroyExpression(handle);
  handle = nullptr;
  if (equation.size() > MAX_EQUATION_LENGTH) {
    error = "The equation has " + std::to_string(equation.size()) + " characters; at most " +
            std::to_string(MAX_EQUATION_LENGTH) + " are read";
    return false;
  }
  char text[LIBRARY_TEXT_SIZE] = "";
  int code = 0;
  handle = KaloParseExpression(equation.c_str(), variables.c_str(), &code, text);
  if (handle != nullptr) return true;
  error = FromLibraryText(text);
  return false;
}

void Equation::ReadEvalError() {
  char text[LIBRARY_TEXT_SIZE] = "";
  KaloGetEvalError(handle, text, nullptr);
  error = FromLibraryText(text);
}

std::string FromLibraryText(const char* text) {
  std::string result;
  for (; *text != '\0'; ++text) {
    if (text[0] == '\r' && text[1] == '\n') continue;
    result += *text;
  }
  return result;
}

bool IsIdentifier(std::string_view text) {
  return !text.empty() && IsLetter(text[0]) && IdentifierEnd(text, 0) == text.size();
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = Lower(c);
  return result;
}

std::string_view AssignedName(std::string_view equation) {
  size_t at = 0;
  while (at < equation.size() && IsBlank(equation[at])) ++at;
  if (at == equation.size() || !IsLetter(equation[at])) return {};
  size_t nameEnd = IdentifierEnd(equation, at);
  size_t next = nameEnd;
  while (next < equation.size() && IsBlank(equation[next])) ++next;
  if (next == equation.size() || equation[next] != '=') return {};
  return equation.substr(at, nameEnd - at);
}

std::vector<std::string> NamesUsed(std::string_view equation) {
  std::vector<std::string> names;
  size_t at = equation.find('=');
  at = at == std::string_view::npos ? 0 : at + 1;
  while (at < equation.size()) {
    char c = equation[at];
    if (IsLetter(c)) {
      size_t nameEnd = IdentifierEnd(equation, at);
      std::string name = LowerCase(equation.substr(at, nameEnd - at));
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
      at = nameEnd;
    } else if (IsDigit(c) || c == '.') {
      // A number runs on through its digits, point and exponent: "2e5" names nothing.
      while (at < equation.size() && (IsDigit(equation[at]) || equation[at] == '.')) ++at;
      if (at < equation.size() && (equation[at] == 'e' || equation[at] == 'E')) {
        ++at;
        if (at < equation.size() && (equation[at] == '+' || equation[at] == '-')) ++at;
        while (at < equation.size() && IsDigit(equation[at])) ++at;
      }
    } else {
      ++at;
    }
  }
  return names;
}

}  // namespace kalo::cli
