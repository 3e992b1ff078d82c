#include "station/station_wiring.h"

#include <sys/stat.h>

#include "jig/jig_notice.h"
#include "serial/serial_line.h"

namespace mirk3 {

void AttachCompanion(Station& station, CompanionBus& bus, OutputHealth& health) {
  QObject::connect(&bus, &CompanionBus::startRequested, &station,
                   [&station] { station.StartForCompanion(); });
  const auto broadcast = [&bus, &health](int port, int result) {
    const Status sent = bus.Broadcast(port, result);
    if (!sent) health.Lost("the companion bus", sent.error().text);
  };
  QObject::connect(&station, &Station::portPassed, &bus,
                   [broadcast](int port) { broadcast(port, CompanionBus::kPassed); });
  QObject::connect(&station, &Station::portFailed, &bus,
                   [broadcast](int port) { broadcast(port, CompanionBus::kFailed); });
}

std::unique_ptr<CThreadMdlControl> AttachJig(Station& station, const Settings& settings,
                                             const std::string& portDir) {
  const JigSettings jigSettings = ResolveJigSettings(
      [&settings](const std::string& key) { return settings.file.String("D300Jig", key, ""); },
      portDir.empty() ? DefaultPortDir() : portDir);
  if (jigSettings.device.empty()) return nullptr;
  auto jig = std::make_unique<CThreadMdlControl>(
      station.Context().timing, [&station](const std::string& line) { station.LogLine(line); });
  jig->RunJigSetup(jigSettings);
  CThreadMdlControl* control = jig.get();
  QObject::connect(&station, &Station::jigEvent, &station,
                   [&station, control, jigSettings](JigEventType event, int port) {
                     NotifyJigOfPort(*control, jigSettings, event, port,
                                     station.Ports().IdentityOfPort(port).path);
                   });
  return jig;
}

void AttachResults(Station& station, ResultsFile& results, OutputHealth& health) {
  auto packages = std::make_shared<std::vector<RunPackage>>();
  QObject::connect(&station, &Station::runStarted, &station,
                   [&station, packages](int, int) { *packages = RunPackages(station); });
  QObject::connect(&station, &Station::portFinished, &station,
                   [&results, &health, packages](const PortRun& run) {
                     const Status written = results.Append(run, *packages);
                     if (written) return;
                     health.Lost("the results file \"" + results.Path() + "\"",
                                 written.error().text);
                   });
}

Result<std::unique_ptr<LogDirFiles>> AttachLogDir(Station& station, const std::string& dir,
                                                  OutputHealth& health, WallClock clock) {
  if (Status made = PrepareLogDir(dir); !made) return made.error();
  auto files = std::make_unique<LogDirFiles>(dir, clock);
  Status opened = files->log.Open();
  if (opened) opened = files->results.OpenDated(dir, clock);
  if (!opened) return opened.error();
  AttachResults(station, files->results, health);
  auto writing = std::make_shared<bool>(false);
  DatedLog* log = &files->log;
  QObject::connect(&station, &Station::logAppended, &station,
                   [&health, log, dir, writing](const std::string& line) {
                     // The news of this log's failure is itself a log line: it must not come
                     // back into the log that is failing.
                     if (*writing) return;
                     *writing = true;
                     if (const Status written = log->Append(line); !written) {
                       health.Lost("the log in \"" + dir + "\"", written.error().text);
                     }
                     *writing = false;
                   });
  return files;
}

std::vector<RunPackage> RunPackages(const Station& station) {
  std::vector<RunPackage> packages;
  const DownloadOptions options = station.RunOptions();
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (!options.slotEnabled[slot]) continue;
    struct stat st {};
    const uint64_t size = ::stat(options.slotPath[slot].c_str(), &st) == 0 ? st.st_size : 0;
    packages.push_back({SLOT_NAMES[slot], options.slotPath[slot], size});
  }
  return packages;
}

}  // namespace mirk3
