// The station's core: the window's logic and state, shared by every face. It holds what the
// window shows (options, package fields, enable states, the 56 slot displays, the size text,
// its state), runs Start and Reset, handles every report of the workers and the port table,
// follows the port dir, starts a run by itself when enough phones are in, and tells its face
// (StationView) what changed. One object on the main thread, on Qt's event loop; the engine
// knows nothing of it but its observer, whose typed events come to HandleEvent.
//
// The station is in one state at a time: idle, checking a pick (an .md5 package's digest),
// running, or ending a run (its summary written, its threads not yet released, the waiting
// ports being placed). The state changes in SetState only. Start, Reset, picks and drops are
// taken only when idle and refused with a log line otherwise, whichever event loop they come
// from: a message box's, the BL pick's pause, or the main loop.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <array>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "station/port_run.h"
#include "station/run.h"
#include "station/station_view.h"
#include "engine/download_options.h"
#include "engine/engine_context.h"
#include "engine/engine_events.h"
#include "jig/frames.h"
#include "ports/port_dir.h"
#include "ports/port_slot_manager.h"
#include "settings/control_enables.h"
#include "settings/settings.h"

namespace mirk3 {

// "<ID:%d/%03d> %s", or "<OSM> %s" for a report of no port.
std::string FormatLogLine(int slot, int port, const std::string& text);

// The picture of a large slot.
enum class SlotPicture { Idle, InProgress, Pass, Fail, Reset };

// What one slot of the window shows.
struct SlotDisplay {
  SlotPicture picture = SlotPicture::Idle;  // large slots only
  std::string status;                       // large slots: step, "PASS!", "FAIL!", "RESET!"
  std::string timeText;                     // " %02d:%02d " after a pass
  bool timeShown = false;                   // the time picture and text
  int progress = 0;                         // 0-100
  bool progressShown = true;
  std::string portLabel;  // "%d:[ttyACM%d]", empty when no port
  bool portPresent = false;
};

// The package check boxes and path fields, in slot order BL, AP, CP, CSC, UMS, and the PIT.
struct PackageFields {
  std::array<int32_t, SLOT_COUNT> use{};
  std::array<std::string, SLOT_COUNT> path;
  std::string pitPath;
};

enum class StationState { Idle, CheckingPick, Running, Ending };

class Station : public QObject {
  Q_OBJECT

 public:
  // `sink` carries the workers' events to HandleEvent on this thread (a QtReportSink).
  Station(StationView* view, EngineObserver* sink, EngineContext context);
  ~Station() override;

  // The settings as LoadSettings read them: options, enables, reset defaults, port rules.
  void ApplySettings(const Settings& settings, const std::string& portDir = "");
  const Settings& CurrentSettings() const { return settings_; }
  // The factory reset time and packet size every worker gets, instead of the settings'.
  void SetRunNumbers(int32_t factoryResetTime, int32_t packetSize);
  CPortSlotManager& Ports() { return ports_; }
  const EngineContext& Context() const { return context_; }

  // Follows the port dir: a first scan, then every arrival and removal. Fails, with why, when
  // the dir cannot be watched.
  Status WatchPorts();
  // A device change of the port dir: arrivals wait while busy and are placed when the station
  // is idle again; removals are taken at once.
  void OnDeviceChange(int event, const std::string& name);
  // What the port dir holds now is the truth (events were lost): placed ports that are gone
  // are removed at once, ports that are there and not placed arrive.
  void ResyncPorts();

  // --- run control
  // Starts a run from the options and package fields. Refused (false), with a log line or a
  // message and nothing changed, while a run is in progress or when nothing is chosen.
  bool Start();
  // A companion's request for a run: refused, with a log line, when no phone is placed.
  bool StartForCompanion();
  // Back to the idle state: options to their reset defaults, fields and the log emptied, slot
  // displays reset. Refused while a run is in progress.
  bool Reset();
  // Ends the run as far as its records go: every port of it without a result is finished as
  // FAIL with `reason` (its record written, a log line), for a station that stops with phones
  // in flight. The workers are not stopped.
  void AbandonRun(const std::string& reason);
  // A slot taken out of use (quarantined) or given back: said in the log; a port that waits for
  // a slot may take it once it is open again.
  void SetSlotClosed(int slot, bool closed);
  // The auto-start choice: "-" (never) or "1" ... "8" (when that many slots are occupied).
  void SetAutoStart(const std::string& text);
  const std::string& AutoStart() const { return autoStartText_; }
  // Handles one event of a worker or the watcher.
  void HandleEvent(const PortEvent& event);

