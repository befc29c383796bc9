// --sweep: a table of the equations over evenly spaced points, one column per swept variable
// (the first one outermost) and one per assigned variable.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "tools/block.h"
#include "tools/equation.h"
#include "tools/modes.h"
#include "tools/numbers.h"
#include "tools/output_buffer.h"
#include "tools/plot.h"
#include "tools/reporting.h"

namespace kalo::cli {

namespace {

// Past this a sweep is surely a typing slip, not a wish.
constexpr double MAX_POINTS = 1e12;

__extension__ typedef __int128 Wide;
// Mantissas stay below this, so that sums and products of a sweep's integers cannot overflow.
constexpr Wide MANTISSA_LIMIT = static_cast<Wide>(1000000000000000000) * 1000000000000000000;

constexpr Wide EXACT_INTEGER_LIMIT = Wide{1} << 53;
// 10^0 to 10^22 are exact doubles.
constexpr int EXACT_POWERS = 22;
constexpr double POWERS_OF_TEN[EXACT_POWERS + 1] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A decimal text as mantissa * 10^exponent, exactly; false for texts beyond MANTISSA_LIMIT.
struct Decimal {
  Wide mantissa = 0;
  int exponent = 0;
};

bool ReadDecimal(std::string_view text, Decimal& decimal) {
  size_t at = text.find_first_not_of(" \t+");
  bool negative = at < text.size() && text[at] == '-';
  at += negative ? 1 : 0;
  bool anyDigit = false;
  bool afterPoint = false;
  for (; at < text.size(); ++at) {
    char c = text[at];
    if (c == '.' && !afterPoint) {
      afterPoint = true;
    } else if (c >= '0' && c <= '9') {
      if (decimal.mantissa >= MANTISSA_LIMIT / 10) return false;
      decimal.mantissa = decimal.mantissa * 10 + (c - '0');
      decimal.exponent -= afterPoint ? 1 : 0;
      anyDigit = true;
    } else {
      break;
    }
  }
  int exponent = 0;
  if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
    const char* first = text.data() + at + 1;
    if (first < text.data() + text.size() && *first == '+') ++first;
    auto [end, error] = std::from_chars(first, text.data() + text.size(), exponent);
    if (error != std::errc() || std::abs(exponent) > 400) return false;
    at = static_cast<size_t>(end - text.data());
  }
  if (negative) decimal.mantissa = -decimal.mantissa;
  decimal.exponent += exponent;
  return anyDigit && text.find_first_not_of(" \t", at) == std::string_view::npos;
}

// Brings `decimal` down to `exponent`; false if the mantissa grows too large.
bool Rescale(Decimal& decimal, int exponent) {
  for (; decimal.exponent > exponent; --decimal.exponent) {
    if (decimal.mantissa >= MANTISSA_LIMIT / 10 || decimal.mantissa <= -MANTISSA_LIMIT / 10) {
      return false;
    }
    decimal.mantissa *= 10;
  }
  return true;
}

// The points of one swept variable: FROM + i*STEP for i from 0 while the point has not passed
// TO. Counted and computed in the decimals as written, so that 0:0.9:3e-1 ends at 0.9 and
// every point is the double nearest its decimal value; texts too long for that fall back to
// binary arithmetic.
class Axis {
 public:
  explicit Axis(const Sweep& sweep) {
    Decimal to;
    exact = ReadDecimal(sweep.fromText, from) && ReadDecimal(sweep.toText, to) &&
            ReadDecimal(sweep.stepText, step);
    if (exact) {
      int exponent = std::min({from.exponent, to.exponent, step.exponent});
      exact = Rescale(from, exponent) && Rescale(to, exponent) && Rescale(step, exponent);
    }
    if (exact) {
      count = static_cast<double>((to.mantissa - from.mantissa) / step.mantissa) + 1;
      return;
    }
    ParseNumber(sweep.fromText, binaryFrom);
    ParseNumber(sweep.stepText, binaryStep);
    double binaryTo = 0;
    ParseNumber(sweep.toText, binaryTo);
    // A little slack so that a binary step still reaches TO.
    count = std::floor((binaryTo - binaryFrom) / binaryStep * (1 + 1e-12) + 1e-9) + 1;
  }

  double At(long long index) const {
    if (!exact) return binaryFrom + static_cast<double>(index) * binaryStep;
    Wide value = from.mantissa + static_cast<Wide>(index) * step.mantissa;
    // Both factors exact, so one correctly rounded operation gives the double nearest the
    // decimal; otherwise the decimal text is read.
    if (value < EXACT_INTEGER_LIMIT && value > -EXACT_INTEGER_LIMIT &&
        std::abs(from.exponent) <= EXACT_POWERS) {
      double power = POWERS_OF_TEN[std::abs(from.exponent)];
      auto exactValue = static_cast<double>(value);
      return from.exponent < 0 ? exactValue / power : exactValue * power;
    }
    char text[64];
    char* end = text + sizeof text;
    char* p = end;
    bool negative = value < 0;
    Wide magnitude = negative ? -value : value;
    do {
      *--p = static_cast<char>('0' + static_cast<int>(magnitude % 10));
      magnitude /= 10;
    } while (magnitude != 0);
    if (negative) *--p = '-';
    std::string decimalText(p, end);
    decimalText += "e" + std::to_string(from.exponent);
    double result = 0;
    std::from_chars(decimalText.data(), decimalText.data() + decimalText.size(), result);
    return result;
  }
  double Count() const { return count; }

