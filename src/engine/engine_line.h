// The line an engine speaks over: the serial port of its port number, or a line handed to it
// through its context (a fuzzer's phone, a test's scripted peer). A handed line has no device
// to open: it counts as open from the connection step until the engine gives it up.
#pragma once

#include <memory>
#include <string>

#include "engine/engine_context.h"
#include "serial/byte_line.h"
#include "serial/serial_line.h"

namespace mirk3 {

class EngineLine final : public ByteLine {
 public:
  explicit EngineLine(const EngineContext& context);

  bool OpenPort(int port, const OpenAttemptFailed& onFailedAttempt);
  bool IsOpen() const { return given_ ? givenOpen_ : serial_.IsOpen(); }
  std::string OpenProblem() const;

  bool WriteData(const void* buffer, int length) override;
  bool WriteWhileWaiting(const void* buffer, int length,
                         const std::function<bool()>& whileBlocked) override;
  bool ReadData(void* buffer, int length) override;
  bool ClosePort() override;
  LineError LastError() const override;

 private:
  ByteLine& Active() { return given_ ? *given_ : static_cast<ByteLine&>(serial_); }

  CWinRs232cSync serial_;
  std::shared_ptr<ByteLine> given_;
  bool givenOpen_ = false;
};

}  // namespace mirk3
