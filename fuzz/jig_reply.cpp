// Fuzzes the jig controller with any answer from a jig: the first input byte says how many of
// the following bytes answer the connection check, the rest answers the start frame of
// position 1. The answers are put on a real pseudo-terminal as the frames go out. Whatever they
// hold, nothing is stored past the reply buffer, the check passes only for an answer of eight
// bytes or more that begins ":V", and the start frame counts as answered only with eight bytes
// or more. (Whether an answer arrives within the ten looks is a matter of time, not of bytes:
// it is not held here.)
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "jig/frames.h"
#include "jig/thread_mdl_control.h"
#include "support/fuzz_target.h"
#include "support/scratch_dir.h"

namespace {

using mirk3::fuzz::Require;

struct Jig {
  int master = -1;
  std::string link;
};

// One pseudo-terminal for the whole fuzzing process, published as a jig device.
const Jig& TheJig() {
  static const Jig* jig = [] {
    auto* j = new Jig;
    j->master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (j->master < 0 || ::grantpt(j->master) != 0 || ::unlockpt(j->master) != 0) std::abort();
    termios tio{};
    const int slave = ::open(::ptsname(j->master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::tcgetattr(slave, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(slave, TCSANOW, &tio);  // kept open: the line never hangs up between inputs
    j->link = mirk3::fuzz::ScratchDir() + "/ttyUSB9";
    ::unlink(j->link.c_str());
    if (::symlink(::ptsname(j->master), j->link.c_str()) != 0) std::abort();
    return j;
  }();
  return *jig;
}

void Drain(int fd) {
  char sink[512];
  const int flags = ::fcntl(fd, F_GETFL);
  ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  while (::read(fd, sink, sizeof sink) > 0) {
  }
  ::fcntl(fd, F_SETFL, flags);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Jig& jig = TheJig();
  const size_t checkLength = std::min<size_t>(data[0], size - 1);
  const std::string checkAnswer(reinterpret_cast<const char*>(data) + 1, checkLength);
  const std::string startAnswer(reinterpret_cast<const char*>(data) + 1 + checkLength,
                                size - 1 - checkLength);
  Drain(jig.master);

  mirk3::Timing timing;
  timing.jigConnectSettle = timing.jigReplyWait = std::chrono::milliseconds(0);
  timing.jigReplyPollPause = std::chrono::milliseconds(1);
  timing.jigDisconnectPause = std::chrono::milliseconds(0);
  mirk3::CThreadMdlControl control(timing);
  int framesSent = 0;
  // Each answer is on the line before the controller looks for it.
  control.WatchTraffic([&](bool sent, const uint8_t*, int) {
    if (!sent) return;
    const std::string& answer = framesSent++ == 0 ? checkAnswer : startAnswer;
    if (!answer.empty() && ::write(jig.master, answer.data(), answer.size()) < 0) std::abort();
  });
  control.SetJigPort(jig.link);
  const bool answered = control.JigEvent(mirk3::JigStart, 1);
  const bool checkHolds = checkLength >= 8 && std::memcmp(checkAnswer.data(), ":V", 2) == 0;
  if (!checkHolds) Require(!answered, "a start frame counted as answered after a failed check");
  if (answered) Require(checkHolds, "an answer taken after a check that failed");
  // A check answer of more than eight bytes may reach the line in two reads and leave its tail
  // for the next answer; one of exactly eight cannot.
  if (answered && checkLength == 8) Require(startAnswer.size() >= 8, "an answer taken for less");
  return 0;
}
