// How one port's engine and its packet layer tell the station what happens: every report
// carries the port, its text is cut to what a report holds, and failure reports are counted
// so that a failing step that has not said why can be made to.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <string>

#include "engine/engine_report.h"

namespace mirk3 {

class ReportChannel {
 public:
  ReportChannel(ReportSink* sink, int port) : sink_(sink), port_(port) {}

  // The text is used as it is (a file or partition name is never a format).
  void ReportText(int message, int64_t value, const std::string& text);
  // printf-style text; no text when `format` is null.
  void Report(int message, int64_t value, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  void ReportV(int message, int64_t value, const char* format, va_list args);

  int Port() const { return port_; }
  // Failure reports sent so far.
  int FailReports() const { return failReports_; }

 private:
  ReportSink* sink_;
  int port_;
  int failReports_ = 0;
};

}  // namespace mirk3
