// What the station core is joined to besides its face, the same for the window and the
// headless station: the companion on D-Bus, the test jig, and the results records.
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "app/companion_bus.h"
#include "app/port_run.h"
#include "app/results_file.h"
#include "app/station.h"
#include "jig/jig_settings.h"
#include "jig/thread_mdl_control.h"

namespace mirk3 {

// A companion's request starts a run as the Start button does (refused while one runs); every
// pass and failure is broadcast.
void AttachCompanion(Station& station, CompanionBus& bus);

// The test jig of the settings' [D300Jig]: set up once now, when the settings name one, then
// told of every start, pass and failure at the phone's jig position. Its log lines are the
// station's lines of no port. Null when the settings name no jig.
std::unique_ptr<CThreadMdlControl> AttachJig(Station& station, const Settings& settings,
                                             const std::string& portDir);

// Appends a record to `results` for every port whose result is known. A record that cannot be
// written is said once in the log, and the run goes on.
void AttachResults(Station& station, ResultsFile& results);

// The packages of the run Start would make now, with their sizes.
std::vector<RunPackage> RunPackages(const Station& station);

}  // namespace mirk3
