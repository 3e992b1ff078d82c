#include "station/station.h"

#include <QTimer>

#include "station/station_settings.h"
#include "base/text.h"
#include "packages/one_click_program.h"
#include "serial/serial_line.h"

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
      sink_(sink),
      context_(std::move(context)),
      ports_(sink, [view](const std::string& text) { view->ShowMessage(text); }),
      slots_(DISPLAYED_SLOTS),
      carriesPackages_(ReadOneClickTrailer(context_.ownExecutablePath).has_value()) {
  ApplySettings(Settings{});
}

Station::~Station() { ports_.ReleaseRun(); }

void Station::ApplySettings(const Settings& settings, const std::string& portDir) {
  settings_ = settings;
  options_ = settings.options;
  enables_ = ControlEnables();
  enables_.ApplySettings(settings);
  ports_.SetRules(PortRulesFrom(settings, portDir.empty() ? context_.portDir : portDir));
  view_->ControlsChanged();
}

void Station::SetRunNumbers(int32_t factoryResetTime, int32_t packetSize) {
  settings_.factoryResetTime = factoryResetTime;
  settings_.packetSize = packetSize;
}

DownloadOptions Station::RunOptions() const {
  DownloadOptions o;
  o.Flags() = options_;
  o.slotEnabled = packages_.use;
  o.slotPath = packages_.path;
  o.pitPath = packages_.pitPath;
  o.FactoryResetTime = settings_.factoryResetTime;
  o.PacketSize = settings_.packetSize;
  return o;
}

bool Station::Start() {
  if (busy_) {
    // Ctrl+S, a companion's request or an auto start during a run: the ports being served are
    // never served twice.
    LogLine("Start refused: a run is in progress");
    return false;
  }
  if (!HasSomethingToRun()) {
    view_->ShowMessage("No binary file is selected.", "Mirk 3");
    return false;
  }
  NormalizePackageNames();
  const DownloadOptions options = RunOptions();
  ports_.ReleaseRun();
  SetBusy(true);
  ResetSlotDisplays();
  startTick_ = std::chrono::steady_clock::now();
  succeeded_ = failed_ = 0;
  ++runs_;
  BeginPortRuns();
  const int run = runs_;
  startedPorts_ = remainingPorts_ = 0;
  // Reports wait for the main thread, so none is handled before StartWorkers returns; only a
  // run without a worker ends inside it.
  const int started = ports_.StartWorkers(options, context_);
  if (busy_) startedPorts_ = remainingPorts_ = started;
  Q_EMIT runStarted(run, started);
  return true;
}

bool Station::HasSomethingToRun() const {
  // A One Click program's own packages count as chosen.
  return carriesPackages_ || AnythingChosen(RunOptions());
}

bool Station::Reset() {
  if (busy_) {
    LogLine("Reset refused: a run is in progress");
    return false;
  }
  packages_.use = {};
  options_ = ResetOptionStates(settings_.resetDefaults, options_);
  packages_.path = {};
  packages_.pitPath.clear();
  view_->ClearLog();
  ClearTimes();
  ResetSlotDisplays();
  view_->ControlsChanged();
  return true;
}

void Station::SetAutoStart(const std::string& text) { autoStartText_ = text; }

void Station::SetBusy(bool on) {
  enables_.SetBusy(on, settings_);
  busy_ = on;
  view_->ControlsChanged();
}

void Station::ShowSlot(int slot) {
  if (slot >= 0 && slot < DISPLAYED_SLOTS) view_->SlotChanged(slot);
}

void Station::ResetSlotDisplays() {
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) {
    SlotDisplay& d = slots_[slot];
    d.progress = 0;
    d.timeText.clear();
    d.progressShown = true;
    d.timeShown = false;
    if (slot < 8) {
      d.status.clear();
      d.picture = SlotPicture::Idle;
    }
    ShowSlot(slot);
  }
}

