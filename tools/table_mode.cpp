// --csv: the equation over every row of a table. This is the tool's hot loop: per row it finds
// the fields, reads only the columns the equation uses, evaluates once and copies the rest of
// the row through byte for byte. Nothing in the loop allocates.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "tools/console.h"
#include "tools/csv_reader.h"
#include "tools/equation.h"
#include "tools/modes.h"
#include "tools/numbers.h"
#include "tools/output_buffer.h"
#include "tools/reporting.h"

namespace kalo::cli {

namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
// How often the loop looks at the clock, and how long a run goes before it shows progress.
constexpr long long PROGRESS_ROWS = 1 << 16;
constexpr auto PROGRESS_DELAY = std::chrono::seconds(1);

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Shortened(std::string_view text) {
  constexpr size_t LIMIT = 40;
  return text.size() <= LIMIT ? std::string(text) : std::string(text.substr(0, LIMIT)) + "...";
}

// A progress line on standard error, only when it is a terminal and the run takes a while.
class Progress {
 public:
  Progress(bool show, unsigned long long inputSize)
      : enabled(show), totalBytes(inputSize), start(std::chrono::steady_clock::now()) {}

  void Update(long long rows, unsigned long long bytes) {
    if (!enabled || std::chrono::steady_clock::now() - start < PROGRESS_DELAY) return;
    if (totalBytes > 0) {
      std::fprintf(stderr, "\rkalo: %lld rows, %3.0f%%", rows,
                   100.0 * static_cast<double>(bytes) / static_cast<double>(totalBytes));
    } else {
      std::fprintf(stderr, "\rkalo: %lld rows, %.1f MB", rows, static_cast<double>(bytes) / 1e6);
    }
    shown = true;
  }
  void Clear() {
    if (shown) std::fprintf(stderr, "\r%40s\r", "");
    shown = false;
  }

 private:
  bool enabled;
  unsigned long long totalBytes;
  std::chrono::steady_clock::time_point start;
  bool shown = false;
};

class TableRun {
 public:
  TableRun(const Options& runOptions, std::FILE* input, std::FILE* output)
      : options(runOptions), reader(input), out(output), errors(runOptions.onError) {}

  int Run(unsigned long long inputSize);

 private:
  int Prepare();
  bool Declare(const std::string& name, int column, double value);
  // Reads the row's inputs and evaluates; false with `message` and `exitCode` set otherwise.
  bool EvaluateRow(std::string& message, int& exitCode);
  void WriteRow(const double* result);
  std::string Cell(int column) const;
  std::string Where() const { return "line " + std::to_string(record.line) + ", "; }

