// Buffered writing to a C stream: the table loop appends pieces of rows here and the stream sees
// one large write per buffer, never one per field.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace kalo::cli {

class OutputBuffer {
 public:
  explicit OutputBuffer(std::FILE* output);
  ~OutputBuffer();
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  void Append(std::string_view text) {
    if (text.size() > static_cast<size_t>(limit - cursor)) {
      AppendLong(text);
      return;
    }
    std::memcpy(cursor, text.data(), text.size());
    cursor += text.size();
  }
  void Append(char c) {
    if (cursor == limit) Flush();
    *cursor++ = c;
  }
  // `digits` as FormatNumber takes them.
  void AppendNumber(double value, int digits);

  // Hands everything to the stream and flushes it; false once any write has failed.
  bool Flush();
  bool Failed() const { return failed; }

 private:
  void AppendLong(std::string_view text);

  std::FILE* stream;
  std::vector<char> storage;
  char* cursor;
  char* limit;
  bool failed = false;
};

}  // namespace kalo::cli
