#include "window/window_program.h"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <iostream>

#include "station/command_options.h"
#include "station/companion_bus.h"
#include "station/headless.h"
#include "station/results_file.h"
#include "station/station_settings.h"
#include "station/station_wiring.h"
#include "cmdline/command_line.h"
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
      "in, packages picked with the buttons, dropped on the window or named here.\nExit status: "
      "0 closed, 2 the settings file is missing or a choice here is wrong, 255 the companion "
      "bus cannot be reached (--no-bus runs without it).");
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

// The packages of the command line, as the buttons and a drop choose them.
void ChoosePackages(Station& station, const WindowArgs& a) {
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (a.picked.slotEnabled[slot]) station.PickPackage(slot, a.picked.slotPath[slot]);
  }
  if (!a.picked.pitPath.empty()) station.PickPit(a.picked.pitPath);
  if (!a.dropped.empty()) station.DropFiles(a.dropped);
}

}  // namespace

int RunWindowProgram(int argc, char** argv, OperatorDialogs& dialogs) {
  WindowArgs a;
  if (const auto status = ParseWindowArguments(argc, argv, &a)) return *status;
  QApplication application(argc, argv);
  const QString name = QString::fromLatin1(APPLICATION_NAME);
  const std::optional<Settings> settings = LoadStationSettings(a.iniPath, std::cerr, WHO);
  if (!settings) return USAGE_ERROR_STATUS;
  if (!settings->present) {
    dialogs.Warn(nullptr, name, QString::fromUtf8(SETTINGS_MISSING_MESSAGE));
    return USAGE_ERROR_STATUS;
  }
  const std::string keyFile = a.metaKeyFile.empty() ? settings->metaDataKey : a.metaKeyFile;
  if (!LoadMetaKey(keyFile, a.context, std::cerr, WHO)) return USAGE_ERROR_STATUS;

  StationWindow window(dialogs, a.context);
  Station& station = window.Core();
  window.ApplySettings(*settings, a.context.portDir);
  CompanionBus bus;
  std::string error;
  if (!a.noBus) {
    if (!bus.Connect(a.systemBus, &error)) {
      std::cerr << WHO << ": " << error << "\n";
      dialogs.Warn(nullptr, name, QString::fromLatin1(CompanionBus::kRegistrationFailed));
      return -1;
    }
    AttachCompanion(station, bus);
  }
  // [Option] LogDir: the log and the records outlive the window.
  const auto logFiles =
      settings->logDir.empty() ? nullptr : AttachLogDir(station, settings->logDir, &error);
  if (!settings->logDir.empty() && !logFiles) {
    std::cerr << WHO << ": " << error << "\n";
    dialogs.Warn(nullptr, name, QString::fromStdString(error));
    return USAGE_ERROR_STATUS;
  }
  ResultsFile results;
  if (!a.resultsPath.empty()) {
    if (!results.Open(a.resultsPath, &error)) {
      std::cerr << WHO << ": " << error << "\n";
      return USAGE_ERROR_STATUS;
    }
    AttachResults(station, results);
  }
  const auto jig = AttachJig(station, *settings, a.context.portDir);
  window.show();
  QTimer::singleShot(0, &window, [&] {
    ChoosePackages(station, a);
    std::string watchError;
    if (!station.WatchPorts(&watchError)) {
      dialogs.Warn(&window, name, QString::fromStdString(watchError));
    }
  });
  QObject::connect(&window, &QDialog::finished, &application, &QApplication::quit);
  const int status = application.exec();
  if (station.Busy()) {
    // The operator chose to leave the ports of the run unfinished: the workers are never
    // cancelled, the process ends under them.
    std::fflush(nullptr);
    ::_exit(1);
  }
  return status;
}

}  // namespace mirk3
