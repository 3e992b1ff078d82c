#include "engine/report_channel.h"

#include <cstdarg>

#include "base/text.h"

namespace mirk3 {

void ReportChannel::ReportText(int message, int64_t value, const std::string& text) {
  EngineReport report;
  report.port = port_;
  report.text = TruncateChars(text, REPORT_TEXT_CHARS);
  report.value = value;
  if (message == WM_DL_FAIL) ++failReports_;
  if (sink_) sink_->Send(message, report);
}

void ReportChannel::Report(int message, int64_t value, const char* format, ...) {
  va_list args;
  va_start(args, format);
  ReportV(message, value, format, args);
  va_end(args);
}

void ReportChannel::ReportV(int message, int64_t value, const char* format, va_list args) {
  ReportText(message, value, format ? FormatV(format, args) : std::string());
}

}  // namespace mirk3
