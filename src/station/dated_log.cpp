#include "station/dated_log.h"

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

}  // namespace

std::string DatedFileName(const std::string& dir, const std::string& prefix,
                          const std::string& suffix, std::chrono::system_clock::time_point when) {
  const tm t = LocalTime(when);
  return (std::filesystem::path(dir) / Format("%s%04d-%02d-%02d%s", prefix.c_str(),
                                              t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                                              suffix.c_str()))
      .string();
}

Status PrepareLogDir(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (!std::filesystem::is_directory(dir)) {
    return Fail(Format("the log dir \"%s\" cannot be made: %s", dir.c_str(),
                       ec ? ec.message().c_str() : "it is not a directory"),
                ec ? ec.value() : ENOTDIR);
  }
  return {};
}

DatedLog::DatedLog(std::string dir, WallClock clock) : dir_(std::move(dir)), clock_(clock) {}

Status DatedLog::Open() { return OpenFor(clock_()); }

Status DatedLog::OpenFor(std::chrono::system_clock::time_point when) {
  const std::string path = DatedFileName(dir_, "mirk3-", ".log", when);
  if (path == file_.Path() && file_.IsOpen()) return {};
  AppendFile file;
  if (Status opened = file.Open(path, "the log file"); !opened) return opened;
  file_ = std::move(file);
  return {};
}

Status DatedLog::Append(const std::string& line) {
  const auto now = clock_();
  if (Status opened = OpenFor(now); !opened) return opened;
  return file_.Append(TimeStamp(now) + " " + line + "\n");
}

}  // namespace mirk3
