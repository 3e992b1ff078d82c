// The port dir: where phones in download mode appear as `ttyACM<n>` entries (device nodes in
// /dev, or the links an emulated phone makes). A scan lists them; a watcher reports each one
// that appears or goes while the station runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mirk3 {

// n for an entry named "ttyACM<n>" (decimal digits only, at most 6), else -1.
int PortNumberOfName(std::string_view name);

// The ports of every ttyACM<n> entry in `dir`, in ascending order. False when the dir cannot be
// read.
bool ListPortDir(const std::string& dir, std::vector<int>* ports);

// Arrivals and removals of ttyACM<n> entries in one dir, from inotify. Its descriptor is
// readable when events wait; the owner's event loop watches it and then calls ReadEvents.
class PortWatcher {
 public:
  enum class Change { Arrival, Removal, Overflow };  // Overflow: events were lost, rescan
  struct Event {
    Change change;
    std::string name;  // the entry's name
  };

  PortWatcher() = default;
  ~PortWatcher();
  PortWatcher(const PortWatcher&) = delete;
  PortWatcher& operator=(const PortWatcher&) = delete;

  // Starts watching; on failure `error` says why (no such dir, the inotify limits).
  bool Start(const std::string& dir, std::string* error);
  int Fd() const { return fd_; }
  // Every event that has arrived, in order, without waiting. Names that are not ttyACM<n> are
  // left out.
  std::vector<Event> ReadEvents();

 private:
  int fd_ = -1;
};

}  // namespace mirk3
