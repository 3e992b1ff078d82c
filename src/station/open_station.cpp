#include "station/open_station.h"

#include "base/file.h"
#include "serial/serial_line.h"
#include "station/headless.h"
#include "station/station_settings.h"

namespace mirk3 {
namespace {

StartupError Refused(std::string text, std::string message = "") {
  return StartupError{kExitNothingRan, std::move(text), std::move(message), false};
}

// The start-up refused for `error`, said on standard error and in the window's box alike.
StartupError RefusedFor(const Error& error) { return Refused(error.text, error.text); }

std::string PortDirOf(const EngineContext& context) {
  return context.portDir.empty() ? DefaultPortDir() : context.portDir;
}

// The key file, the settings' or the command line's, read into `context`. A FIFO or a device
// named as the key would hold the read: it is refused first.
std::optional<StartupError> LoadKey(const StationConfig& config, const Settings& settings,
                                    EngineContext& context) {
  const std::string keyFile =
      config.metaKeyFile.empty() ? settings.metaDataKey : config.metaKeyFile;
  if (keyFile.empty()) return std::nullopt;
  const Result<OpenedFile> file = OpenRegularFile(keyFile);
  if (!file) return Refused("the meta-data key " + DescribeFileProblem(keyFile, file.error().text));
  if (!LoadMetaKey(keyFile, context, *config.err, config.who)) return Refused("");
  return std::nullopt;
}

std::optional<StartupError> JoinBus(const StationConfig& config, OpenedStation& s) {
  if (config.noBus) return std::nullopt;
  s.bus = std::make_unique<CompanionBus>();
  bool stopped = false;
  if (const Status joined = s.bus->Connect(config.systemBus, config.stopFd, &stopped); !joined) {
    StartupError refused =
        Refused(joined.error().text + "\n" + config.who + ": --no-bus runs without a companion",
                CompanionBus::kRegistrationFailed);
    refused.stopped = stopped;
    if (stopped) refused.text = "stopped during the start-up";
    return refused;
  }
  AttachCompanion(*s.station, *s.bus, s.health);
  return std::nullopt;
}

std::optional<StartupError> OpenOutputs(const StationConfig& config, OpenedStation& s) {
  const std::string logDir = config.logDir.empty() ? s.settings.logDir : config.logDir;
  if (!logDir.empty()) {
    auto files = AttachLogDir(*s.station, logDir, s.health);
    if (!files) return RefusedFor(files.error());
    s.logFiles = std::move(files).value();
  }
  if (!config.resultsPath.empty()) {
    s.results = std::make_unique<ResultsFile>();
    if (const Status opened = s.results->Open(config.resultsPath); !opened) {
      return RefusedFor(opened.error());
    }
    AttachResults(*s.station, *s.results, s.health);
  }
  auto history = AttachHistory(*s.station, config.history);
  if (!history) return RefusedFor(history.error());
  s.history = std::move(history).value();
  if (s.history) {
    Station* station = s.station;
    s.history->OnQuarantineChange(
        [station](int slot, bool quarantined) { station->SetSlotClosed(slot, quarantined); });
  }
  return std::nullopt;
}

std::optional<StartupError> ChooseAndWatch(const StationConfig& config, OpenedStation& s) {
  if (config.choosePackages && !config.choosePackages(*s.station)) {
    return Refused("a package given is refused");
  }
  if (config.strict && !s.station->HasSomethingToRun()) {
    return Refused("nothing is chosen: give packages (--ap FILE ...) or set options");
  }
  if (const Status watched = s.station->WatchPorts(); !watched) {
    if (config.strict) return RefusedFor(watched.error());
    s.watchProblem = watched.error().text;
  }
  return std::nullopt;
}

}  // namespace

Result<std::unique_ptr<StationLock>> LockPortDir(const std::string& portDir) {
  return StationLock::Take(portDir, "the port dir " + portDir);
}

Result<std::unique_ptr<StationLock>> LockPort(const std::string& portDir, int port) {
  const std::string path = portDir + "/" + PortName(port);
  return StationLock::Take(path, PortName(port) + " in " + portDir);
}

OpenOutcome OpenStation(const StationConfig& config) {
  OpenOutcome outcome;
  auto s = std::make_unique<OpenedStation>(config.who);
  // The settings' own problems are told as they are read; a missing file is the system's message.
  const std::optional<Settings> settings =
      LoadStationSettings(config.iniPath, *config.err, config.who);
  if (!settings || !settings->present) {
    outcome.error =
        settings ? Refused(SETTINGS_MISSING_MESSAGE, SETTINGS_MISSING_MESSAGE) : Refused("");
    return outcome;
  }
  s->settings = *settings;
  EngineContext context = config.context;
  if (auto refused = LoadKey(config, s->settings, context)) {
    outcome.error = *refused;
    return outcome;
  }
  s->station = &config.makeCore(context, s->settings);
  s->health.SetLog([station = s->station](const std::string& line) { station->LogLine(line); });
  auto lock = LockPortDir(PortDirOf(context));
  if (!lock) {
    outcome.error = RefusedFor(lock.error());
    return outcome;
  }
  s->lock = std::move(lock).value();
  for (const auto& step : {JoinBus, OpenOutputs}) {
    if (auto refused = step(config, *s)) {
      outcome.error = *refused;
      return outcome;
    }
  }
  s->jig = AttachJig(*s->station, s->settings, context.portDir);
  if (auto refused = ChooseAndWatch(config, *s)) {
    outcome.error = *refused;
    return outcome;
  }
  outcome.opened = std::move(s);
  return outcome;
}

}  // namespace mirk3
