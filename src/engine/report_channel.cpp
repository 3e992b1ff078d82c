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
  std::string text;
  if (format) {
    va_list args;
    va_start(args, format);
    text = FormatV(format, args);
    va_end(args);
  }
  ReportText(message, value, text);
}

}  // namespace mirk3
