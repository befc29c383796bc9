// --csv: the equations over every row of a table. Rows gather in a block: the columns the
// equations read are parsed into one array per variable, the row's text is kept to be copied
// through around the results, and the block is evaluated in one call per equation. Memory stays
// that of one block however long the table is.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "tools/block.h"
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
// How many column names a message about an unknown name lists.
constexpr size_t NAMES_SHOWN = 20;

std::string Trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Shortened(std::string_view text) {
  constexpr size_t LIMIT = 40;
  return text.size() <= LIMIT ? std::string(text) : std::string(text.substr(0, LIMIT)) + "...";
}

bool Contains(const std::vector<std::string>& names, std::string_view name) {
  return std::any_of(names.begin(), names.end(),
                     [name](const std::string& known) { return SameName(known, name); });
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

// A column the results replace, and the variable whose value goes there.
struct Replaced {
  int column;
  int variable;
};

// A row kept in the block: its text (line end included) and where each replaced field lies.
struct StoredRow {
  size_t offset;
  size_t rawSize;
  size_t size;
  long long line;
};

class TableRun {
 public:
  TableRun(const Options& runOptions, std::FILE* input)
      : options(runOptions), reader(input, runOptions.delimiter), errors(runOptions.onError) {}

  int Run(unsigned long long inputSize);

 private:
  int ReadHeader();
  int DeclareColumns();
  int Compile();
  int PlaceResults();
  void WriteHeader();
  // False when the record cannot be evaluated, with `message` and `exitCode` set.
  bool CheckShape(std::string& message) const;
  bool ReadInputs(long row, std::string& message) const;
  void Keep();
  bool Evaluate();
  void WriteLine(std::string_view raw, const size_t* spans, long row, std::string_view end);
  void WriteRagged();
  bool Fail(const std::string& message, int exitCode, bool stored, long row);
  std::string Cell(int column) const;
  std::string Where() const { return "line " + std::to_string(record.line) + ", "; }

  const Options& options;
  CsvReader reader;
  CsvRecord record;
  RowErrors errors;
  Variables variables;
  Program program;
  std::vector<std::string> columnNames;     // as written, for messages
  std::vector<std::string> columnIds;       // as equations read them
  std::vector<std::pair<int, int>> inputs;  // {variable, column} read from each row
  std::vector<bool> isInput;
  std::vector<Replaced> replaced;  // in column order
  std::vector<int> appendedVariables;
  std::vector<std::string> appendedNames;
  std::string lineEnd;  // for rows that end without one
  OutputTarget target;
  std::unique_ptr<OutputBuffer> out;
  std::unique_ptr<Block> block;
  // The block's rows: their texts, one after another, and two offsets per replaced field.
  std::string texts;
  std::vector<StoredRow> rows;
  std::vector<size_t> spans;
  std::vector<size_t> recordSpans;
};

std::string TableRun::Cell(int column) const {
  std::string text = "column " + std::to_string(column + 1);
  if (column < static_cast<int>(columnNames.size()) && !columnNames[column].empty()) {
    text += " (" + columnNames[column] + ")";
  }
  return text;
}

int TableRun::ReadHeader() {
  CsvStatus status = reader.Next(record);
  if (status == CsvStatus::FAILED) {
    Complain(reader.Error());
    return EXIT_IO_ERROR;
  }
  if (options.noHeader && (status == CsvStatus::END || record.raw.empty())) {
    Complain(status == CsvStatus::END ? "the table is empty"
                                      : "line 1: blank; without a header the first row sets "
                                        "the number of columns");
    return EXIT_DATA_ERROR;
  }
  if (status == CsvStatus::END || record.raw.empty()) {
    Complain(
        "line 1: missing header row; the first line must name the columns, such as "
        "Volts,Amps");
    return EXIT_DATA_ERROR;
  }
  if (record.badField >= 0 && !options.noHeader) {
    Complain("line 1, column " + std::to_string(record.badField + 1) + ": " + record.problem);
    return EXIT_DATA_ERROR;
  }
  bool allNumbers = true;
  for (const CsvField& field : record.fields) {
    std::string name =
        options.noHeader ? "c" + std::to_string(columnNames.size() + 1) : Trimmed(field.Value());
    if (columnNames.empty() && name.compare(0, BYTE_ORDER_MARK.size(), BYTE_ORDER_MARK) == 0) {
      name.erase(0, BYTE_ORDER_MARK.size());
    }
    double number;
    allNumbers = allNumbers && ParseNumber(name, number);
    columnNames.push_back(name);
    columnIds.push_back(IdentifierFor(name));
  }
  if (allNumbers) {
    Complain("line 1: missing header row; found the number " + Shortened(columnNames[0]) +
             " where the first line should name the columns, such as Volts,Amps (or use "
             "--no-header)");
    return EXIT_DATA_ERROR;
  }
  lineEnd = record.lineEnd.empty() ? "\n" : std::string(record.lineEnd);
  return 0;
}

// Declares the columns the equations read, under the names the header maps to.
int TableRun::DeclareColumns() {
  std::vector<std::string> used;
  for (const std::string& text : options.equations) {
    for (const std::string& name : NamesUsed(text)) used.push_back(name);
  }
  for (int column = 0; column < static_cast<int>(columnIds.size()); ++column) {
    const std::string& id = columnIds[column];
    if (id.empty() || !Contains(used, id)) continue;
    if (id.size() > MAX_NAME_LENGTH) {
      Complain("line 1: " + Cell(column) + " reads as " + id + ", longer than the " +
               std::to_string(MAX_NAME_LENGTH) + " characters of a name");
      return EXIT_DATA_ERROR;
    }
    int variable = variables.Declare(id, 0);
    if (variable < 0) {
      int first = inputs[static_cast<size_t>(variables.Find(id))].second;
      Complain("line 1: " + Cell(first) + " and " + Cell(column) + " both read as " + id +
               "; the equation cannot tell them apart");
      return EXIT_DATA_ERROR;
    }
    inputs.emplace_back(variable, column);
  }
  for (const Assignment& constant : options.assignments) {
    if (Contains(columnIds, constant.name)) {
      return UsageError(constant.name + "=... names a column of the table");
    }
    if (variables.Declare(constant.name, constant.value) < 0) {
      return UsageError(constant.name + "=... is given twice");
    }
  }
  return 0;
}

int TableRun::Compile() {
  if (program.Compile(options.equations, variables, false, options.units)) return 0;
  Complain(program.Error());
  if (program.Error().find(UNDEFINED_NOTE) != std::string::npos) {
    std::string names;
    for (size_t i = 0; i < columnNames.size() && i < NAMES_SHOWN; ++i) {
      names += (i > 0 ? ", " : "") + columnNames[i];
      if (columnIds[i] != columnNames[i]) names += " as " + columnIds[i];
    }
    Complain("the table's columns are: " + names +
             (columnNames.size() > NAMES_SHOWN ? ", ..." : ""));
  }
  return EXIT_COMPILE_ERROR;
}

// Each assigned variable's result goes over the one column read under its name, or is
// appended after the last.
int TableRun::PlaceResults() {
  for (size_t k = 0; k < program.Count(); ++k) {
    int variable = program.Assigned(k);
    if (std::any_of(replaced.begin(), replaced.end(),
                    [variable](Replaced r) { return r.variable == variable; }) ||
        std::count(appendedVariables.begin(), appendedVariables.end(), variable) > 0) {
      continue;
    }
    const std::string& name = variables.Name(static_cast<size_t>(variable));
    int found = -1;
    for (int column = 0; column < static_cast<int>(columnIds.size()); ++column) {
      if (!SameName(columnIds[column], name)) continue;
      if (found >= 0) {
        Complain("line 1: " + Cell(found) + " and " + Cell(column) + " both read as " + name +
                 "; the result cannot replace both");
        return EXIT_DATA_ERROR;
      }
      found = column;
    }
    if (found >= 0) {
      replaced.push_back({found, variable});
    } else {
      appendedVariables.push_back(variable);
      appendedNames.emplace_back(AssignedName(options.equations[k]));
    }
  }
  std::sort(replaced.begin(), replaced.end(),
            [](Replaced a, Replaced b) { return a.column < b.column; });
  isInput.assign(variables.Count(), false);
  for (const auto& input : inputs) isInput[static_cast<size_t>(input.first)] = true;
  block = std::make_unique<Block>(variables);
  return 0;
}

void TableRun::WriteHeader() {
  if (options.noHeader) return;
  out->Append(record.raw);
  for (const std::string& name : appendedNames) {
    out->Append(options.delimiter);
    out->Append(name);
  }
  out->Append(lineEnd);
}

bool TableRun::CheckShape(std::string& message) const {
  if (record.badField >= 0) {
    message = Where() + Cell(record.badField) + ": " + record.problem;
    return false;
  }
  auto fieldCount = static_cast<int>(record.fields.size());
  auto columnCount = static_cast<int>(columnNames.size());
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
  return true;
}

bool TableRun::ReadInputs(long row, std::string& message) const {
  for (auto [variable, column] : inputs) {
    std::string_view text = record.fields[static_cast<size_t>(column)].Inner();
    NumberRead read = ReadNumber(text, block->Column(static_cast<size_t>(variable))[row]);
    if (read == NumberRead::OK) continue;
    if (text.find_first_not_of(" \t") == std::string_view::npos) {
      message = Where() + Cell(column) + ": empty cell";
    } else {
      message = Where() + Cell(column) + ": '" + Shortened(text) + "' is " +
                (read == NumberRead::OUT_OF_RANGE ? "out of range" : "not a number");
    }
    return false;
  }
  return true;
}

// Keeps the record as the block's next row.
void TableRun::Keep() {
  size_t offset = texts.size();
  texts.append(record.raw);
  texts.append(record.lineEnd);
  rows.push_back({offset, record.raw.size(), texts.size() - offset, record.line});
  for (const Replaced& r : replaced) {
    std::string_view field = record.fields[static_cast<size_t>(r.column)].raw;
    auto start = static_cast<size_t>(field.data() - record.raw.data());
    spans.push_back(start);
    spans.push_back(start + field.size());
  }
}

// Writes a row around its results; row -1 leaves them empty.
void TableRun::WriteLine(std::string_view raw, const size_t* fieldSpans, long row,
                         std::string_view end) {
  size_t at = 0;
  for (size_t i = 0; i < replaced.size(); ++i) {
    out->Append(raw.substr(at, fieldSpans[2 * i] - at));
    if (row >= 0) {
      out->AppendNumber(block->Column(static_cast<size_t>(replaced[i].variable))[row],
                        options.digits);
    }
    at = fieldSpans[2 * i + 1];
  }
  out->Append(raw.substr(at));
  for (int variable : appendedVariables) {
    out->Append(options.delimiter);
    if (row >= 0)
      out->AppendNumber(block->Column(static_cast<size_t>(variable))[row], options.digits);
  }
  out->Append(end.empty() ? std::string_view(lineEnd) : end);
}

// A ragged row left in with empty results, padded or cut to the header's width, so that the
// output stays rectangular.
void TableRun::WriteRagged() {
  size_t fieldCount = record.fields.size();
  size_t columnCount = columnNames.size();
  size_t outputCount = columnCount + appendedVariables.size();
  size_t next = 0;
  for (size_t i = 0; i < outputCount; ++i) {
    if (i > 0) out->Append(options.delimiter);
    bool isResult = next < replaced.size() && static_cast<size_t>(replaced[next].column) == i;
    next += isResult ? 1 : 0;
    if (!isResult && i < fieldCount && i < columnCount) out->Append(record.fields[i].raw);
  }
  out->Append(record.lineEnd.empty() ? std::string_view(lineEnd) : record.lineEnd);
}

// Evaluates the rows kept so far and writes them out; false when a row stopped the run.
bool TableRun::Evaluate() {
  auto count = static_cast<long>(rows.size());
  if (count == 0) return true;
  block->Reset(count, isInput);
  bool going = block->Run(
      program, count,
      [this](long row) {
        const StoredRow& kept = rows[static_cast<size_t>(row)];
        std::string_view text(texts.data() + kept.offset, kept.size);
        WriteLine(text.substr(0, kept.rawSize), spans.data() + 2 * replaced.size() * row, row,
                  text.substr(kept.rawSize));
      },
      [this](long row, const std::string& message) {
        return Fail("line " + std::to_string(rows[static_cast<size_t>(row)].line) + ": " + message,
                    EXIT_MATH_ERROR, true, row);
      });
  texts.clear();
  rows.clear();
  spans.clear();
  return going;
}

// Reports a row that cannot be evaluated: kept in the block (`stored`) or the current record.
bool TableRun::Fail(const std::string& message, int exitCode, bool stored, long row) {
  if (!errors.Report(message, exitCode)) return false;
  if (!errors.WriteEmpty()) return true;
  if (stored) {
    const StoredRow& kept = rows[static_cast<size_t>(row)];
    std::string_view text(texts.data() + kept.offset, kept.size);
    WriteLine(text.substr(0, kept.rawSize), spans.data() + 2 * replaced.size() * row, -1,
              text.substr(kept.rawSize));
  } else if (record.fields.size() == columnNames.size() && record.badField < 0) {
    recordSpans.clear();
    for (const Replaced& r : replaced) {
      std::string_view field = record.fields[static_cast<size_t>(r.column)].raw;
      auto start = static_cast<size_t>(field.data() - record.raw.data());
      recordSpans.push_back(start);
      recordSpans.push_back(start + field.size());
    }
    WriteLine(record.raw, recordSpans.data(), -1, record.lineEnd);
  } else {
    WriteRagged();
  }
  return true;
}

int TableRun::Run(unsigned long long inputSize) {
  if (int code = ReadHeader(); code != 0) return code;
  if (int code = DeclareColumns(); code != 0) return code;
  if (int code = Compile(); code != 0) return code;
  if (int code = PlaceResults(); code != 0) return code;
  if (!target.Open(options.outputPath)) return EXIT_CANNOT_CREATE;
  out = std::make_unique<OutputBuffer>(target.Stream());
  WriteHeader();
  Progress progress(IsTerminal(stderr), inputSize);
  long long count = 0;
  std::string message;
  bool going = true;
  // Without a header the first record is already a row.
  CsvStatus status = options.noHeader ? CsvStatus::RECORD : reader.Next(record);
  for (; going && status == CsvStatus::RECORD; status = reader.Next(record)) {
    if (++count % PROGRESS_ROWS == 0) progress.Update(count, reader.BytesRead());
    if (record.raw.empty() && record.fields.size() == 1) {
      going = Evaluate();
      if (going) out->Append(record.lineEnd);  // blank lines pass through
      continue;
    }
    auto row = static_cast<long>(rows.size());
    if (CheckShape(message) && ReadInputs(row, message)) {
      Keep();
      if (row + 1 == BLOCK_ROWS) going = Evaluate();
      continue;
    }
    progress.Clear();
    going = Evaluate() && Fail(message, EXIT_DATA_ERROR, false, -1);
  }
  if (going) Evaluate();
  progress.Clear();
  int code = errors.Finish();
  if (status == CsvStatus::FAILED) {
    Complain(reader.Error());
    code = EXIT_IO_ERROR;
  }
  out->Flush();
  out.reset();
  return target.Finish(code);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  return std::filesystem::equivalent(a, b, error) && !error;
}

// Opens the table named by --csv; null after a complaint, with `code` set.
std::FILE* OpenInput(const Options& options, unsigned long long& inputSize, int& code) {
  code = EXIT_NO_INPUT;
  if (options.inputPath == "-") {
    UseBinaryMode(stdin);
    return stdin;
  }
  std::error_code error;
  if (std::filesystem::is_directory(options.inputPath, error)) {
    Complain("cannot open " + options.inputPath + ": it is a folder, not a table");
    return nullptr;
  }
  std::FILE* input = std::fopen(options.inputPath.c_str(), "rb");
  if (input == nullptr) {
    Complain("cannot open " + options.inputPath + ": " + std::strerror(errno));
    return nullptr;
  }
  inputSize = std::filesystem::file_size(options.inputPath, error);
  if (error) inputSize = 0;
  if (!options.outputPath.empty() && SameFile(options.inputPath, options.outputPath)) {
    std::fclose(input);
    code = UsageError("-o " + options.outputPath + " would overwrite the input while reading it");
    return nullptr;
  }
  return input;
}

}  // namespace

int RunTable(const Options& options) {
  unsigned long long inputSize = 0;
  int code = 0;
  std::FILE* input = OpenInput(options, inputSize, code);
  if (input == nullptr) return code;
  {
    TableRun run(options, input);
    code = run.Run(inputSize);
  }
  if (input != stdin) std::fclose(input);
  return code;
}

}  // namespace kalo::cli
