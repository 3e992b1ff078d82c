// The station's side of the port dir: the first scan, every arrival and removal while it runs,
// a resync when events were lost, and the ports a busy spell or a full table made wait.
#include <QSocketNotifier>
#include <algorithm>
#include <filesystem>

#include "base/text.h"
#include "serial/serial_line.h"
#include "station/station.h"

namespace mirk3 {

Status Station::WatchPorts() {
  if (Status watched = watcher_.Start(ports_.PortDir()); !watched) return watched;
  watcherNotifier_ =
      std::make_unique<QSocketNotifier>(watcher_.Fd(), QSocketNotifier::Read, this);
  connect(watcherNotifier_.get(), &QSocketNotifier::activated, this,
          [this] { ReadPortEvents(); });
  if (!Busy()) ports_.ScanPorts(1);
  return {};
}

void Station::ReadPortEvents() {
  using Change = PortWatcher::Change;
  for (const PortWatcher::Event& event : watcher_.ReadEvents()) {
    switch (event.change) {
      case Change::Arrival:
        OnDeviceChange(DEVICE_ARRIVAL, event.name);
        break;
      case Change::Removal:
        OnDeviceChange(DEVICE_REMOVE_COMPLETE, event.name);
        break;
      case Change::Overflow:
        // Events were lost: what is there now is the truth.
        ResyncPorts();
        break;
      case Change::WatchLost:
        LogLine("The port dir " + event.name + " is gone (" + event.detail +
                "): watching for it to come back");
        ResyncPorts();
        break;
      case Change::WatchBack:
        LogLine("The port dir " + event.name + " is back: watching it again");
        ResyncPorts();
        break;
      case Change::WatchFailed:
        LogLine("The port dir " + event.name + " cannot be watched any more: " + event.detail);
        Q_EMIT portWatchFailed("the port dir " + event.name + " cannot be watched any more: " +
                               event.detail);
        break;
    }
  }
}

void Station::ResyncPorts() {
  // Placed ports whose entry is gone (all of them when the dir is) are removed at once.
  for (int port : ports_.MissingPorts()) OnDeviceChange(DEVICE_REMOVE_COMPLETE, PortName(port));
  std::vector<int> present;
  if (!ListPortDir(ports_.PortDir(), &present)) present.clear();
  const auto there = [&present](int port) {
    return std::binary_search(present.begin(), present.end(), port);
  };
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
    Log(port, "Removed!!");
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

void Station::SetSlotClosed(int slot, bool closed) {
  if (ports_.Closed(slot) == closed) return;
  ports_.CloseSlot(slot, closed);
  LogLine(Format(closed ? "Slot %d is kept out of use until it is cleared"
                        : "Slot %d is in use again",
                 slot));
  if (!closed && !Busy()) ports_.PlaceWaitingPorts();
}

}  // namespace mirk3
