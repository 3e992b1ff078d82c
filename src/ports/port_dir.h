// The port dir: where phones in download mode appear as `ttyACM<n>` entries (device nodes in
// /dev, or the links an emulated phone makes). A scan lists them; a watcher reports each one
// that appears or goes while the station runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/file.h"
#include "base/result.h"

struct inotify_event;

namespace mirk3 {

// n for an entry named "ttyACM<n>" (decimal digits only, at most 6), else -1.
int PortNumberOfName(std::string_view name);

// The ports of every ttyACM<n> entry in `dir`, in ascending order. False when the dir cannot be
// read.
bool ListPortDir(const std::string& dir, std::vector<int>* ports);

// The port n when `path` is one of the phones' ports: the ttyACM<n> entry of `portDir` by its
// name, or a path that leads (through links) to what one of the entries leads to, or to the
// same device; -1 when it is none of them. A line that is not a phone's (the jig's) must never
// be opened on one.
int PhonePortOfPath(const std::string& path, const std::string& portDir);

// Arrivals and removals of ttyACM<n> entries in one dir, from inotify. Its descriptor is
// readable when events wait (it stays the same descriptor for the watcher's whole life); the
// owner's event loop watches it and then calls ReadEvents.
//
// A dir that is deleted, moved away or unmounted takes its watch with it. The watcher then says
// so (WatchLost) and watches the nearest dir above it that still exists, going down again as
// each missing dir comes back, until the dir itself is there to be watched again (WatchBack):
// no time-out and no polling, and never a wait on a watch that is gone. Entries that came or
// went meanwhile are not reported one by one: after WatchBack (and after Overflow) the owner
// compares its table with the dir. WatchFailed says the dir can no longer be watched at all
// (the inotify limits, a dir that came back unreadable); the owner then stops.
class PortWatcher {
 public:
  enum class Change {
    Arrival,
    Removal,
    Overflow,     // events were lost: rescan
    WatchLost,    // the dir went away: `name` is the dir, `detail` how
    WatchBack,    // the dir is watched again: rescan
    WatchFailed,  // the dir cannot be watched any more: `detail` says why
  };
  struct Event {
    Change change;
    std::string name;    // the entry's name; the dir for the Watch... kinds
    std::string detail;  // WatchLost and WatchFailed: why
  };

  PortWatcher() = default;
  PortWatcher(const PortWatcher&) = delete;
  PortWatcher& operator=(const PortWatcher&) = delete;

  // Starts watching; fails, with why, when it cannot (no such dir, the inotify limits).
  Status Start(const std::string& dir);
  int Fd() const { return inotify_.Get(); }
  // False between WatchLost and WatchBack (and after WatchFailed).
  bool Watching() const { return dirWatch_ >= 0; }
  // Every event that has arrived, in order, without waiting. Names that are not ttyACM<n> are
  // left out.
  std::vector<Event> ReadEvents();

 private:
  void Handle(const struct inotify_event& header, const char* name, std::vector<Event>& events);
  void LoseDir(const std::string& how, std::vector<Event>& events);
  void TryWatchAgain(std::vector<Event>& events);
  bool SameDirAsWatched() const;
  void DropAncestorWatch();

  UniqueFd inotify_;
  std::string dir_;
  int dirWatch_ = -1;
  unsigned long dirDevice_ = 0, dirInode_ = 0;  // the dir the watch is on
  int ancestorWatch_ = -1;                      // while the dir is gone
  std::string ancestor_;
  bool failed_ = false;
};

}  // namespace mirk3
