#include "cli/cli_station.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <optional>

#include "base/file.h"
#include "base/text.h"
#include "cli/cli_view.h"
#include "cmdline/command_line.h"
#include "serial/serial_line.h"
#include "station/command_options.h"
#include "station/headless.h"
#include "station/open_station.h"
#include "station/station_settings.h"

namespace mirk3 {
namespace {

constexpr char WHO[] = "mirk3-cli station";
// The failure of every phone still being written when a second signal ends the station.
constexpr char kStoppedMidFlash[] = "stopped by the operator mid-flash";

}  // namespace

std::optional<int> ParseStationArguments(const std::vector<std::string>& args, StationArgs* a,
                                         std::ostream& out, std::ostream& err) {
  const auto app = NewCommandLine(
      WHO,
      "The headless factory loop: options from Mirk3.ini, phones found as they are plugged in, "
      "a run started when --auto N slots are occupied (without --auto: at once with the phones "
      "present, once), results logged, broadcast on D-Bus, told to the jig and written as "
      "records; then the next phones.\nA first SIGINT/SIGTERM/SIGHUP lets a run in progress "
      "finish and starts no other (before the first run: ends at once); a second stops at once, "
      "each phone in flight recorded as FAIL. One station per port dir (a lock file under "
      "/run/lock or $XDG_RUNTIME_DIR). An output that fails (log, records, bus, standard "
      "output) is said once and the run goes on.\nExit status: 0 every port of every run "
      "passed, 1 any failed, 2 nothing could run (refused at start), 3 an output lost lines or "
      "records (whatever the phones did).");
  AddSettingsOption(*app, a->iniPath);
  app->add_option("--auto", a->autoCount, "start a run when N slots are occupied (1 to 56)")
      ->transform(DecimalRange(1, DISPLAYED_SLOTS))
      ->type_name("N");
  app->add_option("--runs", a->runs, "end after K runs (default: one without --auto, else none)")
      ->transform(DecimalRange(1, INT32_MAX))
      ->type_name("K");
  app->add_option("--results", a->resultsPath, "append one JSON line per port and run")
      ->type_name("FILE");
  app->add_option("--log-dir", a->logDir, "also append the log and the records to dated files")
      ->type_name("DIR")
      ->default_str("[Option] LogDir");
  AddPackageChoiceOptions(*app, a->picked, a->dropped);
  AddMetaKeyOption(*app, a->metaKeyFile);
  AddPortDirOptions(*app, a->context);
  AddHistoryOptions(*app, a->history);
  app->add_flag("--no-bus", a->noBus, "run without a companion on D-Bus");
  app->add_flag("--system-bus", a->systemBus, "meet the companion on the system bus")
      ->excludes("--no-bus");
  return ParseCommandLine(*app, args, out, err);
}

namespace {

// SIGINT, SIGTERM and SIGHUP (a dropped ssh session) as one descriptor the event loop reads.
// Blocked before anything else starts a thread, so that every thread leaves them to this one.
class StopSignals {
 public:
  StopSignals() {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stop, signal);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    fd_.Reset(::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK));
  }
  int Fd() const { return fd_.Get(); }
  // A stop signal is waiting (it is left for the loop to read).
  bool Pending() const {
    pollfd p{fd_.Get(), POLLIN, 0};
    return fd_ && ::poll(&p, 1, 0) == 1;
  }

 private:
  UniqueFd fd_;
};

// Ends the loop at the right moment and keeps the score: runs done, ports flashed, failures,
// and the signals that stop it.
class FactoryLoop {
 public:
  FactoryLoop(OpenedStation& opened, CliView& view, const StationArgs& args,
              const StopSignals& signals, std::ostream& err)
      : station_(*opened.station),
        health_(opened.health),
        view_(view),
        args_(args),
        signals_(signals),
        err_(err) {
    QObject::connect(&station_, &Station::runEnded, &station_,
                     [this](int, int succeeded, int failed) { OnRunEnd(succeeded, failed); });
    notifier_ = std::make_unique<QSocketNotifier>(signals_.Fd(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnSignal(); });
    // No phone could be seen to come or go any more: the station ends, after the run it has.
    QObject::connect(&station_, &Station::portWatchFailed, &station_,
                     [this](const std::string& why) {
                       err_ << WHO << ": " << why << "\n";
                       stopping_ = true;
                       station_.SetAutoStart("-");
                       if (station_.State() != StationState::Running) Quit(kExitNothingRan);
                     });
  }

  int Run() {
    // A signal that came during the start-up ends the station before any run.
    if (signals_.Pending()) return kExitAllPassed;
    if (args_.autoCount > 0) {
      station_.SetAutoStart(std::to_string(args_.autoCount));
    } else {
      QTimer::singleShot(0, &station_, [this] {
        if (!station_.Start()) Quit(kExitNothingRan);
      });
    }
    loop_.exec();
    return status_;
  }

 private:
  void OnRunEnd(int succeeded, int failed) {
    view_.FinishRun();
    ++runs_;
    flashed_ += succeeded + failed;
    anyFailed_ = anyFailed_ || failed > 0;
    const int wanted = args_.runs > 0 ? args_.runs : (args_.autoCount > 0 ? 0 : 1);
    if (stopping_ || (wanted > 0 && runs_ >= wanted)) Quit(Score());
  }

