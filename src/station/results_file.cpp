#include "station/results_file.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "base/text.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

using nlohmann::json;

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
  json record = {
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
  // What the phone said of itself, when its device-info record was read.
  if (!port.model.empty()) record["model"] = port.model;
  if (!port.deviceItems.empty()) record["device_info"] = port.deviceItems;
  // A path or a phone's text need not be UTF-8; the record must still be written, whole.
  return record.dump(-1, ' ', false, json::error_handler_t::replace);
}

Status ResultsFile::Open(const std::string& path) {
  AppendFile file;
  if (Status opened = file.Open(path, "the results file"); !opened) return opened;
  file_ = std::move(file);
  return {};
}

Status ResultsFile::OpenDated(const std::string& dir, WallClock clock) {
  dir_ = dir;
  clock_ = std::move(clock);
  return Open(DatedFileName(dir_, "results-", ".jsonl", clock_()));
}

Status ResultsFile::Append(const PortRun& port, const std::vector<RunPackage>& packages) {
  if (!dir_.empty()) {
    const std::string today = DatedFileName(dir_, "results-", ".jsonl", clock_());
    if (today != file_.Path()) {
      if (Status opened = Open(today); !opened) return opened;
    }
  }
  if (!file_.IsOpen()) return Fail("the results file is not open");
  if (port.verdict != Verdict::Passed && port.verdict != Verdict::Failed) {
    return Fail(Format("the result of %s is not known yet", PortName(port.port).c_str()));
  }
  return file_.Append(ResultRecord(port, packages) + "\n");
}

}  // namespace mirk3
