// --sweep: a table of the equation over evenly spaced points, one column per swept variable
// (the first one outermost) and one for the result.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tools/equation.h"
#include "tools/modes.h"
#include "tools/numbers.h"
#include "tools/output_buffer.h"
#include "tools/reporting.h"

namespace kalo::cli {

namespace {

// Past this a sweep is surely a typing slip, not a wish.
constexpr double MAX_POINTS = 1e12;
constexpr double EXACT_INTEGER_LIMIT = 9007199254740992.0;  // 2^53

// Digits after the decimal point, or -1 for a text with an exponent.
int Decimals(const std::string& text) {
  if (text.find_first_of("eE") != std::string::npos) return -1;
  size_t point = text.find('.');
  if (point == std::string::npos) return 0;
  size_t last = text.find_last_of("0123456789");
  return last == std::string::npos || last < point ? 0 : static_cast<int>(last - point);
}

// The points of one swept variable. 0:1:0.1 has eleven, and the seventh prints as 0.6, not
// as 0.6000000000000001: when the bounds and step are short decimals the points are counted
// in integer units of the last decimal and divided once, which rounds each point to the double
// nearest its decimal value.
class Axis {
 public:
  explicit Axis(const Sweep& sweep) : from(sweep.from), step(sweep.step) {
    int decimals =
        std::max({Decimals(sweep.fromText), Decimals(sweep.toText), Decimals(sweep.stepText)});
    if (std::min({Decimals(sweep.fromText), Decimals(sweep.toText), Decimals(sweep.stepText)}) >=
            0 &&
        decimals <= 15) {
      double candidateScale = std::pow(10.0, decimals);
      double a = std::round(sweep.from * candidateScale);
      double s = std::round(sweep.step * candidateScale);
      double t = std::round(sweep.to * candidateScale);
      if (std::fabs(a) < EXACT_INTEGER_LIMIT && std::fabs(t) < EXACT_INTEGER_LIMIT && s != 0) {
        scaled = true;
        scale = candidateScale;
        from = a;
        step = s;
        count = std::floor((t - a) / s) + 1;
        return;
      }
    }
    // A little slack so that 0:1:0.1 still reaches 1 despite the binary step.
    count = std::floor((sweep.to - sweep.from) / sweep.step * (1 + 1e-12) + 1e-9) + 1;
  }

  double At(double index) const {
    return scaled ? (from + index * step) / scale : from + index * step;
  }
  double Count() const { return count; }

 private:
  double from;
  double step;
  double count = 0;
  bool scaled = false;
  double scale = 1;
};

}  // namespace

int RunSweep(const Options& options) {
  std::string assigned(AssignedName(options.equation));
  std::vector<std::string> names;
  std::vector<double> initialValues;
  auto declared = [&names](const std::string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&name](const std::string& known) { return SameName(known, name); });
  };
  std::vector<Axis> axes;
  double total = 1;
  for (const Sweep& sweep : options.sweeps) {
    if (declared(sweep.name)) return UsageError(sweep.name + " is swept twice");
    if (SameName(sweep.name, assigned)) {
      return UsageError("the equation assigns the swept variable " + sweep.name);
    }
    names.push_back(sweep.name);
    initialValues.push_back(0);
    axes.emplace_back(sweep);
    total *= axes.back().Count();
  }
  if (total > MAX_POINTS) return UsageError("the sweep has more than 10^12 points");
  for (const Assignment& constant : options.assignments) {
    if (declared(constant.name)) return UsageError(constant.name + " is given twice");
    names.push_back(constant.name);
    initialValues.push_back(constant.value);
  }
  size_t assignedVariable = names.size();
  for (size_t i = 0; i < names.size(); ++i) {
    if (SameName(names[i], assigned)) assignedVariable = i;
  }
  if (assignedVariable == names.size()) {
    names.push_back(assigned);
    initialValues.push_back(0);
  }

  std::string list;
  for (const std::string& name : names) list += name + " ";
  Equation equation;
  if (!equation.Compile(options.equation, list)) {
    Complain(equation.Error());
    return EXIT_COMPILE_ERROR;
  }
  equation.SetUnits(options.units);

  std::FILE* output = OpenOutput(options.outputPath);
  if (output == nullptr) return EXIT_CANNOT_CREATE;
  RowErrors errors(options.onError);
  bool ioFailed = false;
  {
    OutputBuffer out(output);
    for (const Sweep& sweep : options.sweeps) {
      out.Append(sweep.name);
      out.Append(',');
    }
    out.Append(assigned);
    out.Append('\n');

    // An odometer over the axes, the last turning fastest.
    std::vector<double> index(axes.size(), 0);
    std::vector<double> values(initialValues.size());
    for (bool more = total > 0; more;) {
      std::copy(initialValues.begin(), initialValues.end(), values.begin());
      for (size_t k = 0; k < axes.size(); ++k) values[k] = axes[k].At(index[k]);
      bool evaluated = equation.Evaluate(values.data());
      if (!evaluated) {
        std::string at;
        for (size_t k = 0; k < axes.size(); ++k) {
          char number[NUMBER_TEXT_SIZE];
          at += (k > 0 ? ", " : "") + names[k] + "=" +
                std::string(number, FormatNumber(values[k], number));
        }
        if (!errors.Report(at + ": " + equation.Error(), EXIT_MATH_ERROR)) break;
      }
      if (evaluated || errors.WriteEmpty()) {
        for (size_t k = 0; k < axes.size(); ++k) {
          out.AppendNumber(values[k]);
          out.Append(',');
        }
        if (evaluated) out.AppendNumber(values[assignedVariable]);
        out.Append('\n');
      }
      more = false;
      for (size_t k = axes.size(); k-- > 0;) {
        if (++index[k] < axes[k].Count()) {
          more = true;
          break;
        }
        index[k] = 0;
      }
    }
    ioFailed = !out.Flush();
  }
  if (output != stdout && std::fclose(output) != 0) ioFailed = true;
  if (ioFailed) {
    Complain(std::string("cannot write the output: ") + std::strerror(errno));
    return EXIT_IO_ERROR;
  }
  return errors.Finish();
}

}  // namespace kalo::cli
