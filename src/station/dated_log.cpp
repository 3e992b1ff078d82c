#include "station/dated_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "base/text.h"

namespace mirk3 {
namespace {

tm LocalTime(std::chrono::system_clock::time_point when) {
  const time_t seconds = std::chrono::system_clock::to_time_t(when);
  tm local{};
  localtime_r(&seconds, &local);
  return local;
}

std::string TimeStamp(std::chrono::system_clock::time_point when) {
  const tm t = LocalTime(when);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(ms));
}

// Writes all of `text`; only a short write (a full disk) takes a second call.
bool WriteWhole(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::string DatedFileName(const std::string& dir, const std::string& prefix,
                          const std::string& suffix, std::chrono::system_clock::time_point when) {
  const tm t = LocalTime(when);
  return (std::filesystem::path(dir) / Format("%s%04d-%02d-%02d%s", prefix.c_str(),
                                              t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                              suffix.c_str()))
      .string();
}

bool PrepareLogDir(const std::string& dir, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir)) {
    *error = Format("the log dir \"%s\" cannot be made: %s", dir.c_str(),
                    ec ? ec.message().c_str() : "it is not a directory");
    return false;
  }
  return true;
}

DatedLog::DatedLog(std::string dir, WallClock clock) : dir_(std::move(dir)), clock_(clock) {}

DatedLog::~DatedLog() {
  if (fd_ >= 0) close(fd_);
}

bool DatedLog::Append(const std::string& line, std::string* error) {
  const auto now = clock_();
  const std::string path = DatedFileName(dir_, "mirk3-", ".log", now);
  if (path != path_ || fd_ < 0) {
    if (fd_ >= 0) close(fd_);
    path_ = path;
    fd_ = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      *error = Format("cannot open the log file \"%s\": %s", path.c_str(),
                      std::generic_category().message(errno).c_str());
      return false;
    }
  }
  if (WriteWhole(fd_, TimeStamp(now) + " " + line + "\n")) return true;
  *error = Format("cannot write to the log file \"%s\": %s", path_.c_str(),
                  std::generic_category().message(errno).c_str());
  return false;
}

}  // namespace mirk3
