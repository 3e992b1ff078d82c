#include "station/station.h"

#include <QTimer>

#include "station/station_settings.h"
#include "base/text.h"
#include "packages/meta_data_results.h"
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

Station::Station(StationView* view, EngineObserver* sink, EngineContext context)
    : view_(view),
      sink_(sink),
      context_(std::move(context)),
      ports_([this](PortChange change, int port) { OnPortChange(change, port); },
             [this](const std::string& text) { QueueMessage(text); }),
      slots_(DISPLAYED_SLOTS),
      carriesPackages_(ReadOneClickTrailer(context_.ownExecutablePath).has_value()) {
  // A package is checked once in the station's life, not once a run: its verdict stays while
  // the file is the same file.
  if (!context_.metaDataResults) context_.metaDataResults = std::make_shared<MetaDataResults>();
  ApplySettings(Settings{});
}

Station::~Station() {
  // A station that goes while its run is still going leaves the process with it: the workers
  // are never cancelled, and joining them here would wait for reports no one handles. Once the
  // end-of-run report has been handled, the watcher only returns: it is joined.
  const bool someoneWaits = state_ == StationState::Running || handlingRunEnd_;
  if (run_ && someoneWaits && !run_->Releasable()) (void)run_.release();
}

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

// Why a request that only an idle station takes is refused now, as a log line; false when the
// station is idle and the request may go on.
bool Station::Refused(const std::string& what) {
  const char* why = nullptr;
  switch (state_) {
    case StationState::Idle:
      return false;
    case StationState::CheckingPick:
      why = "a package is being checked";
      break;
    case StationState::Running:
      why = "a run is in progress";
      break;
    case StationState::Ending:
      why = "a run is ending";
      break;
  }
  LogLine(what + " refused: " + why);
  return true;
}

bool Station::Start() {
  // Ctrl+S, a companion's request or an auto start while busy: the ports being served are never
  // served twice, and a run is never started from inside another step's event loop.
  if (Refused("Start")) return false;
  if (!HasSomethingToRun()) {
    view_->ShowMessage("No binary file is selected.", "Mirk 3");
    return false;
  }
  NormalizePackageNames();
  const DownloadOptions options = RunOptions();
  const std::vector<Run::Place> places = PlacedPorts();
  // A port in this run is no longer a late arrival: it is never placed twice.
  for (const Run::Place& place : places) std::erase(deferredArrivals_, PortName(place.port));
  SetState(StationState::Running);
  ResetSlotDisplays();
  succeeded_ = failed_ = 0;
  ++runs_;
  run_ = std::make_unique<Run>(runs_, places);
  Run* run = run_.get();
  const int started = run->Start(options, context_, sink_);
  Q_EMIT runStarted(run->Number(), started);
  return true;
}

bool Station::StartForCompanion() {
  if (!Busy() && ports_.CountOccupiedSlots() == 0) {
    LogLine("Start refused: the companion asked for a run, and no phone is in a slot");
    return false;
  }
  return Start();
}

std::vector<Run::Place> Station::PlacedPorts() const {
  std::vector<Run::Place> places;
  for (int slot = 0; slot < SLOT_TABLE_SIZE; ++slot) {
    const int port = ports_.PortOfSlot(slot);
    if (port >= 0) places.push_back({slot, port, ports_.IdentityOfPort(port).path});
  }
  return places;
}

const std::map<int, PortRun>& Station::PortRuns() const {
  static const std::map<int, PortRun> none;
  return run_ ? run_->Records() : none;
}

bool Station::HasSomethingToRun() const {
  // A One Click program's own packages count as chosen.
  return carriesPackages_ || AnythingChosen(RunOptions());
}

