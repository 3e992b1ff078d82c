#include "cli/cli_station.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include "station/command_options.h"
#include "cli/cli_view.h"
#include "station/headless.h"
#include "station/station_settings.h"
#include "station/station_wiring.h"
#include "base/text.h"
#include "cmdline/command_line.h"
#include "serial/serial_line.h"

namespace mirk3 {
namespace {

constexpr char WHO[] = "mirk3-cli station";


}  // namespace

std::optional<int> ParseStationArguments(const std::vector<std::string>& args, StationArgs* a,
                                         std::ostream& out, std::ostream& err) {
  const auto app = NewCommandLine(
      WHO,
      "The headless factory loop: options from Mirk3.ini, phones found as they are plugged in, "
      "a run started when --auto N slots are occupied (without --auto: at once with the phones "
      "present, once), results logged, broadcast on D-Bus, told to the jig and written as "
      "records; then the next phones.\nA first SIGINT/SIGTERM lets a run in progress finish "
      "and starts no other; a second stops at once.\nExit status: 0 every port of every run "
      "passed, 1 any failed, 2 nothing could run.");
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
  app->add_flag("--no-bus", a->noBus, "run without a companion on D-Bus");
  app->add_flag("--system-bus", a->systemBus, "meet the companion on the system bus")
      ->excludes("--no-bus");
  return ParseCommandLine(*app, args, out, err);
}

namespace {

// Ends the loop at the right moment and keeps the score: runs done, ports flashed, failures,
// and the signals that stop it.
class FactoryLoop {
 public:
  FactoryLoop(Station& station, CliView& view, const StationArgs& args, std::ostream& err)
      : station_(station), view_(view), args_(args), err_(err) {
    QObject::connect(&station, &Station::runEnded, &station,
                     [this](int, int succeeded, int failed) { OnRunEnd(succeeded, failed); });
  }

  bool WatchSignals(std::string* error) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    // Blocked before any worker exists, so that every thread leaves the signals to this one.
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    signals_ = ::signalfd(-1, &stop, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signals_ < 0) {
      *error = "cannot watch for SIGINT and SIGTERM";
      return false;
    }
    notifier_ = std::make_unique<QSocketNotifier>(signals_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { OnSignal(); });
    return true;
  }

  ~FactoryLoop() {
    notifier_.reset();
    if (signals_ >= 0) ::close(signals_);
  }

  int Run() {
    if (args_.autoCount > 0) {
      station_.SetAutoStart(std::to_string(args_.autoCount));
    } else {
      QTimer::singleShot(0, &station_, [this] {
        if (!station_.Start()) Quit(2);
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
    if (anyFailed_) return 1;
    // A single run without a phone, or a loop stopped before any: nothing was flashed.
    return flashed_ == 0 && !stopping_ ? 2 : 0;
  }

  void OnSignal() {
    signalfd_siginfo info;
    while (::read(signals_, &info, sizeof info) == sizeof info) {
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

  // The workers are never cancelled: the process ends under them, and the ports still being
  // written are named, so that the operator knows which phones to flash again.
  void StopAtOnce() {
    std::string left;
    for (const auto& [port, run] : station_.PortRuns()) {
      if (run.verdict == Verdict::Passed || run.verdict == Verdict::Failed) continue;
      left += (left.empty() ? "" : ", ") + PortName(port) +
              (run.usbPath.empty() ? "" : " (USB " + run.usbPath + ")");
    }
    err_ << WHO << ": stopped at once; "
         << (left.empty() ? "no port was being written" : "left mid-flash: " + left) << "\n"
         << std::flush;
    std::fflush(nullptr);
    ::_exit(left.empty() ? Score() : 1);
  }

  void Quit(int status) {
    status_ = status;
    loop_.quit();
  }

  Station& station_;
  CliView& view_;
  const StationArgs& args_;
  std::ostream& err_;
  QEventLoop loop_;
  int signals_ = -1;
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

}  // namespace

int RunStationCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      int terminalFd) {
  StationArgs a;
  if (const auto status = ParseStationArguments(args, &a, out, err)) return *status;
  const std::optional<Settings> settings = LoadStationSettings(a.iniPath, err, WHO);
  if (!settings) return 2;
  if (!settings->present) {
    err << WHO << ": " << SETTINGS_MISSING_MESSAGE << "\n";
    return 2;
  }
  const std::string keyFile = a.metaKeyFile.empty() ? settings->metaDataKey : a.metaKeyFile;
  if (!LoadMetaKey(keyFile, a.context, err, WHO)) return 2;

  const auto application = EnsureCoreApplication();
  CliView view(out, err, terminalFd);
  StationCore core(&view, a.context);
  Station& station = core.Core();
  station.ApplySettings(*settings, a.context.portDir);

  FactoryLoop loop(station, view, a, err);
  std::string error;
  if (!loop.WatchSignals(&error)) {
    err << WHO << ": " << error << "\n";
    return 2;
  }
  CompanionBus bus;
  if (!a.noBus) {
    if (!bus.Connect(a.systemBus, &error)) {
      err << WHO << ": " << error << "\n" << WHO << ": --no-bus runs without a companion\n";
      return 2;
    }
    AttachCompanion(station, bus);
  }
  const std::string logDir = a.logDir.empty() ? settings->logDir : a.logDir;
  const auto logFiles = logDir.empty() ? nullptr : AttachLogDir(station, logDir, &error);
  if (!logDir.empty() && !logFiles) {
    err << WHO << ": " << error << "\n";
    return 2;
  }
  ResultsFile results;
  if (!a.resultsPath.empty()) {
    if (!results.Open(a.resultsPath, &error)) {
      err << WHO << ": " << error << "\n";
      return 2;
    }
    AttachResults(station, results);
  }
  const auto jig = AttachJig(station, *settings, a.context.portDir);
  if (!ChoosePackages(station, a, err)) return 2;
  if (!station.HasSomethingToRun()) {
    err << WHO << ": nothing is chosen: give packages (--ap FILE ...) or set options\n";
    return 2;
  }
  if (!station.WatchPorts(&error)) {
    err << WHO << ": " << error << "\n";
    return 2;
  }
  return loop.Run();
}

}  // namespace mirk3
