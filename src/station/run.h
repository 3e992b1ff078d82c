// One run of the station, from Start to its summary: the workers and their watcher, one record
// per port, the counts the window shows, and when it started. Start makes it from the ports
// placed at that moment; the station keeps it until the next Start, dropping its threads once
// the watcher's end-of-run report has been handled (Release), never while a worker or the
// watcher still waits for the main thread.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/download_options.h"
#include "engine/engine_context.h"
#include "engine/engine_report.h"
#include "engine/worker.h"
#include "station/port_run.h"

namespace mirk3 {

class Run {
 public:
  // A port of the run and where it sits.
  struct Place {
    int slot = -1;
    int port = -1;
    std::string usbPath;
  };

  Run(int number, const std::vector<Place>& places);
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  // One engine and worker per place, in slot order; returns the number of workers started.
  // Reports wait for the main thread, so none is handled before this returns, except the
  // end-of-run report of a run that could not even make its watcher.
  int Start(const DownloadOptions& options, const EngineContext& context, EngineObserver* sink);

  int Number() const { return number_; }
  int StartedPorts() const { return started_; }
  int RemainingPorts() const { return remaining_; }
  std::chrono::steady_clock::time_point StartTick() const { return startTick_; }
  // A pass counts the run down; returns the ports still running.
  int CountDown() { return --remaining_; }

  PortRun* RecordOf(int port);
  const std::map<int, PortRun>& Records() const { return records_; }
  std::map<int, PortRun>& Records() { return records_; }

  // The workers' exit codes once the end-of-run report has come: 0 passed, 1 failed.
  void CountResults(int* succeeded, int* failed) const;
  // True when the threads can be joined without waiting for anyone: the watcher has had its
  // end-of-run report handled, or nothing was started.
  bool Releasable() const;
  // Joins the watcher and the workers; the records and counts stay.
  void Release();

 private:
  int number_;
  int started_ = 0;
  int remaining_ = 0;
  std::chrono::steady_clock::time_point startTick_;
  std::map<int, PortRun> records_;  // by port
  std::unique_ptr<WorkerRun> workers_;
};

}  // namespace mirk3
