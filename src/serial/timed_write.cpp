#include "serial/timed_write.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace mirk3 {

int WriteWithLimit(BorrowedFd line, const uint8_t* bytes, int length, int limitMs,
                   LineError* error) {
  const int fd = line.Get();
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs < 0 ? 0 : limitMs);
  *error = LineError::None;
  int done = 0;
  while (done < length) {
    const ssize_t n = ::write(fd, bytes + done, static_cast<size_t>(length - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n == 0 || errno != EAGAIN) {
      *error = n == 0 ? LineError::Removed : LineErrorFromErrno(errno);
      break;
    }
    int waitMs = -1;
    if (limitMs >= 0) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        *error = LineError::TimedOut;
        break;
      }
      waitMs = static_cast<int>(left);
    }
    pollfd pfd{fd, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, waitMs);
    if (ready < 0 && errno != EINTR) {
      *error = LineErrorFromErrno(errno);
      break;
    }
    if (ready > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(pfd.revents & POLLOUT)) {
      *error = LineError::Removed;
      break;
    }
  }
  return done;
}

}  // namespace mirk3
