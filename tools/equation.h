// The tool's one door to the library: a compiled equation over the public C interface, and the
// little reading of equation text the tool needs before the library sees it.
#pragma once

#include <memory>
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
  // Runs the equation over `count` rows of `columns`, one array per variable; returns the rows
  // done, fewer than `count` when a row failed (Error() then describes that row).
  long EvaluateColumns(double* const* columns, long count) {
    long done = KaloEvalExpressionColumns(handle, columns, count);
    if (done < count) ReadEvalError();
    return done;
  }
  const std::string& Error() const { return error; }

 private:
  void ReadEvalError();

  void* handle = nullptr;
  std::string error;
};

// The longest name the library takes.
constexpr size_t MAX_NAME_LENGTH = 47;

// The name a column header is read as: every character other than an ASCII letter, digit or
// underscore becomes '_' (one per UTF-8 character), and a leading digit gets a '_' before it.
// "Temp C" is Temp_C, "a-b" a_b, "2019" _2019.
std::string IdentifierFor(std::string_view header);

// The variables of a run, in declaration order, each with the value it starts every row with.
class Variables {
 public:
  // Declares `name` and returns its index, or -1 when the name (in any letter case) is taken.
  int Declare(std::string_view name, double value);
  int Find(std::string_view name) const;
  size_t Count() const { return names.size(); }
  const std::string& Name(size_t i) const { return names[i]; }
  double Initial(size_t i) const { return initial[i]; }
  void SetInitial(size_t i, double value) { initial[i] = value; }
  // The blank-separated list the library compiles against.
  std::string List() const;

 private:
  std::vector<std::string> names;
  std::vector<double> initial;
};

// What the tool adds to the library's text for a name it does not know, after that name.
constexpr std::string_view UNDEFINED_NOTE = " is neither a variable nor a function";

// The name a bare expression such as "1+2" assigns.
constexpr std::string_view BARE_RESULT = "ans";

// Several equations run in order over one set of variables, so that later equations read what
// earlier ones wrote.
class Program {
 public:
  // Declares what the equations assign (a bare expression assigns BARE_RESULT when
  // `allowBare`), and pi and e where an equation reads a name no variable has, then compiles
  // each. On failure Error() names the equation's fault.
  bool Compile(const std::vector<std::string>& texts, Variables& variables, bool allowBare,
               KAL_ANGULAR_UNITS units);
  size_t Count() const { return equations.size(); }
  // The variable each equation assigns.
  int Assigned(size_t k) const { return assigned[k]; }
  bool IsBare(size_t k) const { return bare[k]; }
  const std::string& Error() const { return error; }

  // Runs equation `k` alone over one row of `values`; false with Error() set when it fails.
  bool RunOne(size_t k, double* values);

  // Rows of a block of columns are evaluated by Run calls over ascending row ranges; an
  // equation never runs twice on one row, since one that rewrites a column it reads would
  // then apply twice. StartBlock begins a new block.
  void StartBlock() { done.assign(equations.size(), 0); }
  // Runs every equation over rows [from, to) and returns `to`, or the first row where one
  // failed (Error() says why); rows before it are complete, it and later ones are not.
  long Run(double* const* columns, long from, long to);

 private:
  std::vector<std::unique_ptr<Equation>> equations;
  std::vector<int> assigned;
  std::vector<bool> bare;
  std::vector<long> done;
  std::vector<double*> shifted;
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

// The names (each once, spelt as first written) used right of the '=': variables and functions
// alike. Digits and exponents of numbers such as 1e5 are not names.
std::vector<std::string> NamesUsed(std::string_view equation);

// The value of pi or e when `name` is one of them (any letter case); false for any other name.
bool FindKnownConstant(std::string_view name, double* value);

}  // namespace kalo::cli