  // --- package selection
  // A package picked for `slot` (BL..UMS) with its button: an .md5 package is checked first.
  bool PickPackage(int slot, const std::string& path);
  // A partition table picked on the Pit page: sets Re-Partition.
  void PickPit(const std::string& path);
  // Files dropped on the window, in drop order; returns how many filled a field.
  int DropFiles(const std::vector<std::string>& paths);
  // The operator's check boxes.
  void SetPackageUsed(int slot, bool used);
  RunFlags& Options() { return options_; }
  void OptionsChanged();
  const PackageFields& Packages() const { return packages_; }
  const std::string& BinarySizeText() const { return binarySizeText_; }

  // A log line of no port ("<OSM> ...").
  void LogLine(const std::string& text);
  // Whether Start would find something to do (packages, options, or this program's own).
  bool HasSomethingToRun() const;

  // --- state
  StationState State() const { return state_; }
  bool Busy() const { return state_ != StationState::Idle; }
  const ControlEnables& Enables() const { return enables_; }
  const SlotDisplay& Slot(int slot) const { return slots_.at(slot); }
  int StartedPorts() const { return run_ ? run_->StartedPorts() : 0; }
  int RemainingPorts() const { return run_ ? run_->RemainingPorts() : 0; }
  int Succeeded() const { return succeeded_; }  // of the last run
  int Failed() const { return failed_; }
  int Runs() const { return runs_; }
  // The records of the current run, or of the last one once it has ended.
  const std::map<int, PortRun>& PortRuns() const;
  // The record Start would hand the workers now.
  DownloadOptions RunOptions() const;

 Q_SIGNALS:
  void runStarted(int run, int workers);
  void portPassed(int port);
  void portFailed(int port);
  // A port's result is known: its record is final.
  void portFinished(const mirk3::PortRun& run);
  void runEnded(int run, int succeeded, int failed);
  // The station is idle again: a run's threads are released and its waiting ports placed, or a
  // pick's check is over. Start is taken from here on.
  void becameIdle();
  // The port dir cannot be followed any more: no phone will be seen to come or go.
  void portWatchFailed(const std::string& why);
  // Start, pass and fail of a port, for the jig.
  void jigEvent(JigEventType event, int port);
  // A line was appended to the log (as the face shows it, without line end).
  void logAppended(const std::string& line);

 private:
  void On(int port, const DownloadStarted& started);
  void On(int port, const Progress& progress);
  void On(int port, const FailureShown& failure);
  void On(int port, const mirk3::Failed& failed);
  void On(int port, const mirk3::Passed&);
  void On(int port, const CloseAccepted&);
  void OnIdentified(int port, const DeviceIdentified& identified);
  void OnPortAdded(int port);
  void OnPortRemoved(int port);
  void OnPortChange(PortChange change, int port);
  void OnRunEnd();
  void FinishEnding();
  void OnAutoStartCheck();
  void Log(int port, const std::string& text);
  void SetState(StationState state);
  bool Refused(const std::string& what);
  // Operator messages of the port table, shown once the handler that raised them has returned,
  // so that no message box's event loop runs inside a placement.
  void QueueMessage(const std::string& text);
  void ResetSlotDisplays();
  void ClearTimes();
  void ShowSlot(int slot);
  bool CheckPackageMd5(const std::string& path);
  void UpdateBinarySize();
  void NormalizePackageNames();
  std::vector<Run::Place> PlacedPorts() const;
  PortRun* RunOf(int port);
  void FinishPort(PortRun& run, Verdict verdict, int64_t code, const std::string& message);
  void ReadPortEvents();
  void PlaceDeferredArrivals();
  void PlaceWaitingPorts();

  StationView* view_;
  EngineObserver* sink_;
  EngineContext context_;
  CPortSlotManager ports_;
  Settings settings_;
  ControlEnables enables_;
  RunFlags options_;
  PackageFields packages_;
  std::string autoStartText_ = "-";
  std::string binarySizeText_;
  std::vector<SlotDisplay> slots_;
  StationState state_ = StationState::Idle;
  bool autoStartDue_ = false;
  bool handlingRunEnd_ = false;  // an auto start was refused while busy: check again when idle
  int succeeded_ = 0;
  int failed_ = 0;
  int runs_ = 0;
  std::unique_ptr<Run> run_;  // the current run, or the last one
  bool carriesPackages_;  // this program is a One Click program
  // Ports that arrived while busy: placed when the station is idle again, if they are still
  // there, so that a phone plugged in while others were being flashed is not lost.
  std::vector<std::string> deferredArrivals_;
  PortWatcher watcher_;
  std::unique_ptr<QSocketNotifier> watcherNotifier_;
};

// True when the options choose something to do (a package, a partition table, device info or
// RTN); Start refuses a run without.
bool AnythingChosen(const DownloadOptions& options);

}  // namespace mirk3
