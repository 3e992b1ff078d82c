// The start-up both faces share: the settings file, the meta-data key, the station core (made
// by the face on its own view), the lock of the port dir, the companion bus, the log dir, the
// results file, the jig, the packages and the watch of the port dir, in that order. Each step
// that could wait for ever has a limit or is refused: a silent bus is given up after 5 s, a
// FIFO as an output is refused, and a stop signal ends the wait at once. The first step that
// fails ends the start-up with the status and the words the face shows.
#pragma once

#include <functional>
#include <iostream>
#include <memory>
#include <string>

#include "base/result.h"
#include "engine/engine_context.h"
#include "jig/thread_mdl_control.h"
#include "settings/settings.h"
#include "station/companion_bus.h"
#include "station/history_wiring.h"
#include "station/output_health.h"
#include "station/results_file.h"
#include "station/station.h"
#include "station/station_lock.h"
#include "station/station_wiring.h"

namespace mirk3 {

struct StationConfig {
  std::string who;      // "mirk3-cli station", "mirk3": the start of every line on standard error
  std::string iniPath;  // empty: ./Mirk3.ini
  std::string metaKeyFile;  // empty: the settings' MetaDataKey, else the built-in key
  std::string resultsPath;  // empty: none
  std::string logDir;       // empty: the settings' LogDir
  HistoryOptions history;   // the results database, metrics and slot health; empty: none
  EngineContext context;
  bool noBus = false;
  bool systemBus = false;
  int stopFd = -1;                 // readable when a stop signal is waiting (a signalfd); -1: none
  std::ostream* err = &std::cerr;  // the settings' problems and the key's refusal, as read
  // The face makes the core on its view, with the context the key was loaded into, and applies
  // the settings (the window shows their title too).
  std::function<Station&(const EngineContext&, const Settings&)> makeCore;
  // Picks the command line's packages before the watch starts; false refuses the start.
  std::function<bool(Station&)> choosePackages;
  // False (the window): a port dir that cannot be watched is said in `watchProblem`, not
  // refused, and a station with nothing chosen yet opens all the same.
  bool strict = true;
};

// Why the station did not open.
struct StartupError {
  int status = kExitNothingRan;
  std::string text;      // the line for standard error, after "<who>: "; empty: already said
  std::string message;   // the box the window shows; empty: none
  bool stopped = false;  // a stop signal ended the start-up
};

// Everything the start-up made, kept as long as the station runs.
struct OpenedStation {
  explicit OpenedStation(const std::string& who) : health(who) {}
  Settings settings;
  Station* station = nullptr;  // owned by the face
  OutputHealth health;
  std::unique_ptr<StationLock> lock;
  std::unique_ptr<CompanionBus> bus;  // null with --no-bus
  std::unique_ptr<LogDirFiles> logFiles;
  std::unique_ptr<ResultsFile> results;
  std::unique_ptr<StationHistory> history;  // null without a results database or metrics
  std::unique_ptr<CThreadMdlControl> jig;
  std::string watchProblem;  // not strict: why the port dir is not followed
};

struct OpenOutcome {
  std::unique_ptr<OpenedStation> opened;  // null when the start-up failed
  StartupError error;
  explicit operator bool() const { return opened != nullptr; }
};

OpenOutcome OpenStation(const StationConfig& config);

// The lock of a port dir, or of one port for a run on given ports ("ttyACM3 in /dev").
Result<std::unique_ptr<StationLock>> LockPortDir(const std::string& portDir);
Result<std::unique_ptr<StationLock>> LockPort(const std::string& portDir, int port);

}  // namespace mirk3
