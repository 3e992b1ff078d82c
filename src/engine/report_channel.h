// How one port's engine and its packet layer tell the station what happens: every event
// carries the port, its text is cut to what an event holds, and the first refusal shown in the
// step under way is kept for the step runner, which makes it the port's verdict. (A step that
// passes may have shown refusals of requests it went on from.)
#pragma once

#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>

#include "engine/engine_events.h"

namespace mirk3 {

class ReportChannel {
 public:
  ReportChannel(EngineObserver* observer, int port) : observer_(observer), port_(port) {}

  // Texts are used as they are (a file or partition name is never a format); the ...f forms
  // are printf-style.
  void Note(const std::string& text);
  void Notef(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Fail(int64_t code, const std::string& text);
  void Failf(int64_t code, const char* format, ...) __attribute__((format(printf, 3, 4)));
  void ShowProgress(uint64_t sent, const std::string& what);
  // Any other event.
  void Tell(EngineEvent event);

  int Port() const { return port_; }
  // A step begins: no refusal shown in it yet.
  void BeginStep() { stepFailure_.reset(); }
  // The first refusal shown since the step began, if any.
  const std::optional<FailureShown>& StepFailure() const { return stepFailure_; }
  // Refusals shown so far, for a caller that must know whether one request said why.
  int FailuresShown() const { return failuresShown_; }

 private:
  EngineObserver* observer_;
  int port_;
  std::optional<FailureShown> stepFailure_;
  int failuresShown_ = 0;
};

}  // namespace mirk3
