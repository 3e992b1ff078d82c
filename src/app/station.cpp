#include "app/station.h"

#include "app/package_pick.h"
#include "base/text.h"
#include "packages/one_click_program.h"

namespace mirk3 {

std::string FormatLogLine(int slot, int port, const std::string& text) {
  if (port == NO_PORT) return "<OSM> " + text;
  return Format("<ID:%d/%03d> ", slot, port) + text;
}

bool AnythingChosen(const DownloadOptions& o) {
  for (int32_t enabled : o.slotEnabled) {
    if (enabled) return true;
  }
  return o.RePartition || o.deviceInfo || o.rtnForSprint;
}

Station::Station(StationView* view, ReportSink* sink, EngineContext context)
    : view_(view),
      context_(std::move(context)),
      ports_(sink),
      carriesPackages_(ReadOneClickTrailer(context_.ownExecutablePath).has_value()) {}

bool Station::Start(const DownloadOptions& options) {
  if (busy_) return false;  // a running run's ports are never served twice
  // A One Click program's own packages count as chosen.
  if (!carriesPackages_ && !AnythingChosen(options)) {
    view_->ShowMessage("No binary file is selected.");
    return false;
  }
  ports_.ReleaseRun();
  busy_ = true;
  succeeded_ = failed_ = 0;
  startTick_ = std::chrono::steady_clock::now();
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) {
    const int port = ports_.PortOfSlot(slot);
    if (port != -1) view_->ShowSlot(slot, port, SlotState::Added, 0, "");
  }
  remainingPorts_ = ports_.StartWorkers(options, context_);
  return true;
}

void Station::HandleReport(int message, const EngineReport& report) {
  switch (message) {
    case WM_DL_START:
      OnStart(report);
      break;
    case WM_DL_COMPLETE:
      if (report.port == NO_PORT) {
        OnRunEnd(report);
      } else {
        OnPass(report);
      }
      break;
    case WM_DL_PROGRESS:
      OnProgress(report);
      break;
    case WM_DL_FAIL:
      OnFail(report);
      break;
    case WM_DL_LOG:
      Log(report);
      break;
    case WM_DL_STATUS:
      OnStatus(report);
      break;
    default:
      break;
  }
}

void Station::OnStart(const EngineReport& report) {
  ports_.SlotTotal(ports_.SlotOfPort(report.port), static_cast<uint64_t>(report.value));
  Log(report);
}

void Station::OnProgress(const EngineReport& report) {
  const int slot = ports_.SlotOfPort(report.port);
  const uint64_t total = ports_.SlotTotal(slot);
  // Before the total is known there is no percentage to show.
  int percent = -1;
  if (total != 0) {
    const double share = static_cast<double>(static_cast<uint64_t>(report.value)) * 100.0 /
                         static_cast<double>(total);
    percent = static_cast<int>(share > 100.0 ? 100.0 : share);
  }
  view_->ShowSlot(slot, report.port, SlotState::Running, percent, report.text);
}

void Station::OnPass(EngineReport report) {
  const int slot = ports_.SlotOfPort(report.port);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - startTick_)
                           .count();
  const long long minutes = elapsed / 1000 / 60;
  const long long seconds = (elapsed / 1000) % 60;
  remainingPorts_ -= 1;
  view_->ShowSlot(slot, report.port, SlotState::Passed, 100,
                  Format(" %02lld:%02lld ", minutes, seconds));
  report.text = Format("Remain Port ....  %d ", remainingPorts_);
  Log(report);
}

void Station::OnFail(const EngineReport& report) {
  view_->ShowSlot(ports_.SlotOfPort(report.port), report.port, SlotState::Failed, -1, "FAIL!");
  Log(report);
}

void Station::OnStatus(const EngineReport& report) {
  const int slot = ports_.SlotOfPort(report.port);
  if (report.value == STATUS_PORT_ADDED) {
    view_->ShowSlot(slot, report.port, SlotState::Added, -1, "");
    Log(report);
  } else if (report.value == STATUS_PORT_REMOVED) {
    view_->ShowSlot(slot, report.port, SlotState::Removed, -1, "");
    Log(report);
  } else if (report.value == STATUS_CLOSE_ACCEPTED) {
    view_->ShowSlot(slot, report.port, SlotState::Reset, -1, "RESET!");
  }
}

void Station::OnRunEnd(EngineReport report) {
  ports_.CollectResults(&succeeded_, &failed_);
  report.text = Format("All threads completed. (succeed %d / failed %d)", succeeded_, failed_);
  busy_ = false;
  Log(report);
}

bool Station::PickPackage(int slot, const std::string& path, DownloadOptions& chosen) {
  if (busy_) return false;
  return mirk3::PickPackage(slot, path, chosen, *view_);
}

void Station::Log(const EngineReport& report) {
  const int slot = report.port == NO_PORT ? -1 : ports_.SlotOfPort(report.port);
  view_->AppendLog(FormatLogLine(slot, report.port, report.text));
}

}  // namespace mirk3
