#include "station/station_wiring.h"

#include <sys/stat.h>

#include "jig/jig_notice.h"
#include "serial/serial_line.h"

namespace mirk3 {

void AttachCompanion(Station& station, CompanionBus& bus) {
  QObject::connect(&bus, &CompanionBus::startRequested, &station,
                   [&station] { station.StartForCompanion(); });
  QObject::connect(&station, &Station::portPassed, &bus,
                   [&bus](int port) { bus.Broadcast(port, CompanionBus::kPassed); });
  QObject::connect(&station, &Station::portFailed, &bus,
                   [&bus](int port) { bus.Broadcast(port, CompanionBus::kFailed); });
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
                   [&station, control, jigSettings](int event, int port) {
                     NotifyJigOfPort(*control, jigSettings, event, port,
                                     station.Ports().IdentityOfPort(port).path);
                   });
  return jig;
}

void AttachResults(Station& station, ResultsFile& results) {
  auto packages = std::make_shared<std::vector<RunPackage>>();
  auto told = std::make_shared<bool>(false);
  QObject::connect(&station, &Station::runStarted, &station,
                   [&station, packages](int, int) { *packages = RunPackages(station); });
  QObject::connect(&station, &Station::portFinished, &station,
                   [&station, &results, packages, told](const PortRun& run) {
                     std::string error;
                     if (results.Append(run, *packages, &error) || *told) return;
                     *told = true;
                     station.LogLine(error);
                   });
}

std::unique_ptr<LogDirFiles> AttachLogDir(Station& station, const std::string& dir,
                                          std::string* error, WallClock clock) {
  if (!PrepareLogDir(dir, error)) return nullptr;
  auto files = std::make_unique<LogDirFiles>(dir, clock);
  if (!files->results.OpenDated(dir, error, clock)) return nullptr;
  AttachResults(station, files->results);
  auto told = std::make_shared<bool>(false);
  DatedLog* log = &files->log;
  QObject::connect(&station, &Station::logAppended, &station,
                   [&station, log, told](const std::string& line) {
                     std::string problem;
                     if (log->Append(line, &problem) || *told) return;
                     *told = true;  // before the line, which comes back here
                     station.LogLine(problem);
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