void Station::ClearTimes() {
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) {
    slots_[slot].timeText.clear();
    ShowSlot(slot);
  }
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
  const uint64_t total = static_cast<uint64_t>(report.value);
  ports_.SlotTotal(ports_.SlotOfPort(report.port), total);
  if (PortRun* run = RunOf(report.port)) {
    run->total = total;
    view_->PortRunChanged(*run);
  }
  Q_EMIT jigEvent(1, report.port);
  Log(report);
}

void Station::OnProgress(const EngineReport& report) {
  const int slot = ports_.SlotOfPort(report.port);
  if (slot < 0 || slot >= DISPLAYED_SLOTS) return;
  SlotDisplay& d = slots_[slot];
  const uint64_t total = ports_.SlotTotal(slot);
  // Before the total is known there is no percentage: the bar stays where it is.
  if (total != 0) {
    const double share = static_cast<double>(static_cast<uint64_t>(report.value)) * 100.0 /
                         static_cast<double>(total);
    d.progress = static_cast<int>(share > 100.0 ? 100.0 : share);
  }
  if (slot < 8) {
    d.picture = SlotPicture::InProgress;
    d.status = report.text;
  }
  ShowSlot(slot);
  if (PortRun* run = RunOf(report.port)) {
    run->step = report.text;
    run->sent = static_cast<uint64_t>(report.value);
    if (run->sent > 0 && run->firstByte == std::chrono::steady_clock::time_point{}) {
      run->firstByte = std::chrono::steady_clock::now();
    }
    if (run->verdict == Verdict::Waiting) run->verdict = Verdict::Running;
    view_->PortRunChanged(*run);
  }
}

void Station::OnPass(EngineReport report) {
  const int slot = ports_.SlotOfPort(report.port);
  const bool shown = slot >= 0 && slot < DISPLAYED_SLOTS;
  if (shown && slot < 8) slots_[slot].status.clear();
  Q_EMIT portPassed(report.port);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - startTick_)
                           .count();
  const long long minutes = elapsed / 1000 / 60;
  const long long seconds = (elapsed / 1000) % 60;
  if (shown) {
    SlotDisplay& d = slots_[slot];
    d.timeShown = true;
    d.progressShown = false;
    d.timeText = Format(" %02lld:%02lld ", minutes, seconds);
  }
  Q_EMIT jigEvent(2, report.port);
  remainingPorts_ -= 1;
  report.text = Format("Remain Port ....  %d ", remainingPorts_);
  if (shown && slot < 8) {
    slots_[slot].picture = SlotPicture::Pass;
    slots_[slot].status = "PASS!";
  }
  ShowSlot(slot);
  if (PortRun* run = RunOf(report.port)) FinishPort(*run, Verdict::Passed, 0, "");
  Log(report);
}

void Station::OnFail(const EngineReport& report) {
  const int slot = ports_.SlotOfPort(report.port);
  if (slot >= 0 && slot < 8) {
    slots_[slot].picture = SlotPicture::Fail;
    slots_[slot].status = "FAIL!";
  }
  ShowSlot(slot);
  ClearTimes();
  // A port that fails reports each refusal on its way out; the companion and the jig hear of
  // its failure once.
  PortRun* run = RunOf(report.port);
  const bool first = !run || run->verdict != Verdict::Failed;
  if (first) {
    Q_EMIT portFailed(report.port);
    Q_EMIT jigEvent(3, report.port);
  }
  if (run && first) FinishPort(*run, Verdict::Failed, report.value, report.text);
  Log(report);
}

