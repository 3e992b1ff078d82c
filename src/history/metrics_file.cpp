#include "history/metrics_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "base/text.h"

namespace mirk3 {
namespace {

// Seconds: a small package takes seconds, a full firmware some minutes, a stuck phone more.
constexpr double BOUNDS[] = {10, 30, 60, 120, 180, 300, 600, 900, 1800, 3600};

std::string LabelValue(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

MetricsFile::MetricsFile(std::string path, std::string station)
    : path_(std::move(path)), station_(LabelValue(station)), buckets_(std::size(BOUNDS), 0) {}

bool MetricsFile::Add(const std::string& recordJson) {
  const auto record = nlohmann::json::parse(recordJson, nullptr, false);
  if (!record.is_object()) return false;
  const auto number = [&record](const char* key, int64_t otherwise) {
    const auto it = record.find(key);
    return it != record.end() && it->is_number() ? it->get<int64_t>() : otherwise;
  };
  const bool passed = record.value("verdict", std::string()) == "PASS";
  if (passed) {
    ++passed_;
    const double seconds = static_cast<double>(number("elapsed_ms", 0)) / 1000;
    secondsSum_ += seconds;
    for (size_t i = 0; i < std::size(BOUNDS); ++i) {
      if (seconds <= BOUNDS[i]) ++buckets_[i];
    }
  } else {
    ++failedByCode_[number("code", 0)];
  }
  const int64_t attempts = number("attempts", 1);
  if (attempts > 1) retries_ += static_cast<uint64_t>(attempts - 1);
  bytes_ += static_cast<uint64_t>(std::max<int64_t>(number("bytes", 0), 0));
  lastResult_ = std::chrono::duration<double>(
                    std::chrono::system_clock::now().time_since_epoch()).count();
  return true;
}

std::string MetricsFile::Text() const {
  const std::string s = "station=\"" + station_ + "\"";
  std::string t;
  auto metric = [&t](const char* name, const char* type, const char* help) {
    t += Format("# HELP %s %s\n# TYPE %s %s\n", name, help, name, type);
  };
  metric("mirk3_phones_passed_total", "counter", "Phones that passed.");
  t += Format("mirk3_phones_passed_total{%s} %llu\n", s.c_str(), (unsigned long long)passed_);
  metric("mirk3_phones_failed_total", "counter", "Phones that failed, by failure code.");
  for (const auto& [code, count] : failedByCode_) {
    t += Format("mirk3_phones_failed_total{%s,code=\"%lld\"} %llu\n", s.c_str(), (long long)code,
                (unsigned long long)count);
  }
  metric("mirk3_retries_total", "counter", "Attempts beyond each phone's first.");
  t += Format("mirk3_retries_total{%s} %llu\n", s.c_str(), (unsigned long long)retries_);
  metric("mirk3_bytes_written_total", "counter", "Bytes written to phones.");
  t += Format("mirk3_bytes_written_total{%s} %llu\n", s.c_str(), (unsigned long long)bytes_);
  metric("mirk3_flash_seconds", "histogram", "Time of each passed phone, in seconds.");
  for (size_t i = 0; i < std::size(BOUNDS); ++i) {
    t += Format("mirk3_flash_seconds_bucket{%s,le=\"%g\"} %llu\n", s.c_str(), BOUNDS[i],
                (unsigned long long)buckets_[i]);
  }
  t += Format("mirk3_flash_seconds_bucket{%s,le=\"+Inf\"} %llu\n", s.c_str(),
              (unsigned long long)passed_);
  t += Format("mirk3_flash_seconds_sum{%s} %.3f\n", s.c_str(), secondsSum_);
  t += Format("mirk3_flash_seconds_count{%s} %llu\n", s.c_str(), (unsigned long long)passed_);
  metric("mirk3_slots_flagged", "gauge", "Slots flagged: check the cable or hub.");
  t += Format("mirk3_slots_flagged{%s} %d\n", s.c_str(), slotsFlagged_);
  metric("mirk3_last_result_timestamp_seconds", "gauge", "When the last result came (Unix time).");
  t += Format("mirk3_last_result_timestamp_seconds{%s} %.3f\n", s.c_str(), lastResult_);
  return t;
}

Status MetricsFile::Write() const {
  const std::string text = Text();
  const std::string temp = path_ + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  auto fail = [&](const char* what, int errnum) {
    return Fail(
        Format("cannot %s the metrics file \"%s\": %s", what, path_.c_str(), std::strerror(errnum)),
        errnum);
  };
  if (fd < 0) return fail("write", errno);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int e = n < 0 ? errno : ENOSPC;
      ::close(fd);
      ::unlink(temp.c_str());
      return fail("write", e);
    }
    done += static_cast<size_t>(n);
  }
  const int synced = ::fsync(fd) == 0 ? 0 : errno;
  const int closed = ::close(fd) == 0 ? 0 : errno;
  if (synced != 0 || closed != 0) {
    const int e = synced != 0 ? synced : closed;
    ::unlink(temp.c_str());
    return fail("sync", e);
  }
  if (::rename(temp.c_str(), path_.c_str()) != 0) {
    const int e = errno;
    ::unlink(temp.c_str());
    return fail("replace", e);
  }
  return {};
}

}  // namespace mirk3
