// The station's side of the port dir: the first scan, every arrival and removal while it runs,
// a resync when events were lost, and the ports a busy spell or a full table made wait.
#include <QSocketNotifier>
#include <algorithm>
#include <filesystem>

#include "serial/serial_line.h"
#include "station/station.h"

namespace mirk3 {

bool Station::WatchPorts(std::string* error) {
  if (!watcher_.Start(ports_.PortDir(), error)) return false;
  watcherNotifier_ =
      std::make_unique<QSocketNotifier>(watcher_.Fd(), QSocketNotifier::Read, this);
  connect(watcherNotifier_.get(), &QSocketNotifier::activated, this,
          [this] { ReadPortEvents(); });
  if (!Busy()) ports_.ScanPorts(1);
  return true;
}

void Station::ReadPortEvents() {
  for (const PortWatcher::Event& event : watcher_.ReadEvents()) {
    if (event.change == PortWatcher::Change::Overflow) {
      // Events were lost: what is there now is the truth.
      ResyncPorts();
      continue;
    }
    OnDeviceChange(event.change == PortWatcher::Change::Arrival ? DEVICE_ARRIVAL
                                                                : DEVICE_REMOVE_COMPLETE,
                   event.name);
  }
}

void Station::ResyncPorts() {
  std::vector<int> present;
  if (!ListPortDir(ports_.PortDir(), &present)) return;
  const auto there = [&present](int port) {
    return std::binary_search(present.begin(), present.end(), port);
  };
  for (int slot = 0; slot < SLOT_TABLE_SIZE; ++slot) {
    const int port = ports_.PortOfSlot(slot);
    if (port >= 0 && !there(port)) OnDeviceChange(DEVICE_REMOVE_COMPLETE, PortName(port));
  }
  std::erase_if(deferredArrivals_,
                [&there](const std::string& name) { return !there(PortNumberOfName(name)); });
  for (int port : present) {
    if (ports_.PortOfSlot(ports_.SlotOfPort(port)) != port) {
      OnDeviceChange(DEVICE_ARRIVAL, PortName(port));
    }
  }
}

void Station::OnDeviceChange(int event, const std::string& name) {
  if (event == DEVICE_ARRIVAL && Busy()) {
    if (std::find(deferredArrivals_.begin(), deferredArrivals_.end(), name) ==
        deferredArrivals_.end()) {
      deferredArrivals_.push_back(name);
    }
    return;
  }
  if (event != DEVICE_REMOVE_COMPLETE) {
    ports_.OnPortEvent(event, name);
    return;
  }
  std::erase(deferredArrivals_, name);
  const int port = PortNumberOfName(name);
  const bool placed = port >= 0 && ports_.PortOfSlot(ports_.SlotOfPort(port)) == port;
  // A phone that leaves after its run (its slot already freed), or one that waited, is still
  // said to be gone; only a placed port frees a slot.
  if (!placed && port >= 0 && ports_.SlotOfPort(port) >= 0) {
    Log(EngineReport{port, "Removed!!", 0});
  } else if (!placed && port >= 0 && ports_.Waiting(port)) {
    LogLine(PortName(port) + " Removed!!");
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

void Station::PlaceWaitingPorts() { ports_.PlaceWaitingPorts(); }

}  // namespace mirk3
