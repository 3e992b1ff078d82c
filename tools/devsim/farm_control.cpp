#include "devsim/farm_control.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <vector>

#include "base/file.h"
#include "cmdline/command_line.h"
#include "devsim/options.h"
#include "serial/serial_line.h"

namespace mirk3::devsim {
namespace {

using Clock = std::chrono::steady_clock;

std::string PlugAnswer(PhoneFarm& farm, int port) {
  std::string error;
  if (!farm.Plug(port, &error)) return "error: " + error;
  return PhoneName(farm.Config(), port) + " -> " + farm.SlavePath(port);
}

std::string UnplugAnswer(PhoneFarm& farm, int port) {
  const std::string name = PhoneName(farm.Config(), port);
  if (!farm.Unplug(port)) return "error: " + name + " is not plugged";
  return name + " unplugged";
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

void Say(std::FILE* out, const std::string& line) {
  std::fprintf(out, "%s\n", line.c_str());
  std::fflush(out);
}

// Lines read so far from the command input; the last, unfinished one waits for its end.
class CommandInput {
 public:
  explicit CommandInput(BorrowedFd fd) : fd_(fd) {}
  int Fd() const { return open_ ? fd_.Get() : -1; }
  // Reads what is there; the complete lines come back.
  std::vector<std::string> Read() {
    char chunk[1024];
    const ssize_t n = ::read(fd_.Get(), chunk, sizeof chunk);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return {};
    if (n <= 0) open_ = false;  // the end, or a terminal that is not ours to read (EIO)
    if (n > 0) pending_.append(chunk, static_cast<size_t>(n));
    std::vector<std::string> lines;
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
      lines.push_back(pending_.substr(0, end));
      pending_.erase(0, end + 1);
    }
    if (!open_ && !pending_.empty()) lines.push_back(std::move(pending_));
    return lines;
  }

 private:
  BorrowedFd fd_;  // the caller's command input
  bool open_ = true;
  std::string pending_;
};

}  // namespace

std::string AnswerCommand(PhoneFarm& farm, std::string_view line) {
  line = Trimmed(line);
  const size_t space = line.find_first_of(" \t");
  const std::string_view verb = line.substr(0, space);
  const std::string_view rest = space == std::string_view::npos ? "" : Trimmed(line.substr(space));
  if (verb == "list" && rest.empty()) {
    std::string answer = "plugged:";
    for (const int port : farm.PluggedPorts()) answer += " " + PhoneName(farm.Config(), port);
    return answer;
  }
  if (verb == "plug" || verb == "unplug") {
    const auto port = DecimalNumber(rest, 0, MAX_PORT);
    if (!port) return "error: not a port number: '" + std::string(rest) + "'";
    const int n = static_cast<int>(*port);
    return verb == "plug" ? PlugAnswer(farm, n) : UnplugAnswer(farm, n);
  }
  return "error: unknown command '" + std::string(line) + "' (plug N, unplug N, list)";
}

void RunFarmControl(PhoneFarm& farm, int inputFd, int stopFd, std::FILE* out) {
  std::vector<PlugEvent> schedule = farm.Config().schedule;
  std::stable_sort(schedule.begin(), schedule.end(),
                   [](const PlugEvent& a, const PlugEvent& b) { return a.ms < b.ms; });
  const Clock::time_point start = Clock::now();
  size_t next = 0;
  CommandInput input{BorrowedFd(inputFd)};
  for (;;) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    for (; next < schedule.size() && schedule[next].ms <= elapsed; ++next) {
      const PlugEvent& event = schedule[next];
      Say(out, event.plug ? PlugAnswer(farm, event.port) : UnplugAnswer(farm, event.port));
    }
    const int timeoutMs =
        next < schedule.size()
            ? static_cast<int>(std::min<long long>(schedule[next].ms - elapsed, INT_MAX))
            : -1;
    pollfd fds[2] = {{stopFd, POLLIN, 0}, {input.Fd(), POLLIN, 0}};
    const int n = ::poll(fds, 2, timeoutMs);
    if (n < 0 && errno != EINTR) return;
    if (n <= 0) continue;
    if (fds[0].revents) return;
    if (fds[1].revents) {
      for (const std::string& line : input.Read()) {
        if (!Trimmed(line).empty()) Say(out, AnswerCommand(farm, line));
      }
    }
  }
}

}  // namespace mirk3::devsim