bool Station::Reset() {
  if (Refused("Reset")) return false;
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

void Station::SetState(StationState state) {
  const bool wasBusy = Busy();
  state_ = state;
  if (Busy() != wasBusy) enables_.SetBusy(Busy(), settings_);
  view_->ControlsChanged();
  if (wasBusy && !Busy()) Q_EMIT becameIdle();
  // An auto start that came while busy is looked at again, after the same settle.
  if (!Busy() && autoStartDue_) {
    autoStartDue_ = false;
    QTimer::singleShot(context_.timing.autoStartDelay, this, [this] { OnAutoStartCheck(); });
  }
}

void Station::QueueMessage(const std::string& text) {
  QTimer::singleShot(0, this, [this, text] { view_->ShowMessage(text); });
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

void Station::HandleEvent(const PortEvent& event) {
  const int port = event.port;
  std::visit(
      [this, port](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, Note>) {
          Log(port, e.text);
        } else if constexpr (std::is_same_v<E, StepStarted>) {
          if (PortRun* run = RunOf(port)) run->stage = e.name;
        } else if constexpr (std::is_same_v<E, DeviceIdentified>) {
          OnIdentified(port, e);
        } else if constexpr (std::is_same_v<E, RunEnded>) {
          OnRunEnd();
        } else {
          On(port, e);
        }
      },
      event.event);
}

void Station::On(int port, const DownloadStarted& started) {
  ports_.SlotTotal(ports_.SlotOfPort(port), started.total);
  if (PortRun* run = RunOf(port)) {
    run->total = started.total;
    view_->PortRunChanged(*run);
  }
  Q_EMIT jigEvent(JigStart, port);
  Log(port, started.text);
}

void Station::On(int port, const Progress& progress) {
  const int slot = ports_.SlotOfPort(port);
  if (slot < 0 || slot >= DISPLAYED_SLOTS) return;
  SlotDisplay& d = slots_[slot];
  const uint64_t total = ports_.SlotTotal(slot);
  // Before the total is known there is no percentage: the bar stays where it is.
  if (total != 0) {
    const double share = static_cast<double>(progress.sent) * 100.0 / static_cast<double>(total);
    d.progress = static_cast<int>(share > 100.0 ? 100.0 : share);
  }
  if (slot < 8) {
    d.picture = SlotPicture::InProgress;
    d.status = progress.what;
  }
  ShowSlot(slot);
  if (PortRun* run = RunOf(port)) {
    run->step = progress.what;
    run->sent = progress.sent;
    if (run->sent > 0 && run->firstByte == std::chrono::steady_clock::time_point{}) {
      run->firstByte = std::chrono::steady_clock::now();
    }
    if (run->verdict == Verdict::Waiting) run->verdict = Verdict::Running;
    view_->PortRunChanged(*run);
  }
}

void Station::OnIdentified(int port, const DeviceIdentified& identified) {
  PortRun* run = RunOf(port);
  if (!run) return;
  run->model = identified.model;
  run->deviceItems.clear();
  for (const DeviceInfoItem& item : identified.items) run->deviceItems.push_back(item.text);
  view_->PortRunChanged(*run);
}

// The engine's "Completed.." is not logged: the log says how many ports remain instead.
void Station::On(int port, const mirk3::Passed&) {
  if (!run_) return;
  const int slot = ports_.SlotOfPort(port);
  const bool shown = slot >= 0 && slot < DISPLAYED_SLOTS;
  if (shown && slot < 8) slots_[slot].status.clear();
  Q_EMIT portPassed(port);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - run_->StartTick())
                           .count();
  const long long minutes = elapsed / 1000 / 60;
  const long long seconds = (elapsed / 1000) % 60;
  if (shown) {
    SlotDisplay& d = slots_[slot];
    d.timeShown = true;
    d.progressShown = false;
    d.timeText = Format(" %02lld:%02lld ", minutes, seconds);
  }
  Q_EMIT jigEvent(JigPass, port);
  const std::string remain = Format("Remain Port ....  %d ", run_->CountDown());
  if (shown && slot < 8) {
    slots_[slot].picture = SlotPicture::Pass;
    slots_[slot].status = "PASS!";
  }
  ShowSlot(slot);
  if (PortRun* run = RunOf(port)) FinishPort(*run, Verdict::Passed, 0, "");
  Log(port, remain);
}

// Every refusal a failing port meets is shown on its slot and in the log.
void Station::On(int port, const FailureShown& failure) {
  const int slot = ports_.SlotOfPort(port);
  if (slot >= 0 && slot < 8) {
    slots_[slot].picture = SlotPicture::Fail;
    slots_[slot].status = "FAIL!";
  }
  ShowSlot(slot);
  ClearTimes();
  Log(port, failure.text);
}

// The port's verdict: the companion and the jig hear of its failure once, and its record is
// finished with the first refusal it showed.
void Station::On(int port, const mirk3::Failed& failed) {
  PortRun* run = RunOf(port);
  if (run && run->verdict == Verdict::Failed) return;
  Q_EMIT portFailed(port);
  Q_EMIT jigEvent(JigFail, port);
  if (run) {
    run->cause = failed.cause;
    run->failedStep = failed.step;
    FinishPort(*run, Verdict::Failed, failed.code, failed.text);
  }
}

void Station::On(int port, const CloseAccepted&) {
  const int slot = ports_.SlotOfPort(port);
  if (slot >= 0 && slot < 8) {
    slots_[slot].picture = SlotPicture::Reset;
    slots_[slot].status = "RESET!";
  }
  ShowSlot(slot);
}

