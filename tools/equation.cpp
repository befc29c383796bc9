#include "tools/equation.h"

#include <algorithm>

#include "tools/functions.h"

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
      std::string_view name = equation.substr(at, nameEnd - at);
      if (std::none_of(names.begin(), names.end(),
                       [name](const std::string& known) { return SameName(known, name); })) {
        names.emplace_back(name);
      }
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

namespace kalo::cli {

namespace {

constexpr std::string_view UNDEFINED_TEXT = "Variable or function not defined";

// The library's text for an unknown name does not say which one it was.
std::string NameTheUndefined(const std::string& text, const std::string& equation,
                             const Variables& variables) {
  if (text.rfind(UNDEFINED_TEXT, 0) != 0) return text;
  for (const std::string& name : NamesUsed(equation)) {
    if (variables.Find(name) < 0 && !IsFunctionName(name)) {
      return text + "\n'" + name + "'" + std::string(UNDEFINED_NOTE);
    }
  }
  return text;
}

struct KnownConstant {
  std::string_view name;
  double value;
};
constexpr KnownConstant KNOWN_CONSTANTS[] = {{"pi", 3.141592653589793}, {"e", 2.718281828459045}};

// pi and e are variables holding their values, declared only where an equation reads them and
// nothing else has the name.
void DeclareKnownConstants(const std::vector<std::string>& texts, Variables& variables) {
  for (const KnownConstant& constant : KNOWN_CONSTANTS) {
    for (const std::string& text : texts) {
      std::vector<std::string> used = NamesUsed(text);
      if (std::any_of(used.begin(), used.end(),
                      [&](const std::string& name) { return SameName(name, constant.name); })) {
        variables.Declare(constant.name, constant.value);
      }
    }
  }
}

}  // namespace

bool FindKnownConstant(std::string_view name, double* value) {
  for (const KnownConstant& constant : KNOWN_CONSTANTS) {
    if (SameName(name, constant.name)) {
      *value = constant.value;
      return true;
    }
  }
  return false;
}

std::string IdentifierFor(std::string_view header) {
  std::string name;
  if (!header.empty() && IsDigit(header[0])) name += '_';
  for (size_t i = 0; i < header.size(); ++i) {
    char c = header[i];
    name += IsLetter(c) || IsDigit(c) ? c : '_';
    // The continuation bytes of a UTF-8 character belong to the '_' already written.
    while (c & 0x80 && i + 1 < header.size() && (header[i + 1] & 0xC0) == 0x80) ++i;
  }
  return name;
}

int Variables::Declare(std::string_view name, double value) {
  if (Find(name) >= 0) return -1;
  names.emplace_back(name);
  initial.push_back(value);
  return static_cast<int>(names.size()) - 1;
}

int Variables::Find(std::string_view name) const {
  for (size_t i = 0; i < names.size(); ++i) {
    if (SameName(names[i], name)) return static_cast<int>(i);
  }
  return -1;
}

std::string Variables::List() const {
  std::string list;
  for (const std::string& name : names) list += name + " ";
  return list;
}

bool Program::Compile(const std::vector<std::string>& texts, Variables& variables, bool allowBare,
                      KAL_ANGULAR_UNITS units) {
  std::vector<std::string> equationTexts;
  for (const std::string& text : texts) {
    bool isBare = AssignedName(text).empty() && allowBare;
    equationTexts.push_back(isBare ? std::string(BARE_RESULT) + " = " + text : text);
    bare.push_back(isBare);
    std::string_view name = AssignedName(equationTexts.back());
    if (!name.empty()) variables.Declare(name, 0);
  }
  DeclareKnownConstants(equationTexts, variables);
  std::string list = variables.List();
  for (const std::string& text : equationTexts) {
    equations.push_back(std::make_unique<Equation>());
    if (!equations.back()->Compile(text, list)) {
      error = NameTheUndefined(equations.back()->Error(), text, variables);
      return false;
    }
    std::string_view name = AssignedName(text);
    if (name.empty()) {
      error = "cannot tell which variable '" + text + "' assigns";
      return false;
    }
    equations.back()->SetUnits(units);
    assigned.push_back(variables.Find(name));
  }
  shifted.resize(variables.Count());
  StartBlock();
  return true;
}

bool Program::RunOne(size_t k, double* values) {
  if (equations[k]->Evaluate(values)) return true;
  error = equations[k]->Error();
  return false;
}

long Program::Run(double* const* columns, long from, long to) {
  long limit = to;
  for (size_t k = 0; k < equations.size(); ++k) {
    long start = std::max(from, done[k]);
    if (start >= limit) continue;
    for (size_t i = 0; i < shifted.size(); ++i) shifted[i] = columns[i] + start;
    long end = start + equations[k]->EvaluateColumns(shifted.data(), limit - start);
    done[k] = end;
    if (end < limit) {
      limit = end;
      error = equations[k]->Error();
    }
  }
  return limit;
}

}  // namespace kalo::cli
