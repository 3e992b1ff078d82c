#include "ports/port_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace mirk3 {

int PortNumberOfName(std::string_view name) {
  constexpr std::string_view PREFIX = "ttyACM";
  if (name.substr(0, PREFIX.size()) != PREFIX) return -1;
  const std::string_view digits = name.substr(PREFIX.size());
  if (digits.empty() || digits.size() > 6 ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return -1;
  }
  int port = 0;
  for (char c : digits) port = port * 10 + (c - '0');
  return port;
}

bool ListPortDir(const std::string& dir, std::vector<int>* ports) {
  ports->clear();
  DIR* d = ::opendir(dir.c_str());
  if (!d) return false;
  while (const dirent* entry = ::readdir(d)) {
    const int port = PortNumberOfName(entry->d_name);
    if (port >= 0) ports->push_back(port);
  }
  ::closedir(d);
  std::sort(ports->begin(), ports->end());
  return true;
}

namespace {

namespace fs = std::filesystem;

fs::path Normal(const std::string& path) {
  std::error_code error;
  return fs::absolute(path, error).lexically_normal();
}

// Both name one thing: the same file once links are followed, or the same character device.
bool SameTarget(const fs::path& a, const fs::path& b) {
  std::error_code error;
  if (fs::equivalent(a, b, error)) return true;
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && S_ISCHR(sa.st_mode) &&
         S_ISCHR(sb.st_mode) && sa.st_rdev == sb.st_rdev;
}

// Entries come as device nodes that are created or links of emulated phones renamed into
// place; the dir's own end comes as a deletion, a move or an unmount.
constexpr uint32_t DIR_MASK = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM |
                              IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// While the dir is gone: anything made or moved into the nearest dir above it, or that dir's
// own end.
constexpr uint32_t ANCESTOR_MASK = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF |
                                   IN_ONLYDIR;

std::string LimitHint(int error) {
  if (error == ENOSPC) return " (fs.inotify.max_user_watches is reached)";
  if (error == EMFILE) return " (fs.inotify.max_user_instances is reached)";
  return "";
}

// The nearest dir above `dir` (or `dir` itself) that exists now.
std::string NearestExistingDir(const std::string& dir) {
  std::error_code error;
  fs::path at = fs::absolute(dir, error).lexically_normal();
  while (at.has_relative_path() && !fs::is_directory(at, error)) at = at.parent_path();
  return at.string();
}

}  // namespace

int PhonePortOfPath(const std::string& path, const std::string& portDir) {
  if (path.empty()) return -1;
  const fs::path at = Normal(path);
  const int named = PortNumberOfName(at.filename().string());
  if (named >= 0 && at.parent_path() == Normal(portDir)) return named;
  std::vector<int> ports;
  ListPortDir(portDir, &ports);
  for (int port : ports) {
    if (SameTarget(at, fs::path(portDir) / ("ttyACM" + std::to_string(port)))) return port;
  }
  return -1;
}

Status PortWatcher::Start(const std::string& dir) {
  inotify_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  if (!inotify_) {
    const int failure = errno;
    return Fail(
        std::string("cannot watch for phones: ") + std::strerror(failure) + LimitHint(failure),
        failure);
  }
  dir_ = dir;
  dirWatch_ = ::inotify_add_watch(inotify_.Get(), dir.c_str(), DIR_MASK);
  if (dirWatch_ < 0) {
    const int failure = errno;
    inotify_.Reset();
    return Fail(
        "cannot watch " + dir + " for phones: " + std::strerror(failure) + LimitHint(failure),
        failure);
  }
  struct stat st {};
  if (::stat(dir_.c_str(), &st) == 0) {
    dirDevice_ = st.st_dev;
    dirInode_ = st.st_ino;
  }
  return {};
}

std::vector<PortWatcher::Event> PortWatcher::ReadEvents() {
  std::vector<Event> events;
  alignas(inotify_event) char buffer[8192];
  while (inotify_) {
    const ssize_t got = ::read(inotify_.Get(), buffer, sizeof buffer);
    if (got <= 0) break;  // EAGAIN: nothing more waits
    for (ssize_t at = 0; at < got;) {
      inotify_event header;
      std::memcpy(&header, buffer + at, sizeof header);
      const char* name = buffer + at + sizeof header;
      at += static_cast<ssize_t>(sizeof header + header.len);
      Handle(header, name, events);
    }
  }
  return events;
}

