// The tool's one door to the library: a compiled equation over the public C interface, and the
// little reading of equation text the tool needs before the library sees it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <kalo.h>

namespace kalo::cli {

// Every text the library writes needs this much room.
constexpr int LIBRARY_TEXT_SIZE = 512;
// The library reads this much of an equation and drops the rest without a word, which could
// turn a long sum into a shorter one that still compiles; the tool refuses longer text instead.
constexpr size_t MAX_EQUATION_LENGTH = 303;

class Equation {
 public:
  Equation() = default;
  ~Equation();
  Equation(const Equation&) = delete;
  Equation& operator=(const Equation&) = delete;

  // Compiles `equation` over the blank-separated `variables`. On failure Error() holds the
  // library's text, with its line breaks as '\n'.
  bool Compile(const std::string& equation, const std::string& variables);
  void SetUnits(KAL_ANGULAR_UNITS units) { KaloSetAngularUnits(handle, units); }

  // Runs the equation; on success the assigned variable's element of `values` holds the
  // result. On failure Error() holds the math error text.
  bool Evaluate(double* values) {
    if (KaloEvalExpression(handle, values) != 0) return true;
    ReadEvalError();
    return false;
  }
  const std::string& Error() const { return error; }

 private:
  void ReadEvalError();

  void* handle = nullptr;
  std::string error;
};

// The library's "\r\n" as the '\n' that C streams turn into the platform's line end.
std::string FromLibraryText(const char* text);

bool IsIdentifier(std::string_view text);
// Names in equations ignore ASCII letter case; so does every comparison the tool makes.
bool SameName(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view text);

// The name left of the '=' in "Z = ...", or empty when the equation does not start that way.
std::string_view AssignedName(std::string_view equation);

// The names (lower case, each once) used right of the '=': variables and functions alike.
// Digits and exponents of numbers such as 1e5 are not names.
std::vector<std::string> NamesUsed(std::string_view equation);

}  // namespace kalo::cli
