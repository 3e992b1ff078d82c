// Runs the station as mirk3-cli does, in-process: packages picked, ports placed in order, one
// Start, reports handled on this thread's event loop until the run summary. Collects the log
// lines and each port's verdict.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "station/station.h"

namespace mirk3::test {

struct RunResult {
  std::vector<std::string> log;
  int succeeded = 0;
  int failed = 0;
  bool ended = false;
  std::map<int, Verdict> lastState;                  // by port
  std::map<int, PortRun> records;                    // by port: the station's record, last seen
  std::map<int, std::vector<std::string>> failures;  // by port: "text|code" of each failure
  std::map<int, std::vector<std::string>> progress;  // by port: the text of each progress report

  // The log lines of one port ("<ID:s/ppp> " stripped), in order.
  std::vector<std::string> PortLines(int port) const;
  bool Contains(int port, const std::string& text) const;
};

// Makes the process's QCoreApplication once; the station's tests run on its event loop.
void EnsureQtApplication();

// Runs this thread's event loop, where a QtReportSink made on it hands over the workers'
// reports, until `done` holds or the time-out passes. Returns `done()`.
bool RunEventsUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Timings for tests: quick opens, no step pauses worth waiting for.
Timing QuickTiming();

RunResult RunStation(const std::vector<int>& ports, const DownloadOptions& options,
                     EngineContext context);

}  // namespace mirk3::test