void PortWatcher::Handle(const inotify_event& header, const char* name,
                         std::vector<Event>& events) {
  if (header.mask & IN_Q_OVERFLOW) {
    events.push_back({Change::Overflow, "", ""});
    // The lost events may have held the dir's own end.
    if (Watching() && !SameDirAsWatched()) LoseDir("replaced while events were lost", events);
    return;
  }
  if (header.wd == ancestorWatch_ && ancestorWatch_ >= 0) {
    if (header.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) DropAncestorWatch();
    TryWatchAgain(events);
    return;
  }
  if (header.wd != dirWatch_ || dirWatch_ < 0) return;  // a watch given up before
  if (header.mask & IN_DELETE_SELF) return LoseDir("deleted", events);
  if (header.mask & IN_MOVE_SELF) return LoseDir("moved away", events);
  if (header.mask & IN_UNMOUNT) return LoseDir("unmounted", events);
  if (header.mask & IN_IGNORED) return LoseDir("no longer watched", events);
  const std::string entry(name, strnlen(name, header.len));
  if (PortNumberOfName(entry) < 0) return;
  const bool arrival = header.mask & (IN_CREATE | IN_MOVED_TO);
  events.push_back({arrival ? Change::Arrival : Change::Removal, entry, ""});
}

bool PortWatcher::SameDirAsWatched() const {
  struct stat st {};
  return ::stat(dir_.c_str(), &st) == 0 && st.st_dev == dirDevice_ && st.st_ino == dirInode_;
}

void PortWatcher::LoseDir(const std::string& how, std::vector<Event>& events) {
  // A dir moved away keeps its watch; it is another dir now.
  ::inotify_rm_watch(inotify_.Get(), dirWatch_);
  dirWatch_ = -1;
  events.push_back({Change::WatchLost, dir_, how});
  TryWatchAgain(events);
}

void PortWatcher::DropAncestorWatch() {
  if (ancestorWatch_ >= 0) ::inotify_rm_watch(inotify_.Get(), ancestorWatch_);
  ancestorWatch_ = -1;
  ancestor_.clear();
}

// Watches the dir again when it is back; else the nearest dir above it, whose own changes
// lead down to the dir. Each pass that does not end here found a dir made meanwhile, so the
// bound only guards against a tree that is made and removed faster than it is looked at.
void PortWatcher::TryWatchAgain(std::vector<Event>& events) {
  if (failed_ || Watching()) return;
  int error = 0;
  for (int pass = 0; pass < 64; ++pass) {
    const int watch = ::inotify_add_watch(inotify_.Get(), dir_.c_str(), DIR_MASK);
    if (watch >= 0) {
      DropAncestorWatch();
      dirWatch_ = watch;
      struct stat st {};
      if (::stat(dir_.c_str(), &st) == 0) {
        dirDevice_ = st.st_dev;
        dirInode_ = st.st_ino;
      }
      events.push_back({Change::WatchBack, dir_, ""});
      return;
    }
    error = errno;
    if (error != ENOENT && error != ENOTDIR) break;
    const std::string nearest = NearestExistingDir(dir_);
    if (nearest == ancestor_ && ancestorWatch_ >= 0) return;  // its next change comes as an event
    DropAncestorWatch();
    const int above = ::inotify_add_watch(inotify_.Get(), nearest.c_str(), ANCESTOR_MASK);
    error = above < 0 ? errno : 0;
    if (above < 0 && error != ENOENT && error != ENOTDIR) break;
    if (above >= 0) {
      ancestorWatch_ = above;
      ancestor_ = nearest;
    }
  }
  failed_ = true;
  DropAncestorWatch();
  events.push_back({Change::WatchFailed, dir_,
                    std::string("cannot watch it again: ") + std::strerror(error) +
                        LimitHint(error)});
}

}  // namespace mirk3