void Station::OnPortAdded(int port) {
  const int slot = ports_.SlotOfPort(port);
  QTimer::singleShot(context_.timing.autoStartDelay, this, [this] { OnAutoStartCheck(); });
  if (slot >= 0 && slot < DISPLAYED_SLOTS) {
    slots_[slot].portPresent = true;
    slots_[slot].portLabel = Format("%d:[%s]", slot, PortName(port).c_str()).substr(0, 31);
  }
  ShowSlot(slot);
  Log(port, "Added!!");
}

void Station::OnPortRemoved(int port) {
  const int slot = ports_.SlotOfPort(port);
  const bool shown = slot >= 0 && slot < DISPLAYED_SLOTS;
  // A port that left after its run no longer holds the slot it is logged with: the slot may
  // show another port now.
  if (shown && ports_.PortOfSlot(slot) == -1) {
    slots_[slot].portLabel.clear();
    slots_[slot].portPresent = false;
  }
  ShowSlot(slot);
  Log(port, "Removed!!");
}

void Station::OnPortChange(PortChange change, int port) {
  switch (change) {
    case PortChange::Added:
      OnPortAdded(port);
      break;
    case PortChange::Removed:
      OnPortRemoved(port);
      break;
    case PortChange::Waiting:
      LogLine(PortName(port) + " waits for a free slot");
      break;
  }
}

void Station::OnRunEnd() {
  // Only the watcher of the run in progress ends it.
  if (!run_ || state_ != StationState::Running) return;
  run_->CountResults(&succeeded_, &failed_);
  ports_.FreeAllSlots();
  // Every slot is free now: the port labels go with them.
  for (int slot = 0; slot < DISPLAYED_SLOTS; ++slot) {
    slots_[slot].portLabel.clear();
    slots_[slot].portPresent = false;
    ShowSlot(slot);
  }
  for (auto& [port, record] : run_->Records()) {
    if (record.verdict == Verdict::Waiting || record.verdict == Verdict::Running) {
      FinishPort(record, Verdict::Failed, FAIL_REQUEST, "the worker ended without a result");
    }
  }
  SetState(StationState::Ending);
  LogLine(Format("All threads completed. (succeed %d / failed %d)", succeeded_, failed_));
  handlingRunEnd_ = true;  // the watcher waits until this returns
  Q_EMIT runEnded(run_->Number(), succeeded_, failed_);
  handlingRunEnd_ = false;
  // The watcher that sent this report waits until it has been handled: the run's threads are
  // released, and the waiting ports placed, once it has returned.
  QTimer::singleShot(0, this, [this] { FinishEnding(); });
}

void Station::FinishEnding() {
  if (state_ != StationState::Ending) return;
  if (!run_->Releasable()) {
    // A message box's event loop can run this before the watcher has been let go.
    QTimer::singleShot(5, this, [this] { FinishEnding(); });
    return;
  }
  run_->Release();
  // Still ending: a message box raised by a placement cannot let a Start in.
  PlaceDeferredArrivals();
  PlaceWaitingPorts();
  SetState(StationState::Idle);
}

void Station::OnAutoStartCheck() {
  const int wanted = autoStartText_ == "-" ? -1 : ProfileInteger(autoStartText_);
  if (wanted <= 0) return;
  if (Busy()) {
    autoStartDue_ = true;
    return;
  }
  if (ports_.CountOccupiedSlots() == wanted) Start();
}

PortRun* Station::RunOf(int port) { return run_ ? run_->RecordOf(port) : nullptr; }

void Station::FinishPort(PortRun& run, Verdict verdict, int64_t code, const std::string& message) {
  run.verdict = verdict;
  run.code = code;
  run.message = message;
  run.ended = std::chrono::steady_clock::now();
  run.endedUtc = std::chrono::system_clock::now();
  view_->PortRunChanged(run);
  Q_EMIT portFinished(run);
}

void Station::Log(int port, const std::string& text) {
  // Every line reaches the log on the main thread, one at a time: no lock is taken here, so
  // an output that reports its own failure from inside a log line cannot deadlock on it.
  const int slot = port == NO_PORT ? -1 : ports_.SlotOfPort(port);
  const std::string line = FormatLogLine(slot, port, text);
  view_->AppendLog(line);
  Q_EMIT logAppended(line);
}

void Station::AbandonRun(const std::string& reason) {
  if (!run_) return;
  for (auto& [port, run] : run_->Records()) {
    if (run.verdict == Verdict::Passed || run.verdict == Verdict::Failed) continue;
    FinishPort(run, Verdict::Failed, FAIL_REQUEST, reason);
    Log(port, reason);
  }
}

void Station::LogLine(const std::string& text) { Log(NO_PORT, text); }

}  // namespace mirk3
