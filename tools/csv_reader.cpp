#include "tools/csv_reader.h"

#include <algorithm>
#include <cstring>

namespace kalo::cli {

namespace {
constexpr size_t INITIAL_BUFFER_SIZE = size_t{1} << 20;
constexpr size_t NOT_FOUND = static_cast<size_t>(-1);
constexpr char QUOTE = '"';
}  // namespace

std::string CsvField::Value() const {
  std::string value;
  std::string_view inner = Inner();
  value.reserve(inner.size());
  for (size_t i = 0; i < inner.size(); ++i) {
    value += inner[i];
    if (quoted && inner[i] == QUOTE) ++i;  // "" stands for one quote
  }
  return value;
}

CsvReader::CsvReader(std::FILE* stream, char fieldSeparator)
    : input(stream), separator(fieldSeparator), buffer(INITIAL_BUFFER_SIZE) {}

bool CsvReader::Refill() {
  if (begin > 0) {
    std::memmove(buffer.data(), buffer.data() + begin, end - begin);
    end -= begin;
    begin = 0;
  }
  if (end == buffer.size()) {
    if (buffer.size() >= MAX_RECORD_SIZE) {
      error = "line " + std::to_string(line) + ": a record longer than " +
              std::to_string(MAX_RECORD_SIZE >> 20) + " MiB (an unmatched quote?)";
      return false;
    }
    buffer.resize(buffer.size() * 2);
  }
  size_t count = std::fread(buffer.data() + end, 1, buffer.size() - end, input);
  if (count == 0) {
    if (std::ferror(input)) {
      error = "cannot read the input after line " + std::to_string(line - 1);
      return false;
    }
    atEof = true;
  }
  end += count;
  bytesRead += count;
  return true;
}

// A quote opens a quoted field only at the start of a field; elsewhere it is an ordinary
// character. Returns the record's line feed, or NOT_FOUND when the bytes read so far do not
// decide where the record ends.
size_t CsvReader::FindQuotedEnd(size_t from) const {
  const char* data = buffer.data();
  bool atFieldStart = true;
  bool inQuotes = false;
  for (size_t i = from; i < end; ++i) {
    char c = data[i];
    if (inQuotes) {
      if (c != QUOTE) continue;
      if (i + 1 == end && !atEof) return NOT_FOUND;  // a "" may be cut in two
      if (i + 1 < end && data[i + 1] == QUOTE) {
        ++i;
      } else {
        inQuotes = false;
      }
    } else if (c == '\n') {
      return i;
    } else if (c == QUOTE && atFieldStart) {
      inQuotes = true;
      atFieldStart = false;
    } else {
      atFieldStart = c == separator;
    }
  }
  return NOT_FOUND;
}

CsvStatus CsvReader::Next(CsvRecord& record) {
  record.badField = -1;
  record.problem = nullptr;
  for (;;) {
    const char* data = buffer.data();
    const void* feed = std::memchr(data + begin, '\n', end - begin);
    size_t feedAt =
        feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - data) : end;
    bool hasQuote = std::memchr(data + begin, QUOTE, feedAt - begin) != nullptr;
    size_t recordEnd = hasQuote ? FindQuotedEnd(begin) : (feed != nullptr ? feedAt : NOT_FOUND);
    if (recordEnd == NOT_FOUND) {
      if (!atEof) {
        if (!Refill()) return CsvStatus::FAILED;
        continue;
      }
      if (begin == end) return CsvStatus::END;
      recordEnd = end;
    }
    record.raw = std::string_view(data + begin, recordEnd - begin);
    if (recordEnd < end) {
      record.lineEnd = std::string_view(data + recordEnd, 1);
      begin = recordEnd + 1;
    } else {
      record.lineEnd = std::string_view();
      begin = end;
    }
    if (!record.raw.empty() && record.raw.back() == '\r') {
      record.raw.remove_suffix(1);
      record.lineEnd =
          std::string_view(record.raw.data() + record.raw.size(), record.lineEnd.size() + 1);
    }
    record.line = line;
    ++line;
    if (hasQuote) {
      line += std::count(record.raw.begin(), record.raw.end(), '\n');
      SplitQuoted(record);
    } else {
      SplitPlain(record);
    }
    return CsvStatus::RECORD;
  }
}

void CsvReader::SplitPlain(CsvRecord& record) const {
  record.fields.clear();
  const char* p = record.raw.data();
  const char* last = p + record.raw.size();
  for (;;) {
    const void* found = std::memchr(p, separator, static_cast<size_t>(last - p));
    const char* stop = found != nullptr ? static_cast<const char*>(found) : last;
    record.fields.push_back({std::string_view(p, static_cast<size_t>(stop - p)), false});
    if (stop == last) return;
    p = stop + 1;
  }
}

void CsvReader::SplitQuoted(CsvRecord& record) const {
  record.fields.clear();
  const char* p = record.raw.data();
  const char* last = p + record.raw.size();
  auto markBad = [&record](const char* problem) {
    if (record.badField >= 0) return;
    record.badField = static_cast<int>(record.fields.size());
    record.problem = problem;
  };
  for (;;) {
    const char* start = p;
    bool quoted = false;
    if (p < last && *p == QUOTE) {
      for (++p; p < last; ++p) {
        if (*p != QUOTE) continue;
        if (p + 1 < last && p[1] == QUOTE) {
          ++p;
        } else {
          quoted = true;
          ++p;
          break;
        }
      }
      if (!quoted) markBad("the quoted field never ends");
      if (p < last && *p != separator) {
        markBad("text after the closing quote");
        quoted = false;
      }
    }
    const char* stop = std::find(p, last, separator);
    record.fields.push_back({std::string_view(start, static_cast<size_t>(stop - start)), quoted});
    if (stop == last) return;
    p = stop + 1;
  }
}

}  // namespace kalo::cli
