// The station's package selection: picks by button, the PIT pick, drops, the MD5 check of a
// ".md5" package with its log lines, the size of the chosen packages, and the renaming of
// compressed packages at Start.
#include <QEventLoop>
#include <QTimer>
#include <thread>

#include "station/package_pick.h"
#include "station/station.h"

namespace mirk3 {
namespace {

// Lets the event loop run for `pause`, as the window keeps handling its messages.
void HandleEventsFor(std::chrono::milliseconds pause) {
  if (pause.count() <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(pause, &loop, &QEventLoop::quit);
  loop.exec();
}

}  // namespace

bool Station::CheckPackageMd5(const std::string& path) {
  const bool passed = mirk3::CheckPackageMd5(
      path, [this](const std::string& line) { LogLine(line); },
      [this](const std::string& text, const std::string& title) {
        view_->ShowMessage(text, title);
      });
  if (!passed) {
    SetBusy(false);
    return false;
  }
  std::this_thread::sleep_for(context_.timing.md5CheckedPause);
  return true;
}

bool Station::PickPackage(int slot, const std::string& path) {
  if (slot < 0 || slot >= SLOT_COUNT) return false;
  if (busy_ || !enables_.Enabled(PACKAGE_BUTTONS[slot])) {
    LogLine(std::string(SLOT_NAMES[slot]) + " pick refused: " +
            (busy_ ? "a run is in progress" : "the settings disable this package"));
    return false;
  }
  bool taken = true;
  if (IsMd5Package(path)) {
    SetBusy(true);
    taken = CheckPackageMd5(path);
    if (slot == BL) HandleEventsFor(context_.timing.blPickPause);
    SetBusy(false);
    // Ports that arrived while the check ran get their slots now. A station given its ports
    // (mirk3-cli flash) runs those alone.
    if (watcherNotifier_) ports_.ScanPorts(1);
  }
  packages_.use[slot] = taken ? 1 : 0;
  packages_.path[slot] = taken ? path : std::string();
  UpdateBinarySize();
  return taken;
}

void Station::PickPit(const std::string& path) {
  if (busy_) {
    LogLine("PIT pick refused: a run is in progress");
    return;
  }
  packages_.pitPath = path;
  options_.RePartition = 1;
  view_->ControlsChanged();
}

int Station::DropFiles(const std::vector<std::string>& paths) {
  if (busy_) {
    LogLine("Drop refused: a run is in progress");
    return 0;
  }
  SetBusy(true);
  int filled = 0;
  for (const std::string& path : paths) {
    if (IsMd5Package(path) && !CheckPackageMd5(path)) continue;
    const int slot = DropSlotOf(path);
    if (slot < 0) continue;
    packages_.path[slot] = path;
    packages_.use[slot] = 1;
    ++filled;
  }
  SetBusy(false);
  return filled;
}

void Station::SetPackageUsed(int slot, bool used) {
  if (slot < 0 || slot >= SLOT_COUNT || busy_) return;
  packages_.use[slot] = used ? 1 : 0;
  view_->ControlsChanged();
}

void Station::OptionsChanged() { view_->ControlsChanged(); }

void Station::UpdateBinarySize() {
  binarySizeText_ = mirk3::BinarySizeText(packages_.path, packages_.use);
  view_->ControlsChanged();
}

void Station::NormalizePackageNames() {
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (packages_.use[slot]) packages_.path[slot] = NormalizedPackageName(packages_.path[slot]);
  }
}

}  // namespace mirk3
