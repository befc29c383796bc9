// A streaming reader of comma-separated (or otherwise separated) records. It holds one buffer,
// refilled in place, so a table of any length is read in constant memory; a record only has to fit
// in the buffer, which grows up to MAX_RECORD_SIZE for the rare huge one.
//
// Accepted: fields in double quotes with "" for a quote and with embedded separators and line
// breaks, LF or CRLF line ends, a last line without an end, a UTF-8 byte order mark before the
// header (which the caller removes from the first name).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kalo::cli {

constexpr size_t MAX_RECORD_SIZE = size_t{64} << 20;

struct CsvField {
  std::string_view raw;  // the field as written, quotes included
  bool quoted;

  // The text between the quotes of a quoted field, with "" still doubled.
  std::string_view Inner() const { return quoted ? raw.substr(1, raw.size() - 2) : raw; }
  // The field's value: quotes removed and "" turned into ".
  std::string Value() const;
};

struct CsvRecord {
  std::string_view raw;           // the record without its line end
  std::string_view lineEnd;       // "\n", "\r\n" or empty at the end of the input
  long long line = 0;             // the line the record starts on, from 1
  std::vector<CsvField> fields;   // reused from record to record
  int badField = -1;              // the column (from 0) of a malformed field, or -1
  const char* problem = nullptr;  // what is wrong with it
};

enum class CsvStatus { RECORD, END, FAILED };

class CsvReader {
 public:
  // `separator` splits the fields: ',' for CSV, '\t' for TSV, or any other byte but a quote.
  explicit CsvReader(std::FILE* stream, char separator = ',');

  // Reads the next record. A record with a malformed field still comes back as RECORD, with
  // badField and problem set, so that the caller decides whether it ends the run. FAILED means
  // the input cannot be read on; Error() says why.
  CsvStatus Next(CsvRecord& record);
  const std::string& Error() const { return error; }
  unsigned long long BytesRead() const { return bytesRead; }

 private:
  bool Refill();
  size_t FindQuotedEnd(size_t from) const;
  void SplitPlain(CsvRecord& record) const;
  void SplitQuoted(CsvRecord& record) const;

  std::FILE* input;
  char separator;
  std::vector<char> buffer;
  size_t begin = 0;  // first unread byte
  size_t end = 0;    // end of the bytes read so far
  bool atEof = false;
  long long line = 1;
  unsigned long long bytesRead = 0;
  std::string error;
};

}  // namespace kalo::cli
