#include "tools/output_buffer.h"

#include <cstring>

#include "tools/numbers.h"

namespace kalo::cli {

namespace {
constexpr size_t BUFFER_SIZE = size_t{1} << 18;
}

OutputBuffer::OutputBuffer(std::FILE* output) : stream(output), storage(BUFFER_SIZE) {
  cursor = storage.data();
  limit = storage.data() + storage.size();
}

OutputBuffer::~OutputBuffer() { Flush(); }

void OutputBuffer::AppendNumber(double value, int digits) {
  if (limit - cursor < NUMBER_TEXT_SIZE) Flush();
  cursor = FormatNumber(value, cursor, digits);
}

void OutputBuffer::AppendLong(std::string_view text) {
  Flush();
  if (text.size() <= storage.size()) {
    std::memcpy(cursor, text.data(), text.size());
    cursor += text.size();
  } else if (std::fwrite(text.data(), 1, text.size(), stream) != text.size()) {
    failed = true;
  }
}

bool OutputBuffer::Flush() {
  auto size = static_cast<size_t>(cursor - storage.data());
  if (size != 0 && std::fwrite(storage.data(), 1, size, stream) != size) failed = true;
  cursor = storage.data();
  if (std::fflush(stream) != 0) failed = true;
  return !failed;
}

}  // namespace kalo::cli
