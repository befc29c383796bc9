// Feeds arbitrary bytes to the command's table reader and number parser and checks what they
// promise: the records and their line ends give back every byte read, in order; the fields of a
// record joined by commas give back the record; line numbers count the line feeds before; every
// number read prints as text that reads back to the same double.
//
// The first byte chooses the layout: with its low bit set, a long first line pushes the rest of
// the input across the reader's first buffer, where records are cut in two and read on.
// Built with -fsanitize=fuzzer this is a libFuzzer target; otherwise KALO_FUZZ_REGRESSION gives
// it a main that runs every file of the seed corpus.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/csv_reader.h"
#include "tools/numbers.h"

#ifdef KALO_FUZZ_REGRESSION
#include <filesystem>
#include <fstream>
#include <iterator>
#endif

namespace {

using namespace kalo::cli;

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "kalo table fuzz invariant violated: %s\n", what);
  std::abort();
}

bool SameDouble(double a, double b) {
  return (a != a && b != b) || std::memcmp(&a, &b, sizeof a) == 0;
}

void CheckNumber(const std::string& text) {
  double value = 0;
  if (!ParseNumber(text, value)) return;
  char printed[NUMBER_TEXT_SIZE];
  char* end = FormatNumber(value, printed);
  Require(end > printed && end - printed < NUMBER_TEXT_SIZE, "number text fits");
  double back = 0;
  Require(ParseNumber(std::string_view(printed, static_cast<size_t>(end - printed)), back),
          "a printed number reads back");
  Require(SameDouble(value, back), "a printed number reads back to the same double");
}

// memchr, not a loop the fuzzer instruments comparison by comparison over the long first line.
long long LineFeeds(std::string_view text) {
  long long count = 0;
  const char* end = text.data() + text.size();
  for (const char* at = text.data(); at != end; ++at) {
    at = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)));
    if (at == nullptr) break;
    ++count;
  }
  return count;
}

// Where a record starting at `from` ends by the usual rules: at the first line feed outside
// quotes, where a quote opens a quoted field only at the start of a field; or at the end.
size_t PlainRecordEnd(const std::string& input, size_t from) {
  size_t feed = input.find('\n', from);
  if (input.find('"', from) >= feed) return std::min(feed, input.size());  // the long line's path
  bool inQuotes = false, fieldStart = true;
  for (size_t i = from; i < input.size(); ++i) {
    char c = input[i];
    if (inQuotes) {
      if (c == '"' && i + 1 < input.size() && input[i + 1] == '"') {
        ++i;  // "" inside quotes
      } else {
        inQuotes = c != '"';
      }
    } else if (c == '\n') {
      return i;
    } else {
      inQuotes = c == '"' && fieldStart;
      fieldStart = c == ',';
    }
  }
  return input.size();
}

// A plain reading of one record by the usual rules, to hold the reader against: whether every
// quoted field is closed and followed by a comma or the end, and each field's value.
bool ReadPlainly(std::string_view raw, std::vector<std::string>& values) {
  bool wellFormed = true;
  size_t i = 0;
  for (;;) {
    std::string value;
    if (i < raw.size() && raw[i] == '"') {
      bool closed = false;
      for (++i; i < raw.size() && !closed; ++i) {
        closed = raw[i] == '"' && (i + 1 == raw.size() || raw[i + 1] != '"');
        if (!closed) value += raw[i];
        if (raw[i] == '"' && !closed) ++i;
      }
      wellFormed = wellFormed && closed && (i == raw.size() || raw[i] == ',');
    }
    while (i < raw.size() && raw[i] != ',') value += raw[i++];
    values.push_back(value);
    if (i == raw.size()) return wellFormed;
    ++i;
  }
}

// The fields lie end to end in the record, one comma between neighbours.
void CheckRecord(const CsvRecord& record) {
  const char* at = record.raw.data();
  for (size_t i = 0; i < record.fields.size(); ++i) {
    const CsvField& field = record.fields[i];
    Require(field.raw.data() == at, "the fields make up the record");
    at += field.raw.size();
    Require(
        i + 1 == record.fields.size() ? at == record.raw.data() + record.raw.size() : *at++ == ',',
        "a comma separates fields");
    if (field.raw.size() <= 64) CheckNumber(field.Value());
  }
  Require(record.badField < static_cast<int>(record.fields.size()), "the bad field exists");
  if (record.raw.size() > 4096) return;  // the long first line: plain, and slow to read again
  std::vector<std::string> values;
  bool wellFormed = ReadPlainly(record.raw, values);
  Require(wellFormed == (record.badField < 0), "malformed exactly where the plain reading is");
  if (!wellFormed) return;
  Require(values.size() == record.fields.size(), "as many fields as the plain reading");
  for (size_t i = 0; i < values.size(); ++i) {
    Require(record.fields[i].Value() == values[i], "the values of the plain reading");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::string input;
  if ((data[0] & 1) != 0) input.assign((size_t{1} << 20) - 16 + data[0] / 8, 'x') += "\n";
  input.append(reinterpret_cast<const char*>(data) + 1, size - 1);
  CheckNumber(input.substr(0, 40));

  std::FILE* stream = fmemopen(input.data(), input.size(), "rb");
  if (stream == nullptr) return 0;
  CsvReader reader(stream);
  CsvRecord record;
  size_t offset = 0;  // where the record should start in the input
  long long lineFeeds = 0;
  CsvStatus status;
  while ((status = reader.Next(record)) == CsvStatus::RECORD) {
    Require(record.line == 1 + lineFeeds, "line numbers count");
    size_t length = record.raw.size() + record.lineEnd.size();
    Require(
        record.lineEnd == "\n" || record.lineEnd == "\r\n" ||
            (offset + length == input.size() && (record.lineEnd.empty() || record.lineEnd == "\r")),
        "a record ends at a line feed or at the end of the input");
    Require(
        offset + length <= input.size() &&
            input.compare(offset, record.raw.size(), record.raw) == 0 &&
            input.compare(offset + record.raw.size(), record.lineEnd.size(), record.lineEnd) == 0,
        "the records give back the input in order");
    bool fed = !record.lineEnd.empty() && record.lineEnd.back() == '\n';
    Require(PlainRecordEnd(input, offset) == offset + length - fed,
            "records end where they should");
    offset += length;
    lineFeeds += LineFeeds(record.raw) + LineFeeds(record.lineEnd);
    CheckRecord(record);
  }
  Require(status == CsvStatus::END, "a short input never fails");
  Require(offset == input.size(), "the records give back every byte");
  std::fclose(stream);
  return 0;
}

#ifdef KALO_FUZZ_REGRESSION
// Runs each file of each directory named once; the invariants abort.
int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    for (const fs::directory_entry& entry : fs::directory_iterator(argv[i])) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    std::ifstream stream(file, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(stream),
                            std::istreambuf_iterator<char>()};
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs passed\n", files.size());
  return files.empty() ? 1 : 0;
}
#endif
