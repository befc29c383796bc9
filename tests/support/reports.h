// Captures internal-error reports for the duration of a test, instead of standard error.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace kalo::testing {

class ReportRecorder {
 public:
  ReportRecorder() { previous_ = platform::SetReportHandler(&Record, 0); }
  ~ReportRecorder() {
    platform::SetReportHandler(previous_, 0);
    Reports().clear();
  }
  ReportRecorder(const ReportRecorder&) = delete;
  ReportRecorder& operator=(const ReportRecorder&) = delete;

  static std::vector<std::string>& Reports() {
    static std::vector<std::string> reports;
    return reports;
  }
  size_t Count() const { return Reports().size(); }

 private:
  static void Record(const char* text, long /*userValue*/) { Reports().emplace_back(text); }
  platform::ReportHandler previous_;
};

}  // namespace kalo::testing