  int Score() const {
    if (anyFailed_) return kExitPhoneFailed;
    // A single run without a phone, or a loop stopped before any: nothing was flashed.
    return flashed_ == 0 && !stopping_ ? kExitNothingRan : kExitAllPassed;
  }

  void OnSignal() {
    signalfd_siginfo info;
    while (::read(signals_.Fd(), &info, sizeof info) == sizeof info) {
      if (!stopping_) {
        stopping_ = true;
        station_.SetAutoStart("-");
        if (station_.State() != StationState::Running) {
          Quit(Score());
          return;
        }
        err_ << WHO << ": stopping when this run ends (a second signal stops at once)\n";
        continue;
      }
      StopAtOnce();
    }
  }

  // The workers are never cancelled: the process ends under them. Every port still being
  // written gets its FAIL record and log line first, so that the operator and the records know
  // which phones to flash again.
  void StopAtOnce() {
    std::string left;
    for (const auto& [port, run] : station_.PortRuns()) {
      if (run.verdict == Verdict::Passed || run.verdict == Verdict::Failed) continue;
      left += (left.empty() ? "" : ", ") + PortName(port) +
              (run.usbPath.empty() ? "" : " (USB " + run.usbPath + ")");
    }
    station_.AbandonRun(kStoppedMidFlash);
    err_ << WHO << ": stopped at once; "
         << (left.empty() ? "no port was being written" : "left mid-flash: " + left) << "\n"
         << std::flush;
    std::fflush(nullptr);
    ::_exit(ExitStatusWith(left.empty() ? Score() : kExitPhoneFailed, health_));
  }

  void Quit(int status) {
    status_ = status;
    loop_.quit();
  }

  Station& station_;
  OutputHealth& health_;
  CliView& view_;
  const StationArgs& args_;
  const StopSignals& signals_;
  std::ostream& err_;
  QEventLoop loop_;
  std::unique_ptr<QSocketNotifier> notifier_;
  bool stopping_ = false;
  bool anyFailed_ = false;
  int runs_ = 0;
  int flashed_ = 0;
  int status_ = 0;
};

// Picks and drops the packages of the command line; false when one was refused.
bool ChoosePackages(Station& station, const StationArgs& a, std::ostream& err) {
  bool allTaken = true;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (a.picked.slotEnabled[slot]) {
      allTaken = station.PickPackage(slot, a.picked.slotPath[slot]) && allTaken;
    }
  }
  if (!a.picked.pitPath.empty()) station.PickPit(a.picked.pitPath);
  for (const std::string& file : a.dropped) {
    if (station.DropFiles({file}) == 0) {
      err << WHO << ": " << file << " fills no package slot\n";
      allTaken = false;
    }
  }
  return allTaken;
}

StationConfig ConfigOf(const StationArgs& a, int stopFd, std::ostream& err) {
  StationConfig config;
  config.who = WHO;
  config.iniPath = a.iniPath;
  config.metaKeyFile = a.metaKeyFile;
  config.resultsPath = a.resultsPath;
  config.logDir = a.logDir;
  config.history = a.history;
  config.context = a.context;
  config.noBus = a.noBus;
  config.systemBus = a.systemBus;
  config.stopFd = stopFd;
  config.err = &err;
  return config;
}

}  // namespace

int RunStationCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      int terminalFd) {
  StationArgs a;
  if (const auto status = ParseStationArguments(args, &a, out, err)) return *status;
  const StopSignals signals;  // before any step that could wait
  if (signals.Fd() < 0) {
    err << WHO << ": cannot watch for SIGINT, SIGTERM and SIGHUP\n";
    return kExitNothingRan;
  }
  const auto application = EnsureCoreApplication();
  CliView view(out, err, terminalFd);
  std::optional<StationCore> core;
  StationConfig config = ConfigOf(a, signals.Fd(), err);
  config.makeCore = [&](const EngineContext& context, const Settings& settings) -> Station& {
    core.emplace(&view, context);
    core->Core().ApplySettings(settings, context.portDir);
    return core->Core();
  };
  config.choosePackages = [&](Station& station) { return ChoosePackages(station, a, err); };
  const OpenOutcome outcome = OpenStation(config);
  if (!outcome) {
    if (!outcome.error.text.empty()) err << WHO << ": " << outcome.error.text << "\n";
    return outcome.error.stopped ? kExitAllPassed : outcome.error.status;
  }
  OpenedStation& opened = *outcome.opened;
  opened.health.SetErrorOutput([&view](const std::string& line) { view.ShowError(line); });
  view.SetOutputHealth(&opened.health);
  FactoryLoop loop(opened, view, a, signals, err);
  const int runStatus = loop.Run();
  if (opened.history && !opened.history->Finish()) {
    opened.health.Lost("the results database", "records were not stored");
  }
  const int status = ExitStatusWith(runStatus, opened.health);
  if (opened.health.AnyLost()) {
    err << WHO << ": outputs lost lines or records: " << opened.health.Summary() << "\n";
  }
  return status;
}

}  // namespace mirk3
