// Every wait the station makes, in one record. The defaults are the station's own numbers;
// tests shorten them, production never changes them.
#pragma once

#include <chrono>

namespace mirk3 {

using Millis = std::chrono::milliseconds;

struct Timing {
  int openAttempts = 71;            // tries to open a port before giving up
  Millis openRetryPause{1000};      // pause after each failed open attempt
  Millis openSettle{500};           // pause after a port was opened and configured
  Millis firstByteTimeout{300000};  // longest wait for the first byte of a read
  Millis stepPause{100};            // pause between two steps of a worker
  Millis workerStartDelay{100};     // after the watcher started, before the first resume
  Millis workerStagger{10};         // between two worker resumes
  Millis watcherSettle{10};         // after the last worker ended, before end-of-run
  Millis rtnPauseBefore{2000};      // before the RTN request
  Millis rtnPauseAfter{1000};       // after the RTN request
  Millis resetDelayUnit{1000};      // one second of the reset delay after close
  Millis autoStartDelay{500};       // after a port was added, before the auto-start check
  Millis md5CheckedPause{1000};     // after an MD5 trailer verified
  Millis blPickPause{1000};         // after the BL package's MD5 check, events still handled

  // The test jig.
  Millis jigConnectSettle{200};    // after the jig line opened, before the connection check
  Millis jigReplyWait{15};         // after a frame to the jig, before its reply is looked for
  Millis jigReplyPollPause{25};    // longest wait for bytes between two of the ten looks for a
                                   // jig's reply (ends as soon as bytes arrive)
  Millis jigSetupPause{200};       // before each set-up frame
  Millis jigSetupClosePause{300};  // after a set-up phase's last frame, before closing
  Millis jigDisconnectPause{100};  // before the jig line is closed
};

}  // namespace mirk3
