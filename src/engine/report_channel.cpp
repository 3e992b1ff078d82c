#include "engine/report_channel.h"

#include <cstdarg>

#include "base/text.h"

namespace mirk3 {

void ReportChannel::Note(const std::string& text) {
  Tell(mirk3::Note{TruncateChars(text, REPORT_TEXT_CHARS)});
}

void ReportChannel::Notef(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Note(FormatV(format, args));
  va_end(args);
}

void ReportChannel::Fail(int64_t code, const std::string& text) {
  FailureShown failure{code, TruncateChars(text, REPORT_TEXT_CHARS)};
  if (!stepFailure_) stepFailure_ = failure;
  ++failuresShown_;
  Tell(std::move(failure));
}

void ReportChannel::Failf(int64_t code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  Fail(code, FormatV(format, args));
  va_end(args);
}

void ReportChannel::ShowProgress(uint64_t sent, const std::string& what) {
  Tell(Progress{TruncateChars(what, REPORT_TEXT_CHARS), sent});
}

void ReportChannel::Tell(EngineEvent event) {
  if (observer_) observer_->Tell(PortEvent{port_, std::move(event)});
}

}  // namespace mirk3
