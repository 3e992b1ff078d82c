// The last step of every run: RTN, close the download, reboot, release the port, wait the
// reset delay and report the port as passed. The only place where a worker reports success.
#include <thread>

#include "engine/download_engine.h"
#include "engine/string_table.h"

namespace mirk3 {

bool CDownloadEngine::CloseStep() {
  const Timing& timing = context_.timing;
  if (options_.rtnForSprint) {
    std::this_thread::sleep_for(timing.rtnPauseBefore);
    reports_.Notef("RTN for Sprint");
    if (packets_.SendRequest(RQT_INIT, RQT_INIT_RTN) == REQUEST_FAILED) {
      reports_.Fail(FAIL_RTN, LoadString(IDS_WRITE_COMPLETION_FAILED));
      return false;
    }
    std::this_thread::sleep_for(timing.rtnPauseAfter);
  }
  reports_.Notef("RQT_CLOSE !!");
  if (packets_.SendRequest(RQT_CLOSE, RQT_CLOSE_END) == REQUEST_FAILED) {
    reports_.Fail(FAIL_REQUEST, LoadString(IDS_WRITE_COMPLETION_FAILED));
    return false;
  }
  reports_.Notef("RES OK !!");
  reports_.Tell(CloseAccepted{});
  // The device may reboot before or after it answers: the result does not count.
  if (options_.AutoReboot) packets_.SendRequest(RQT_CLOSE, RQT_CLOSE_REBOOT);
  line_.ClosePort();
  std::this_thread::sleep_for(timing.resetDelayUnit * (resetDelay_ > 0 ? resetDelay_ : 0));
  reports_.Tell(Passed{"Completed.."});
  return true;
}

void CDownloadEngine::EndSessionWithoutReboot() {
  if (line_.IsOpen()) packets_.SendRequest(RQT_CLOSE, RQT_CLOSE_END);
  line_.ClosePort();
}

}  // namespace mirk3
