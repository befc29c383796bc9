// Arbitrary bytes through the command's table reader, held against a plain reading, and its number
// parser, whose numbers must print as text that reads back the same. An odd first byte puts a long
// line first, so that the rest falls across the reader's first buffer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/csv_reader.h"
#include "tools/numbers.h"

namespace {

using namespace kalo::cli;

#define REQUIRE(condition) \
  ((condition) ? void() : (std::fprintf(stderr, "violated: %s\n", #condition), std::abort()))

void CheckNumber(const std::string& text) {
  double value = 0, back = 0;
  if (!ParseNumber(text, value)) return;
  char printed[NUMBER_TEXT_SIZE];
  char* end = FormatNumber(value, printed);
  REQUIRE(end > printed && end - printed < NUMBER_TEXT_SIZE);
  REQUIRE(ParseNumber(std::string_view(printed, static_cast<size_t>(end - printed)), back));
  REQUIRE(value != value ? back != back : std::memcmp(&value, &back, sizeof value) == 0);
}

// A record ends at the first line feed outside quotes; a quote opens a field only at its start,
// "" in it is a quote, and for `wellFormed` it closes and a comma or the end follows.
size_t ReadPlainly(std::string_view text, size_t from, std::vector<std::string>& values,
                   bool& wellFormed) {
  values.assign(1, "");
  wellFormed = true;
  enum { START, UNQUOTED, QUOTED, CLOSED } state = START;
  for (; from < text.size(); ++from) {
    char c = text[from];
    if (state == QUOTED) {
      bool doubled = c == '"' && from + 1 < text.size() && text[from + 1] == '"';
      state = c == '"' && !doubled ? CLOSED : QUOTED;
      if (state == QUOTED) values.back() += text[from += doubled];
    } else if (c == '\n') {
      break;
    } else if (c == ',') {
      values.emplace_back(), state = START;
    } else {
      wellFormed = wellFormed && state != CLOSED;
      state = state == START && c == '"' ? QUOTED : state == CLOSED ? CLOSED : UNQUOTED;
      if (state != QUOTED) values.back() += c;
    }
  }
  wellFormed = wellFormed && state != QUOTED;
  return from;
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
  long long line = 1;
  CsvStatus status;
  std::vector<std::string> values, read;
  bool wellFormed = true;
  while ((status = reader.Next(record)) == CsvStatus::RECORD) {
    REQUIRE(record.line == line);
    size_t length = record.raw.size() + record.lineEnd.size();
    REQUIRE(
        record.lineEnd == "\n" || record.lineEnd == "\r\n" ||
        (offset + length == input.size() && (record.lineEnd.empty() || record.lineEnd == "\r")));
    REQUIRE(input.compare(offset, length, std::string(record.raw) += record.lineEnd) == 0);
    // A CR before the line end is part of it.
    REQUIRE(record.lineEnd.find('\r') == 0 || record.raw.empty() || record.raw.back() != '\r');
    size_t feed = std::min(input.find('\n', offset), input.size());
    REQUIRE(
        (input.find('"', offset) >= feed ? feed : ReadPlainly(input, offset, values, wellFormed)) ==
        offset + length - (!record.lineEnd.empty() && record.lineEnd.back() == '\n'));
    // find, not a loop that the fuzzer would instrument byte by byte over the long line
    for (size_t at = offset; (at = input.find('\n', at)) < offset + length; ++at) ++line;
    offset += length;
    std::string joined;
    read.clear();
    for (const CsvField& field : record.fields) {
      joined.append(field.raw) += ',';
      read.push_back(field.Value());
      if (field.raw.size() <= 64) CheckNumber(read.back());
    }
    REQUIRE(joined == std::string(record.raw) + ',');
    REQUIRE(record.badField < static_cast<int>(record.fields.size()));
    if (record.raw.size() > 4096) continue;  // the long first line: plain, and slow to read again
    ReadPlainly(record.raw, 0, values, wellFormed);
    REQUIRE(wellFormed == (record.badField < 0) && (!wellFormed || read == values));
  }
  REQUIRE(status == CsvStatus::END && offset == input.size());
  std::fclose(stream);
  return 0;
}

#ifdef KALO_FUZZ_REGRESSION
int main(int argc, char** argv) {
  int count = 0;
  for (int i = 1; i < argc; ++i)
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      std::ifstream stream(entry.path(), std::ios::binary);
      const std::string bytes{std::istreambuf_iterator<char>(stream), {}};
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++count;
    }
  std::printf("%d inputs passed\n", count);
  return count == 0;
}
#endif
