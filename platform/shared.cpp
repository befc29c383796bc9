// The services that are the same on every OS: the report handler and the reading of numbers.
#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>

#include "platform/backend.h"
#include "platform/platform.h"

namespace kalo::platform {
namespace {

struct Handler {
  ReportHandler function;
  long userValue;
};

// The handler and its value change together; both live in one of two static slots so that a
// report never reads a handler paired with another handler's value.
Handler handlerSlots[2];
std::atomic<int> handlerSlot{-1};

}  // namespace

void DeliverReport(const char* text) {
  const int slot = handlerSlot.load(std::memory_order_acquire);
  if (slot >= 0) {
    const Handler handler = handlerSlots[slot];
    handler.function(text, handler.userValue);
    return;
  }
  backend::ShowReport(text);
}

ReportHandler SetReportHandler(ReportHandler handler, long userValue) {
  const int old = handlerSlot.load(std::memory_order_acquire);
  const ReportHandler previous = old >= 0 ? handlerSlots[old].function : nullptr;
  if (handler == nullptr) {
    handlerSlot.store(-1, std::memory_order_release);
  } else {
    const int next = old == 0 ? 1 : 0;
    handlerSlots[next] = {handler, userValue};
    handlerSlot.store(next, std::memory_order_release);
  }
  return previous;
}

double ReadDecimal(const char* begin, const char* end) {
  double value = 0.0;
  const std::from_chars_result read = std::from_chars(begin, end, value);
  if (read.ec != std::errc::result_out_of_range) return value;
  // Out of range: let the C library produce infinity or the correctly rounded subnormal.
  char copy[512];
  const size_t length = std::min(static_cast<size_t>(end - begin), sizeof copy - 1);
  std::memcpy(copy, begin, length);
  copy[length] = '\0';
  return backend::ReadDecimalInCLocale(copy);
}

}  // namespace kalo::platform
