#include "station/results_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <nlohmann/json.hpp>
#include <system_error>

#include "base/text.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

using nlohmann::json;

std::string ErrnoText(int error) { return std::generic_category().message(error); }

// "2026-12-09T03:21:42.123Z"; null for a time never set.
json UtcText(std::chrono::system_clock::time_point t) {
  if (t == std::chrono::system_clock::time_point{}) return nullptr;
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  const auto seconds = static_cast<time_t>(ms / 1000);
  tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  const size_t n = strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  return std::string(text, n) + Format(".%03dZ", static_cast<int>(ms % 1000));
}

int64_t ElapsedMs(const PortRun& p) {
  using std::chrono::steady_clock;
  if (p.started == steady_clock::time_point{} || p.ended < p.started) return 0;
  return std::chrono::duration_cast<std::chrono::milliseconds>(p.ended - p.started).count();
}

}  // namespace

std::string ResultRecord(const PortRun& port, const std::vector<RunPackage>& packages) {
  json files = json::array();
  for (const RunPackage& package : packages) {
    files.push_back({{"slot", package.slot}, {"path", package.path}, {"size", package.size}});
  }
  const json record = {
      {"run", port.run},
      {"slot", port.slot},
      {"port", port.port},
      {"usb_path", port.usbPath.empty() ? json(nullptr) : json(port.usbPath)},
      {"verdict", port.verdict == Verdict::Passed ? "PASS" : "FAIL"},
      {"code", port.code},
      {"message", port.message},
      {"elapsed_ms", ElapsedMs(port)},
      {"bytes", port.sent},
      {"total", port.total},
      {"packages", files},
      {"started", UtcText(port.startedUtc)},
      {"ended", UtcText(port.endedUtc)},
  };
  // A path or a phone's text need not be UTF-8; the record must still be written, whole.
  return record.dump(-1, ' ', false, json::error_handler_t::replace);
}

ResultsFile::~ResultsFile() {
  if (fd_ >= 0) close(fd_);
}

bool ResultsFile::Open(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error)
      *error =
          Format("cannot open the results file \"%s\": %s", path.c_str(), ErrnoText(errno).c_str());
    return false;
  }
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
  path_ = path;
  return true;
}

bool ResultsFile::OpenDated(const std::string& dir, std::string* error, WallClock clock) {
  dir_ = dir;
  clock_ = std::move(clock);
  return Open(DatedFileName(dir_, "results-", ".jsonl", clock_()), error);
}

bool ResultsFile::Append(const PortRun& port, const std::vector<RunPackage>& packages,
                         std::string* error) {
  if (!dir_.empty()) {
    const std::string today = DatedFileName(dir_, "results-", ".jsonl", clock_());
    if (today != path_ && !Open(today, error)) return false;
  }
  if (fd_ < 0) {
    if (error) *error = "the results file is not open";
    return false;
  }
  if (port.verdict != Verdict::Passed && port.verdict != Verdict::Failed) {
    if (error) *error = Format("the result of %s is not known yet", PortName(port.port).c_str());
    return false;
  }
  const std::string line = ResultRecord(port, packages) + "\n";
  // One write holds the whole record; only a short write (a full disk) makes a second one.
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(fd_, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (error)
        *error = Format("cannot write to the results file \"%s\": %s", path_.c_str(),
                        ErrnoText(n < 0 ? errno : EIO).c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace mirk3