  const Options& options;
  CsvReader reader;
  CsvRecord record;
  OutputBuffer out;
  RowErrors errors;
  Equation equation;
  std::vector<std::string> columnNames;
  std::vector<std::string> variableNames;
  std::vector<int> inputColumns;    // column of each declared variable, -1 for the others
  std::vector<int> inputVariables;  // the declared variables read from the row
  std::vector<double> initialValues;
  std::vector<double> values;
  int assignedVariable = -1;
  int resultColumn = -1;  // where the result goes in the output row
  bool appended = false;  // the result is a new last column
  std::string lineEnd;    // for rows that end without one
};

std::string TableRun::Cell(int column) const {
  std::string text = "column " + std::to_string(column + 1);
  if (column < static_cast<int>(columnNames.size()) && !columnNames[column].empty()) {
    text += " (" + columnNames[column] + ")";
  }
  return text;
}

bool TableRun::Declare(const std::string& name, int column, double value) {
  for (const std::string& known : variableNames) {
    if (SameName(known, name)) return false;
  }
  variableNames.push_back(name);
  inputColumns.push_back(column);
  if (column >= 0) inputVariables.push_back(static_cast<int>(variableNames.size()) - 1);
  initialValues.push_back(value);
  return true;
}

int TableRun::Prepare() {
  CsvStatus status = reader.Next(record);
  if (status == CsvStatus::FAILED) {
    Complain(reader.Error());
    return EXIT_IO_ERROR;
  }
  if (status == CsvStatus::END || record.raw.empty()) {
    Complain(
        "line 1: missing header row; the first line must name the columns, such as "
        "Volts,Amps");
    return EXIT_DATA_ERROR;
  }
  if (record.badField >= 0) {
    Complain("line " + std::to_string(record.line) + ", column " +
             std::to_string(record.badField + 1) + ": " + record.problem);
    return EXIT_DATA_ERROR;
  }
  bool allNumbers = true;
  for (const CsvField& field : record.fields) {
    std::string name = Trimmed(field.Value());
    if (columnNames.empty() && name.compare(0, BYTE_ORDER_MARK.size(), BYTE_ORDER_MARK) == 0) {
      name.erase(0, BYTE_ORDER_MARK.size());
    }
    double number;
    allNumbers = allNumbers && ParseNumber(name, number);
    columnNames.push_back(name);
  }
  if (allNumbers) {
    Complain("line 1: missing header row; found the number " + Shortened(columnNames[0]) +
             " where the first line should name the columns, such as Volts,Amps");
    return EXIT_DATA_ERROR;
  }

  // Declare the columns the equation uses, the constants, then the assigned variable.
  std::string assigned(AssignedName(options.equation));
  std::vector<std::string> used = NamesUsed(options.equation);
  for (int column = 0; column < static_cast<int>(columnNames.size()); ++column) {
    const std::string& name = columnNames[column];
    if (SameName(name, assigned)) {
      if (resultColumn >= 0) {
        Complain("line 1: " + Cell(resultColumn) + " and " + Cell(column) +
                 " have the same name; the result cannot replace both");
        return EXIT_DATA_ERROR;
      }
      resultColumn = column;
    }
    if (!IsIdentifier(name) || std::find(used.begin(), used.end(), LowerCase(name)) == used.end()) {
      continue;
    }
    if (!Declare(name, column, 0)) {
      int first = inputColumns[std::find_if(variableNames.begin(), variableNames.end(),
                                            [&](const std::string& known) {
                                              return SameName(known, name);
                                            }) -
                               variableNames.begin()];
      Complain("line 1: " + Cell(first) + " and " + Cell(column) +
               " have the same name; the equation cannot tell them apart");
      return EXIT_DATA_ERROR;
    }
  }
  for (const Assignment& constant : options.assignments) {
    for (const std::string& name : columnNames) {
      if (SameName(name, constant.name)) {
        return UsageError(constant.name + "=... names a column of the table");
      }
    }
    if (!Declare(constant.name, -1, constant.value)) {
      return UsageError(constant.name + "=... is given twice");
    }
  }
  if (!assigned.empty()) Declare(assigned, -1, 0);
  for (size_t i = 0; i < variableNames.size(); ++i) {
    if (SameName(variableNames[i], assigned)) assignedVariable = static_cast<int>(i);
  }

  std::string list;
  for (const std::string& name : variableNames) list += name + " ";
  if (!equation.Compile(options.equation, list)) {
    Complain(equation.Error());
    if (equation.Error().rfind("Variable or function not defined", 0) == 0) {
      std::string columns;
      constexpr size_t NAMES_SHOWN = 20;
      for (size_t i = 0; i < columnNames.size() && i < NAMES_SHOWN; ++i) {
        columns += (i > 0 ? ", " : "") + columnNames[i];
      }
      if (columnNames.size() > NAMES_SHOWN) columns += ", ...";
      Complain("the table's columns are: " + columns);
    }
    return EXIT_COMPILE_ERROR;
  }
  if (assignedVariable < 0) {
    Complain("cannot tell which variable the equation assigns");
    return EXIT_COMPILE_ERROR;
  }
  equation.SetUnits(options.units);
  values = initialValues;

  lineEnd = record.lineEnd.empty() ? "\n" : std::string(record.lineEnd);
  appended = resultColumn < 0;
  if (appended) resultColumn = static_cast<int>(columnNames.size());
  out.Append(record.raw);
  if (appended) {
    out.Append(',');
    out.Append(assigned);
  }
  out.Append(lineEnd);
  return 0;
}

bool TableRun::EvaluateRow(std::string& message, int& exitCode) {
  exitCode = EXIT_DATA_ERROR;
  if (record.badField >= 0) {
    message = Where() + Cell(record.badField) + ": " + record.problem;
    return false;
  }
  int fieldCount = static_cast<int>(record.fields.size());
  int columnCount = static_cast<int>(columnNames.size());
  if (fieldCount < columnCount) {
    message = Where() + Cell(fieldCount) + ": missing; the header has " +
              std::to_string(columnCount) + " columns, this row " + std::to_string(fieldCount);
    return false;
  }
  if (fieldCount > columnCount) {
    message = Where() + "column " + std::to_string(columnCount + 1) +
              ": one field too many; the header has " + std::to_string(columnCount) + " columns";
    return false;
  }
  std::copy(initialValues.begin(), initialValues.end(), values.begin());
  for (int variable : inputVariables) {
    int column = inputColumns[variable];
    std::string_view text = record.fields[column].Inner();
    if (ParseNumber(text, values[variable])) continue;
    if (text.find_first_not_of(" \t") == std::string_view::npos) {
      message = Where() + Cell(column) + ": empty cell";
    } else {
      message = Where() + Cell(column) + ": '" + Shortened(text) + "' is not a number";
    }
    return false;
  }
  if (equation.Evaluate(values.data())) return true;
  message = "line " + std::to_string(record.line) + ": " + equation.Error();
  exitCode = EXIT_MATH_ERROR;
  return false;
}

void TableRun::WriteRow(const double* result) {
  std::string_view rowEnd = record.lineEnd.empty() ? std::string_view(lineEnd) : record.lineEnd;
  size_t fieldCount = record.fields.size();
  size_t columnCount = columnNames.size();
  if (fieldCount == columnCount) {
    // The usual row: copy it around the result.
    std::string_view raw = record.raw;
    size_t cut = appended
                     ? raw.size()
                     : static_cast<size_t>(record.fields[resultColumn].raw.data() - raw.data());
    size_t resume = appended ? raw.size() : cut + record.fields[resultColumn].raw.size();
    out.Append(raw.substr(0, cut));
    if (appended) out.Append(',');
    if (result != nullptr) out.AppendNumber(*result);
    out.Append(raw.substr(resume));
  } else {
    // A ragged row left in with an empty result: padded or cut to the header's width, so that
    // the output stays rectangular.
    size_t outputCount = columnCount + (appended ? 1 : 0);
    for (size_t i = 0; i < outputCount; ++i) {
      if (i > 0) out.Append(',');
      if (static_cast<int>(i) != resultColumn && i < fieldCount) out.Append(record.fields[i].raw);
    }
  }
  out.Append(rowEnd);
}

int TableRun::Run(unsigned long long inputSize) {
  if (int code = Prepare(); code != 0) return code;
  Progress progress(IsTerminal(stderr), inputSize);
  long long rows = 0;
  std::string message;
  int exitCode = 0;
  CsvStatus status;
  while ((status = reader.Next(record)) == CsvStatus::RECORD) {
    if (++rows % PROGRESS_ROWS == 0) progress.Update(rows, reader.BytesRead());
    if (record.raw.empty() && record.fields.size() == 1) {
      out.Append(record.lineEnd);  // blank lines pass through
      continue;
    }
    if (EvaluateRow(message, exitCode)) {
      WriteRow(&values[assignedVariable]);
      continue;
    }
    progress.Clear();
    if (!errors.Report(message, exitCode)) break;
    if (errors.WriteEmpty()) WriteRow(nullptr);
  }
  progress.Clear();
  if (status == CsvStatus::FAILED) {
    out.Flush();
    Complain(reader.Error());
    return EXIT_IO_ERROR;
  }
  if (!out.Flush()) {
    Complain(std::string("cannot write the output: ") + std::strerror(errno));
    return EXIT_IO_ERROR;
  }
  return errors.Finish();
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

}  // namespace

int RunTable(const Options& options) {
  std::FILE* input = stdin;
  unsigned long long inputSize = 0;
  if (options.inputPath == "-") {
    UseBinaryMode(stdin);
  } else {
    input = std::fopen(options.inputPath.c_str(), "rb");
    if (input == nullptr) {
      Complain("cannot open " + options.inputPath + ": " + std::strerror(errno));
      return EXIT_NO_INPUT;
    }
    std::error_code error;
    inputSize = std::filesystem::file_size(options.inputPath, error);
    if (error) inputSize = 0;
    if (!options.outputPath.empty() && SameFile(options.inputPath, options.outputPath)) {
      std::fclose(input);
      return UsageError("-o " + options.outputPath + " would overwrite the input while reading it");
    }
  }
  std::FILE* output = OpenOutput(options.outputPath);
  int code = EXIT_CANNOT_CREATE;
  if (output != nullptr) {
    {
      TableRun run(options, input, output);
      code = run.Run(inputSize);
    }
    if (output != stdout && std::fclose(output) != 0 && code == 0) {
      Complain("cannot write " + options.outputPath + ": " + std::strerror(errno));
      code = EXIT_IO_ERROR;
    }
  }
  if (input != stdin) std::fclose(input);
  return code;
}

}  // namespace kalo::cli
