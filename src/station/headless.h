// What the station's commands share when they run the station core without a window: a Qt
// application when none runs yet, the command line's choices handed to the core as the window's
// controls would hand them, and waiting on the event loop for the end of a run.
#pragma once

#include <QCoreApplication>
#include <memory>
#include <ostream>
#include <string>

#include "station/qt_report_sink.h"
#include "station/station.h"
#include "engine/download_options.h"

namespace mirk3 {

// A station core with the observer that carries the workers' events to it, on the thread
// that makes it.
class StationCore {
 public:
  StationCore(StationView* view, EngineContext context)
      : sink_([this](const PortEvent& event) {
          station_.HandleEvent(event);
        }),
        station_(view, &sink_, std::move(context)) {}
  Station& Core() { return station_; }

 private:
  QtReportSink sink_;  // made first: the station hands it to its port table
  Station station_;
};

// The process's QCoreApplication; made here (and owned by the returned pointer) when there is
// none yet, else the returned pointer is empty.
std::unique_ptr<QCoreApplication> EnsureCoreApplication();

// The options and packages of `chosen` set in the core as the window's controls set them: every
// enabled package is picked (an ".md5" package is checked), the PIT path is taken without
// changing Re-Partition, the check boxes and the run's numbers follow `chosen`. False when a
// package was refused; every package is picked all the same.
bool ChooseInStation(Station& station, const DownloadOptions& chosen);

// Runs the event loop until the station is idle again: its run in progress has ended and its
// threads are released.
void WaitForRunEnd(Station& station);

// Loads the public meta-data key of `keyFile` into `context`; "<who>: why" on `err` when it
// cannot be read.
bool LoadMetaKey(const std::string& keyFile, EngineContext& context, std::ostream& err,
                 const std::string& who);

}  // namespace mirk3
