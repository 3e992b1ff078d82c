#include "window/window_program.h"

#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <optional>

#include "cmdline/command_line.h"
#include "station/command_options.h"
#include "station/open_station.h"
#include "station/station_settings.h"
#include "window/station_window.h"

namespace mirk3 {
namespace {

constexpr char WHO[] = "mirk3";

struct WindowArgs {
  std::string iniPath;
  DownloadOptions picked;
  std::vector<std::string> dropped;
  std::string metaKeyFile;
  std::string resultsPath;
  EngineContext context;
  bool noBus = false;
  bool systemBus = false;
};

std::optional<int> ParseWindowArguments(int argc, char** argv, WindowArgs* a) {
  const auto app = NewCommandLine(
      WHO,
      "The flashing station's window: 56 slots filled as phones in download mode are plugged "
      "in, packages picked with the buttons, dropped on the window or named here. One station "
      "per port dir (a lock file under /run/lock or $XDG_RUNTIME_DIR). An output that fails "
      "(log, records, bus) is said once and the station goes on.\nExit status: 0 closed, 1 "
      "closed during a run, 2 refused at start (the settings file is missing, a choice here is "
      "wrong, an output is refused, the port dir is taken by another station, the companion bus "
      "cannot be reached: --no-bus runs without it), 3 an output lost lines or records.");
  AddSettingsOption(*app, a->iniPath);
  AddPackageChoiceOptions(*app, a->picked, a->dropped);
  AddMetaKeyOption(*app, a->metaKeyFile);
  app->add_option("--results", a->resultsPath, "append one JSON line per port and run")
      ->type_name("FILE");
  AddPortDirOptions(*app, a->context);
  app->add_flag("--no-bus", a->noBus, "run without a companion on D-Bus");
  app->add_flag("--system-bus", a->systemBus, "meet the companion on the system bus")
      ->excludes("--no-bus");
  std::vector<std::string> args(argv + 1, argv + argc);
  return ParseCommandLine(*app, args, std::cout, std::cerr);
}

// The packages of the command line, as the buttons and a drop choose them. A refused package
// has shown its box; the window opens all the same.
bool ChoosePackages(Station& station, const WindowArgs& a) {
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (a.picked.slotEnabled[slot]) station.PickPackage(slot, a.picked.slotPath[slot]);
  }
  if (!a.picked.pitPath.empty()) station.PickPit(a.picked.pitPath);
  if (!a.dropped.empty()) station.DropFiles(a.dropped);
  return true;
}

StationConfig ConfigOf(const WindowArgs& a) {
  StationConfig config;
  config.who = WHO;
  config.iniPath = a.iniPath;
  config.metaKeyFile = a.metaKeyFile;
  config.resultsPath = a.resultsPath;
  config.context = a.context;
  config.noBus = a.noBus;
  config.systemBus = a.systemBus;
  config.strict = false;
  return config;
}

}  // namespace

int RunWindowProgram(int argc, char** argv, OperatorDialogs& dialogs) {
  // A closed standard output or error is an output that failed, not the end of a run.
  ::signal(SIGPIPE, SIG_IGN);
  WindowArgs a;
  if (const auto status = ParseWindowArguments(argc, argv, &a)) return *status;
  QApplication application(argc, argv);
  const QString name = QString::fromLatin1(APPLICATION_NAME);
  std::optional<StationWindow> window;
  StationConfig config = ConfigOf(a);
  config.makeCore = [&](const EngineContext& context, const Settings& settings) -> Station& {
    window.emplace(dialogs, context);
    window->ApplySettings(settings, context.portDir);
    window->show();  // up before the picks, so that an .md5 check shows its "Please wait.."
    return window->Core();
  };
  config.choosePackages = [&a](Station& station) { return ChoosePackages(station, a); };
  const OpenOutcome outcome = OpenStation(config);
  if (!outcome) {
    if (!outcome.error.text.empty()) std::cerr << WHO << ": " << outcome.error.text << "\n";
    if (!outcome.error.message.empty()) {
      dialogs.Warn(window ? &*window : nullptr, name,
                   QString::fromStdString(outcome.error.message));
    }
    return outcome.error.status;
  }
  OpenedStation& opened = *outcome.opened;
  if (!opened.watchProblem.empty()) {
    dialogs.Warn(&*window, name, QString::fromStdString(opened.watchProblem));
  }
  QObject::connect(&*window, &QDialog::finished, &application, &QApplication::quit);
  application.exec();
  if (opened.station->Busy()) {
    // The operator chose to leave the ports of the run unfinished: the workers are never
    // cancelled, the process ends under them.
    std::fflush(nullptr);
    ::_exit(ExitStatusWith(kExitPhoneFailed, opened.health));
  }
  if (opened.health.AnyLost()) {
    std::cerr << WHO << ": outputs lost lines or records: " << opened.health.Summary() << "\n";
  }
  return ExitStatusWith(kExitAllPassed, opened.health);
}

}  // namespace mirk3
