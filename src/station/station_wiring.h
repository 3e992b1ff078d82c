// What the station core is joined to besides its face, the same for the window and the
// headless station: the companion on D-Bus, the test jig, and the results records.
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "jig/jig_settings.h"
#include "jig/thread_mdl_control.h"
#include "station/companion_bus.h"
#include "station/dated_log.h"
#include "station/output_health.h"
#include "station/port_run.h"
#include "station/results_file.h"
#include "station/station.h"

namespace mirk3 {

// A companion's request starts a run as the Start button does (refused while one runs); every
// pass and failure is broadcast. A broadcast the bus could not carry (the bus died) is a loss
// told to `health`; the bus tries to join again at the next one.
void AttachCompanion(Station& station, CompanionBus& bus, OutputHealth& health);

// The test jig of the settings' [D300Jig]: set up once now, when the settings name one, then
// told of every start, pass and failure at the phone's jig position. Its log lines are the
// station's lines of no port. Null when the settings name no jig.
std::unique_ptr<CThreadMdlControl> AttachJig(Station& station, const Settings& settings,
                                             const std::string& portDir);

// Appends a record to `results` for every port whose result is known. A record that cannot be
// written is a loss told to `health`, and the run goes on.
void AttachResults(Station& station, ResultsFile& results, OutputHealth& health);

// What the log dir holds for a station: the dated log and the dated results records beside it.
struct LogDirFiles {
  explicit LogDirFiles(const std::string& dir, WallClock clock = std::chrono::system_clock::now)
      : log(dir, clock) {}
  DatedLog log;
  ResultsFile results;
};

// Appends every log line of the station to <dir>/mirk3-YYYY-MM-DD.log and every port's record
// to <dir>/results-YYYY-MM-DD.jsonl, making the dir when missing. Fails, with why, when the
// dir or today's files cannot be made or are not files that can take lines (a FIFO). A line
// that cannot be written is a loss told to `health` (never into the failing log itself), and
// the run goes on. Keep the files as long as the station.
Result<std::unique_ptr<LogDirFiles>> AttachLogDir(Station& station, const std::string& dir,
                                                  OutputHealth& health,
                                                  WallClock clock = std::chrono::system_clock::now);

// The packages of the run Start would make now, with their sizes.
std::vector<RunPackage> RunPackages(const Station& station);

}  // namespace mirk3
