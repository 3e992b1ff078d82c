#include "jig/thread_mdl_control.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "base/text.h"
#include "serial/comport.h"

namespace mirk3 {
namespace {

constexpr int JIG_BAUD_RATE = 115200;
// The reply buffer of one event: every reply the jig gives fits, a longer one is cut.
constexpr int REPLY_BUFFER = 20;
constexpr int REPLY_POLLS = 10;
constexpr char JIG_READY[] = ":V";

std::string JigLineProblem(LineError error, int errorNumber) {
  switch (error) {
    case LineError::NotFound:
      return "no such device";
    case LineError::PermissionDenied:
      return "permission denied";
    case LineError::Busy:
      return "in use by another program";
    default:
      return std::string("not a serial port, or it cannot be set up") +
             (errorNumber != 0 ? std::string(": ") + std::strerror(errorNumber) : "");
  }
}

}  // namespace

CThreadMdlControl::CThreadMdlControl(const Timing& timing, JigLog log)
    : timing_(timing), log_(std::move(log)), line_(timing.jigDisconnectPause) {}

CThreadMdlControl::~CThreadMdlControl() {
  line_.Disconnect();
  line_.ReleaseHandles();
}

void CThreadMdlControl::LogOnce(bool& told, const std::string& line) {
  if (told) return;
  told = true;
  if (log_) log_(line);
}

bool CThreadMdlControl::JigEvent(int type, int position) {
  // An unknown event or a position the jig does not have never reaches the line.
  if (type != JigCheck && StatusFrame(type, position).empty()) return false;
  std::lock_guard guard(lock_);
  return type == JigCheck ? CheckJig() : ReportStatus(type, position);
}

bool CThreadMdlControl::CheckJig() {
  // The check frame goes out only when the line opens: later events find it connected.
  if (line_.IsConnected()) return true;
  if (jigPort_.empty()) return false;
  if (!line_.Connect(jigPort_, JIG_BAUD_RATE)) {
    LogOnce(toldOpen_, "Jig " + jigPort_ + ": cannot open the jig line (" +
                           JigLineProblem(line_.LastError(), line_.LastErrorNumber()) + ")");
    return false;
  }
  std::this_thread::sleep_for(timing_.jigConnectSettle);
  uint8_t frame[JIG_FRAME_BUFFER];
  const int length = BuildFrame(JIG_CHECK_TEXT, frame);
  if (!SendStatus(frame, length)) return false;
  uint8_t reply[REPLY_BUFFER] = {};
  if (ReadReply(reply, REPLY_BUFFER, JIG_FRAME_LENGTH) == 0) {
    LogOnce(toldCheck_,
            "Jig " + line_.DevicePath() + " did not answer the connection check " + JIG_CHECK_TEXT);
    return false;
  }
  if (std::memcmp(reply, JIG_READY, 2) != 0) {
    LogOnce(toldCheck_, "Jig " + line_.DevicePath() + " answered the connection check with " +
                            PrintableBytes(reply, JIG_FRAME_LENGTH) + ", not :V...");
    return false;
  }
  return true;
}

bool CThreadMdlControl::ReportStatus(int event, int position) {
  if (!CheckJig()) return false;
  const std::vector<uint8_t> frame = StatusFrame(event, position);
  if (!SendStatus(frame.data(), static_cast<int>(frame.size()))) return false;
  uint8_t reply[REPLY_BUFFER] = {};
  if (ReadReply(reply, REPLY_BUFFER, JIG_FRAME_LENGTH) != 0) return true;
  LogOnce(toldReply_, "Jig " + line_.DevicePath() + " did not answer " +
                          DescribeFrame(frame.data(), frame.size()) + " (position " +
                          std::to_string(position) + ")");
  return false;
}

bool CThreadMdlControl::SendStatus(const uint8_t* frame, int length) {
  if (watch_) watch_(true, frame, length);
  const int written = line_.Transmit(frame, length);
  if (written != length && line_.LastError() == LineError::Removed) {
    // An unplugged adapter leaves a dead line behind: the next event opens the device afresh.
    LogOnce(toldGone_, "Jig " + line_.DevicePath() + " went away");
    line_.ReleaseHandles();
    return false;
  }
  std::this_thread::sleep_for(timing_.jigReplyWait);
  return written == length;
}

int CThreadMdlControl::ReadReply(uint8_t* buffer, int capacity, int wanted) {
  int stored = 0;
  int result = 0;
  for (int poll = 0; poll < REPLY_POLLS && result == 0; ++poll) {
    // A reply over USB comes in bus frames, and a USB serial adapter holds bytes back for its
    // latency timer (16 ms by default): a look that finds nothing waits a moment for more.
    if (poll > 0) line_.WaitForInput(timing_.jigReplyPollPause);
    const int got = line_.Receive(received_.data(), static_cast<int>(received_.size()));
    if (got <= 0) continue;
    // A reply longer than the caller's buffer is cut there; the rest is dropped.
    const int taken = std::min(got, capacity - stored);
    std::memcpy(buffer + stored, received_.data(), static_cast<size_t>(taken));
    stored += taken;
    std::fill_n(received_.begin(), got, uint8_t{0});
    if (stored >= wanted) result = stored;
  }
  if (watch_) watch_(false, buffer, stored);
  return result;
}

void CThreadMdlControl::RunJigSetup(const JigSettings& settings) {
  if (settings.device.empty()) return;
  toldSetup_ = false;
  // The phases' results are not looked at: the jig is set up as far as it can be.
  JigSetupPhase1(settings.device, settings.microCable);
  JigSetupPhase2(settings.device, settings.microCable);
  if (log_) log_("Anyway Jig setting is completed...");
}

bool CThreadMdlControl::JigSetupPhase1(const std::string& devicePath, int microCable) {
  return RunSetupPhase(1, devicePath, microCable);
}

bool CThreadMdlControl::JigSetupPhase2(const std::string& devicePath, int microCable) {
  return RunSetupPhase(2, devicePath, microCable);
}

bool CThreadMdlControl::RunSetupPhase(int phase, const std::string& devicePath, int microCable) {
  CComport port;
  if (!port.Open(devicePath, JIG_BAUD_RATE, 8, PARITY_NONE, STOP_BITS_ONE)) {
    LogOnce(toldSetup_, "Jig set-up: cannot open " + devicePath + " (" +
                            JigLineProblem(port.LastError(), port.LastErrorNumber()) + ")");
    return false;
  }
  for (const std::string& text : JigSetupPhase(phase, microCable)) {
    std::this_thread::sleep_for(timing_.jigSetupPause);
    uint8_t frame[JIG_FRAME_BUFFER];
    const int length = BuildFrame(text.c_str(), frame);
    if (watch_) watch_(true, frame, length);
    port.Send(frame, length);
  }
  std::this_thread::sleep_for(timing_.jigSetupClosePause);
  port.Close();
  return true;
}

}  // namespace mirk3
