#include "window_support/window_rig.h"

#include <QElapsedTimer>
#include <QThread>
#include <filesystem>

namespace mirk3::test {

void RecordingDialogs::Warn(QWidget* parent, const QString& title, const QString& text) {
  warnings.push_back({title, text});
  if (onWarn) onWarn(parent, warnings.back());
}

bool RecordingDialogs::Ask(QWidget*, const QString& title, const QString& text) {
  questions.push_back({title, text});
  return answer;
}

QString RecordingDialogs::OpenFile(QWidget*, const QString&, const QString& filter) {
  filters.push_back(filter);
  if (files.empty()) return {};
  QString file = files.front();
  files.pop_front();
  return file;
}

std::unique_ptr<QApplication> MakeWidgetApplication(int& argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  return std::make_unique<QApplication>(argc, argv);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > limit.count()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(2);
  }
  return true;
}

WindowRig::WindowRig(const std::string& iniExtra, Timing timing) {
  const std::string ini = dir / "Mirk3.ini";
  WriteFile(ini, "[Option]\nTitle=Mirk3 Station - Bench 4\nPacketSize=131072\n" + iniExtra);
  std::filesystem::create_directories(dir / "ports");
  EngineContext context;
  context.timing = timing;
  context.portDir = dir / "ports";
  window_ = std::make_unique<StationWindow>(dialogs, context);
  window_->ApplySettings(LoadSettingsFile(ini), context.portDir);
  window_->show();
}

WindowRig::~WindowRig() {
  // A run in progress is let finish, so that no worker reports into a window that is gone.
  if (window_ && window_->Core().Busy()) WaitFor([this] { return !window_->Core().Busy(); });
  window_.reset();
  farm.reset();
}

devsim::FarmConfig WindowRig::Farm(const std::vector<int>& ports) const {
  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.ports = ports;
  config.discard = true;
  return config;
}

bool WindowRig::PlugPhones(devsim::FarmConfig config) {
  const size_t count = config.ports.size();
  farm = std::make_unique<devsim::PhoneFarm>(std::move(config));
  std::string error;
  if (!farm->Start(&error) || !Core().WatchPorts()) return false;
  return WaitFor([&] { return Core().Ports().CountOccupiedSlots() == static_cast<int>(count); });
}

std::string WindowRig::Package(const std::string& name,
                               const std::vector<TarEntry>& members) const {
  const std::string path = dir / name;
  WriteSignedPackage(path, members, WINDOW_TEST_MODEL);
  return path;
}

}  // namespace mirk3::test