 private:
  bool exact = false;
  Decimal from, step;
  double binaryFrom = 0, binaryStep = 0;
  double count = 0;
};

class SweepRun {
 public:
  explicit SweepRun(const Options& runOptions) : options(runOptions), errors(runOptions.onError) {}
  int Run();

 private:
  int Prepare();
  void FillBlock(long rows);
  void WriteRow(long row, bool evaluated);
  std::string Where(long row) const;

  const Options& options;
  RowErrors errors;
  Variables variables;
  Program program;
  std::vector<Axis> axes;
  std::vector<long long> index;  // the odometer over the axes, the last turning fastest
  double total = 1;
  std::vector<int> outputVariables;  // swept, then each assigned variable once
  std::vector<std::string> header;
  std::vector<bool> isInput;
  std::unique_ptr<Block> block;
  OutputTarget target;
  std::unique_ptr<OutputBuffer> out;
  PlotData plot;
};

int SweepRun::Prepare() {
  for (const Sweep& sweep : options.sweeps) {
    if (variables.Declare(sweep.name, 0) < 0) return UsageError(sweep.name + " is swept twice");
    for (const std::string& text : options.equations) {
      if (SameName(AssignedName(text), sweep.name)) {
        return UsageError("the equation assigns the swept variable " + sweep.name);
      }
    }
    axes.emplace_back(sweep);
    total *= axes.back().Count();
    outputVariables.push_back(static_cast<int>(outputVariables.size()));
    header.push_back(sweep.name);
  }
  if (total > MAX_POINTS) return UsageError("the sweep has more than 10^12 points");
  if (!options.plotPath.empty() && axes.size() > 2) {
    return UsageError("--plot draws one or two swept variables");
  }
  for (const Assignment& constant : options.assignments) {
    if (variables.Declare(constant.name, constant.value) < 0) {
      return UsageError(constant.name + " is given twice");
    }
  }
  if (!program.Compile(options.equations, variables, false, options.units)) {
    Complain(program.Error());
    return EXIT_COMPILE_ERROR;
  }
  for (size_t k = 0; k < program.Count(); ++k) {
    int assigned = program.Assigned(k);
    if (std::find(outputVariables.begin(), outputVariables.end(), assigned) !=
        outputVariables.end()) {
      continue;
    }
    outputVariables.push_back(assigned);
    header.emplace_back(AssignedName(options.equations[k]));
  }
  isInput.assign(variables.Count(), false);
  for (size_t k = 0; k < axes.size(); ++k) isInput[k] = true;
  block = std::make_unique<Block>(variables);
  index.assign(axes.size(), 0);
  plot.names = header;
  plot.sweptCount = static_cast<int>(axes.size());
  return 0;
}

void SweepRun::FillBlock(long rows) {
  for (long row = 0; row < rows; ++row) {
    for (size_t k = 0; k < axes.size(); ++k) block->Column(k)[row] = axes[k].At(index[k]);
    for (size_t k = axes.size(); k-- > 0;) {
      if (static_cast<double>(++index[k]) < axes[k].Count()) break;
      index[k] = 0;
    }
  }
  block->Reset(rows, isInput);
}

void SweepRun::WriteRow(long row, bool evaluated) {
  for (size_t i = 0; i < outputVariables.size(); ++i) {
    bool shown = evaluated || i < axes.size();
    double value = block->Column(static_cast<size_t>(outputVariables[i]))[row];
    if (!options.plotPath.empty()) plot.rows.push_back(shown ? value : std::nan(""));
    if (out == nullptr) continue;
    if (i > 0) out->Append(options.delimiter);
    if (shown) out->AppendNumber(value, options.digits);
  }
  if (out != nullptr) out->Append('\n');
}

std::string SweepRun::Where(long row) const {
  std::string at;
  for (size_t k = 0; k < axes.size(); ++k) {
    char number[NUMBER_TEXT_SIZE];
    at += (k > 0 ? ", " : "") + variables.Name(k) + "=" +
          std::string(number, FormatNumber(block->Column(k)[row], number, options.digits));
  }
  return at;
}

int SweepRun::Run() {
  if (int code = Prepare(); code != 0) return code;
  // With a chart the table is written only where -o sends it.
  if (options.plotPath.empty() || !options.outputPath.empty()) {
    if (!target.Open(options.outputPath)) return EXIT_CANNOT_CREATE;
    out = std::make_unique<OutputBuffer>(target.Stream());
    for (size_t i = 0; i < header.size() && !options.noHeader; ++i) {
      if (i > 0) out->Append(options.delimiter);
      out->Append(header[i]);
    }
    if (!options.noHeader) out->Append('\n');
  }
  bool going = true;
  for (double done = 0; done < total && going;) {
    long rows = static_cast<long>(std::min<double>(BLOCK_ROWS, total - done));
    FillBlock(rows);
    going = block->Run(
        program, rows, [this](long row) { WriteRow(row, true); },
        [this](long row, const std::string& message) {
          if (!errors.Report(Where(row) + ": " + message, EXIT_MATH_ERROR)) return false;
          if (errors.WriteEmpty()) WriteRow(row, false);
          return true;
        });
    done += static_cast<double>(rows);
  }
  int code = errors.Finish();
  if (out != nullptr) {
    out->Flush();
    out.reset();
    code = target.Finish(code);
  }
  std::string error;
  if (code == 0 && !options.plotPath.empty()) {
    code = WritePlot(plot, options.plotPath, error);
    if (code != 0) Complain(error);
  }
  return code;
}

}  // namespace

int RunSweep(const Options& options) {
  SweepRun run(options);
  return run.Run();
}

}  // namespace kalo::cli
