// The station's run control: Start gathers one option record and launches a worker per
// occupied slot; the six report handlers drive the slots, the log and the run summary. One
// object on the main thread, shared by every face of the station.
#pragma once

#include <chrono>
#include <string>

#include "app/station_view.h"
#include "engine/download_options.h"
#include "engine/engine_context.h"
#include "engine/engine_report.h"
#include "ports/port_slot_manager.h"

namespace mirk3 {

// "<ID:%d/%03d> %s", or "<OSM> %s" for a report of no port.
std::string FormatLogLine(int slot, int port, const std::string& text);

class Station {
 public:
  Station(StationView* view, ReportSink* sink, EngineContext context);

  CPortSlotManager& Ports() { return ports_; }
  // Starts a run; false (and a message) when nothing is chosen or a run is in progress.
  bool Start(const DownloadOptions& options);
  // Handles one report from a worker, the watcher or the port manager.
  void HandleReport(int message, const EngineReport& report);
  // A package the operator picked for `slot` into `chosen` (package_pick.h). Refused, and
  // nothing changed, while a run is in progress: the package controls are then disabled.
  bool PickPackage(int slot, const std::string& path, DownloadOptions& chosen);

  bool Busy() const { return busy_; }
  int Succeeded() const { return succeeded_; }
  int Failed() const { return failed_; }

 private:
  void OnStart(const EngineReport& report);
  void OnPass(EngineReport report);
  void OnFail(const EngineReport& report);
  void OnProgress(const EngineReport& report);
  void OnStatus(const EngineReport& report);
  void OnRunEnd(EngineReport report);
  void Log(const EngineReport& report);

  StationView* view_;
  EngineContext context_;
  CPortSlotManager ports_;
  bool busy_ = false;
  std::chrono::steady_clock::time_point startTick_;
  int remainingPorts_ = 0;
  int succeeded_ = 0;
  int failed_ = 0;
  bool carriesPackages_;  // this program is a One Click program
};

// True when the options choose something to do (a package, a partition table, device info or
// RTN); Start refuses a run without.
bool AnythingChosen(const DownloadOptions& options);

}  // namespace mirk3
