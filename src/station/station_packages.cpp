// The station's package selection: picks by button, the PIT pick, drops, the MD5 check of a
// ".md5" package with its log lines, the size of the chosen packages, and the renaming of
// compressed packages at Start.
#include <QEventLoop>
#include <QTimer>
#include <optional>
#include <thread>

#include "station/main_thread_calls.h"
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

// The digest of a multi-gigabyte package takes minutes: it is made on a thread of its own while
// the main thread's event loop goes on, so the window repaints and each line of the check is
// shown as it comes. The station stays in CheckingPick all the while, so nothing that loop
// hands over can start a run.
bool Station::CheckPackageMd5(const std::string& path) {
  struct Box {
    std::string text, title;
  };
  std::optional<Box> box;
  bool passed = false;
  QEventLoop loop;
  MainThreadCalls endOfCheck;  // the check's end is handed over as the workers' reports are
  std::thread checker([&] {
    passed = mirk3::CheckPackageMd5(
        path,
        [this](const std::string& line) {
          sink_->Tell(PortEvent{NO_PORT, Note{line}});  // waits until it is logged
        },
        [&box](const std::string& text, const std::string& title) { box = Box{text, title}; });
    if (passed) std::this_thread::sleep_for(context_.timing.md5CheckedPause);
    endOfCheck.Post([&loop] { loop.quit(); });
  });
  loop.exec();
  checker.join();
  if (box) view_->ShowMessage(box->text, box->title);
  return passed;
}

bool Station::PickPackage(int slot, const std::string& path) {
  if (slot < 0 || slot >= SLOT_COUNT) return false;
  const std::string what = std::string(SLOT_NAMES[slot]) + " pick";
  if (Refused(what)) return false;
  if (!enables_.Enabled(PACKAGE_BUTTONS[slot])) {
    LogLine(what + " refused: the settings disable this package");
    return false;
  }
  bool taken = true;
  if (IsMd5Package(path)) {
    SetState(StationState::CheckingPick);
    taken = CheckPackageMd5(path);
    if (slot == BL) HandleEventsFor(context_.timing.blPickPause);
    // Ports that arrived while the check ran get their slots now, each once. A station given
    // its ports (mirk3-cli flash) runs those alone.
    if (watcherNotifier_) {
      PlaceDeferredArrivals();
      ports_.ScanPorts(1);
    }
    SetState(StationState::Idle);
  }
  packages_.use[slot] = taken ? 1 : 0;
  packages_.path[slot] = taken ? path : std::string();
  UpdateBinarySize();
  return taken;
}

void Station::PickPit(const std::string& path) {
  if (Refused("PIT pick")) return;
  packages_.pitPath = path;
  options_.RePartition = 1;
  view_->ControlsChanged();
}

int Station::DropFiles(const std::vector<std::string>& paths) {
  if (Refused("Drop")) return 0;
  SetState(StationState::CheckingPick);
  int filled = 0;
  for (const std::string& path : paths) {
    if (IsMd5Package(path) && !CheckPackageMd5(path)) continue;
    const int slot = DropSlotOf(path);
    if (slot < 0) continue;
    packages_.path[slot] = path;
    packages_.use[slot] = 1;
    ++filled;
  }
  SetState(StationState::Idle);
  return filled;
}

void Station::SetPackageUsed(int slot, bool used) {
  if (slot < 0 || slot >= SLOT_COUNT || Busy()) return;
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
