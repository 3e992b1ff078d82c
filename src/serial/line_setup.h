// How every serial line of the station is taken and given back: one exclusive open (lock and
// exclusive mode, no controlling terminal, never waiting), one termios set-up (raw, no flow
// control, no modem control, CLOCAL | CREAD, both queues purged) with what differs between the
// lines as parameters, and on release the termios the line was found with, put back before it
// is closed so that the next program finds the device as the system left it.
//
// The lines differ in their speed and frame and in what they do to the modem lines at open:
// the download line and the jig's set-up line drop DTR (the set-up line RTS as well), the
// jig's status line leaves both as the driver sets them until it lets the line go.
#pragma once

#include <termios.h>

#include <string>

#include "base/file.h"
#include "serial/line_error.h"

namespace mirk3 {

// Parity codes of a line setting, as the settings files name them.
inline constexpr int PARITY_NONE = 0;
inline constexpr int PARITY_ODD = 1;
inline constexpr int PARITY_EVEN = 2;
// Stop-bits codes: one, one and a half (taken as two here), two.
inline constexpr int STOP_BITS_ONE = 0;
inline constexpr int STOP_BITS_TWO = 2;

struct LineSetting {
  int baudRate = 115200;
  int byteSize = 8;  // 5..8
  int parity = PARITY_NONE;
  int stopBits = STOP_BITS_ONE;
};

// What the open does to a modem control line.
enum class ModemLine { Drop, AsDriverSets };

struct LineSetup {
  LineSetting setting;
  ModemLine dtr = ModemLine::Drop;
  ModemLine rts = ModemLine::AsDriverSets;
};

// One open serial line, owned: released (termios restored, exclusive mode lifted, closed) when
// it goes.
class SerialTerminal {
 public:
  SerialTerminal() = default;
  ~SerialTerminal() { Release(); }
  SerialTerminal(SerialTerminal&& other) noexcept;
  SerialTerminal& operator=(SerialTerminal&& other) noexcept;
  SerialTerminal(const SerialTerminal&) = delete;
  SerialTerminal& operator=(const SerialTerminal&) = delete;

  // Opens `path` non-blocking for this process's use alone and sets it up; a failed open
  // leaves nothing open and says why (ErrorNumber: the errno behind it).
  LineError Open(const std::string& path, const LineSetup& setup);
  bool IsOpen() const { return fd_.Valid(); }
  BorrowedFd Fd() const { return BorrowedFd(fd_); }
  // The errno behind the last failed open, 0 when none.
  int ErrorNumber() const { return errorNumber_; }

  // Discards what waits in both directions.
  void Purge();
  // Clears DTR; a terminal without modem lines (a pseudo-terminal) has none to clear.
  void DropDtr();
  // Gives the line back as it was found; harmless when not open.
  void Release();

 private:
  LineError Refuse(LineError why, int error);

  UniqueFd fd_;
  termios found_{};
  int errorNumber_ = 0;
};

}  // namespace mirk3
