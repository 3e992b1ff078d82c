#include "engine/engine_line.h"

namespace mirk3 {

EngineLine::EngineLine(const EngineContext& context)
    : serial_(context.timing, context.portDir.empty() ? DefaultPortDir() : context.portDir),
      given_(context.line) {}

bool EngineLine::OpenPort(int port, const OpenAttemptFailed& onFailedAttempt) {
  if (!given_) return serial_.OpenPort(port, onFailedAttempt);
  givenOpen_ = true;
  return true;
}

std::string EngineLine::OpenProblem() const { return given_ ? "" : serial_.OpenProblem(); }

bool EngineLine::WriteData(const void* buffer, int length) {
  return Active().WriteData(buffer, length);
}

bool EngineLine::WriteWhileWaiting(const void* buffer, int length,
                                   const std::function<bool()>& whileBlocked) {
  return Active().WriteWhileWaiting(buffer, length, whileBlocked);
}

bool EngineLine::ReadData(void* buffer, int length) { return Active().ReadData(buffer, length); }

bool EngineLine::ClosePort() {
  if (!given_) return serial_.ClosePort();
  // A handed line is given up once, as a port is closed once.
  if (!givenOpen_) return false;
  givenOpen_ = false;
  return given_->ClosePort();
}

LineError EngineLine::LastError() const {
  return given_ ? given_->LastError() : serial_.LastError();
}

}  // namespace mirk3