void Station::OnStatus(const EngineReport& report) {
  const int slot = ports_.SlotOfPort(report.port);
  const bool shown = slot >= 0 && slot < DISPLAYED_SLOTS;
  if (report.value == STATUS_PORT_ADDED) {
    QTimer::singleShot(context_.timing.autoStartDelay, this, [this] { OnAutoStartCheck(); });
    if (shown) {
      slots_[slot].portPresent = true;
      slots_[slot].portLabel =
          Format("%d:[%s]", slot, PortName(report.port).c_str()).substr(0, 31);
    }
    ShowSlot(slot);
    Log(report);
  } else if (report.value == STATUS_PORT_REMOVED) {
    if (shown) {
      slots_[slot].portLabel.clear();
      slots_[slot].portPresent = false;
    }
    ShowSlot(slot);
    Log(report);
  } else if (report.value == STATUS_CLOSE_ACCEPTED) {
    if (shown && slot < 8) {
      slots_[slot].picture = SlotPicture::Reset;
      slots_[slot].status = "RESET!";
    }
    ShowSlot(slot);
  }
}

void Station::OnRunEnd(EngineReport report) {
  ports_.CollectResults(&succeeded_, &failed_);
  // Every slot is free now: the port labels go with them.
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) {
    slots_[slot].portLabel.clear();
    slots_[slot].portPresent = false;
    ShowSlot(slot);
  }
  for (auto& [port, run] : portRuns_) {
    if (run.verdict == Verdict::Waiting || run.verdict == Verdict::Running) {
      FinishPort(run, Verdict::Failed, FAIL_REQUEST, "the worker ended without a result");
    }
  }
  report.text = Format("All threads completed. (succeed %d / failed %d)", succeeded_, failed_);
  SetBusy(false);
  Log(report);
  // The watcher that sent this report is joined once it has returned from it.
  QTimer::singleShot(0, this, [this] {
    if (!busy_) ports_.ReleaseRun();
  });
  Q_EMIT runEnded(runs_, succeeded_, failed_);
  PlaceDeferredArrivals();
}

void Station::OnAutoStartCheck() {
  const int wanted = autoStartText_ == "-" ? -1 : ProfileInteger(autoStartText_);
  if (busy_ || wanted <= 0 || ports_.CountOccupiedSlots() != wanted) return;
  Start();
}

void Station::BeginPortRuns() {
  portRuns_.clear();
  const auto now = std::chrono::steady_clock::now();
  const auto utc = std::chrono::system_clock::now();
  for (int slot = 0; slot < SLOT_TABLE_SIZE; ++slot) {
    const int port = ports_.PortOfSlot(slot);
    if (port < 0) continue;
    PortRun run;
    run.run = runs_;
    run.slot = slot;
    run.port = port;
    run.usbPath = ports_.IdentityOfPort(port).path;
    run.started = now;
    run.startedUtc = utc;
    portRuns_[port] = run;
  }
}

PortRun* Station::RunOf(int port) {
  const auto it = portRuns_.find(port);
  return it == portRuns_.end() ? nullptr : &it->second;
}

void Station::FinishPort(PortRun& run, Verdict verdict, int64_t code, const std::string& message) {
  run.verdict = verdict;
  run.code = code;
  run.message = message;
  run.ended = std::chrono::steady_clock::now();
  run.endedUtc = std::chrono::system_clock::now();
  view_->PortRunChanged(run);
  Q_EMIT portFinished(run);
}

void Station::Log(const EngineReport& report) {
  // Every report reaches the log on the main thread, one at a time: no lock is taken here, so
  // an output that reports its own failure from inside a log line cannot deadlock on it.
  const int slot = report.port == NO_PORT ? -1 : ports_.SlotOfPort(report.port);
  const std::string line = FormatLogLine(slot, report.port, report.text);
  view_->AppendLog(line);
  Q_EMIT logAppended(line);
}

void Station::AbandonRun(const std::string& reason) {
  for (auto& [port, run] : portRuns_) {
    if (run.verdict == Verdict::Passed || run.verdict == Verdict::Failed) continue;
    FinishPort(run, Verdict::Failed, FAIL_REQUEST, reason);
    Log(EngineReport{port, reason, 0});
  }
}

void Station::LogLine(const std::string& text) { Log(EngineReport{NO_PORT, text, 0}); }

}  // namespace mirk3
