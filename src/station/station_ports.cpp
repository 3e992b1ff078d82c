// The station's side of the port dir: the first scan, every arrival and removal while it runs,
// and the arrivals a run made it wait with.
#include <QSocketNotifier>
#include <algorithm>
#include <filesystem>

#include "station/station.h"

namespace mirk3 {

bool Station::WatchPorts(std::string* error) {
  if (!watcher_.Start(ports_.PortDir(), error)) return false;
  watcherNotifier_ =
      std::make_unique<QSocketNotifier>(watcher_.Fd(), QSocketNotifier::Read, this);
  connect(watcherNotifier_.get(), &QSocketNotifier::activated, this,
          [this] { ReadPortEvents(); });
  if (!busy_) ports_.ScanPorts(1);
  return true;
}

void Station::ReadPortEvents() {
  for (const PortWatcher::Event& event : watcher_.ReadEvents()) {
    if (event.change == PortWatcher::Change::Overflow) {
      // Events were lost: what is there now is the truth.
      if (!busy_) ports_.ScanPorts(1);
      continue;
    }
    OnDeviceChange(event.change == PortWatcher::Change::Arrival ? DEVICE_ARRIVAL
                                                                : DEVICE_REMOVE_COMPLETE,
                   event.name);
  }
}

void Station::OnDeviceChange(int event, const std::string& name) {
  if (event == DEVICE_ARRIVAL && busy_) {
    deferredArrivals_.push_back(name);
    return;
  }
  if (event == DEVICE_REMOVE_COMPLETE) {
    std::erase(deferredArrivals_, name);
  }
  ports_.OnPortEvent(event, name);
}

void Station::PlaceDeferredArrivals() {
  std::vector<std::string> arrivals;
  arrivals.swap(deferredArrivals_);
  for (const std::string& name : arrivals) {
    std::error_code error;
    if (!std::filesystem::exists(ports_.PortDir() + "/" + name, error)) continue;
    ports_.OnPortEvent(DEVICE_ARRIVAL, name);
  }
}

}  // namespace mirk3
