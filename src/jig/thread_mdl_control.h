// The station's voice towards the test jig. Status events (a phone at a position started,
// passed, failed) go over one line that is opened by the first event and then stays open; the
// jig answers every frame with 8 bytes, and a missing answer fails the event, never the
// phone's run. The set-up is a one-shot sequence of switching frames over a line of its own,
// opened and closed per phase.
//
// Nothing here blocks for long: a reply must already be in the line's queue when it is looked
// for (after a short pause, ten quick looks), so a silent jig costs a station some
// milliseconds per event. Problems are told once each to the log sink, in words for the
// engineer who wires the jig.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "base/timing.h"
#include "jig/frames.h"
#include "jig/jig_settings.h"
#include "serial/serial_channel.h"

namespace mirk3 {

// Receives the controller's log lines (the station shows them as "<OSM> ...").
using JigLog = std::function<void(const std::string& line)>;
// Sees every frame sent (`sent` true) and every reply collected, whole or not.
using JigWatch = std::function<void(bool sent, const uint8_t* bytes, int length)>;

class CThreadMdlControl {
 public:
  explicit CThreadMdlControl(const Timing& timing = Timing{}, JigLog log = {});
  ~CThreadMdlControl();
  CThreadMdlControl(const CThreadMdlControl&) = delete;
  CThreadMdlControl& operator=(const CThreadMdlControl&) = delete;

  void WatchTraffic(JigWatch watch) { watch_ = std::move(watch); }

  // The jig's serial device; no effect once the status line is open. Empty: no jig.
  void SetJigPort(const std::string& devicePath) { jigPort_ = devicePath; }
  // Event type JigCheck, JigStart, JigPass or JigFail at `position` 1..8 (ignored for the
  // check). True when the jig answered as expected; false for another type or position, which
  // leaves the line untouched.
  bool JigEvent(int type, int position);

  // Both set-up phases for the jig of `settings`, when it has one; then "Anyway Jig setting is
  // completed..." whatever the phases did.
  void RunJigSetup(const JigSettings& settings);
  bool JigSetupPhase1(const std::string& devicePath, int microCable);
  bool JigSetupPhase2(const std::string& devicePath, int microCable);

 private:
  bool CheckJig();
  bool ReportStatus(int event, int position);
  // Collects at least `wanted` bytes of a reply into `buffer` (never more than `capacity`);
  // the count, or 0 when they did not come in ten looks.
  int ReadReply(uint8_t* buffer, int capacity, int wanted);
  bool SendStatus(const uint8_t* frame, int length);
  bool RunSetupPhase(int phase, const std::string& devicePath, int microCable);
  // Each problem is told once: the engineer needs to hear of a dead jig, not at every phone.
  void LogOnce(bool& told, const std::string& line);

  Timing timing_;
  JigLog log_;
  JigWatch watch_;
  CSerialChannel line_;
  std::string jigPort_;
  // Serialises the status events; guards the receive buffer too.
  std::mutex lock_;
  std::array<uint8_t, 256> received_{};
  bool toldOpen_ = false, toldCheck_ = false, toldReply_ = false, toldGone_ = false;
  bool toldSetup_ = false;
};

}  // namespace mirk3
