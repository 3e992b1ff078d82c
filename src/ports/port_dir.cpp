#include "ports/port_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

PortWatcher::~PortWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

bool PortWatcher::Start(const std::string& dir, std::string* error) {
  fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd_ < 0) {
    *error = std::string("cannot watch for phones: ") + std::strerror(errno) +
             (errno == EMFILE ? " (fs.inotify.max_user_instances is reached)" : "");
    return false;
  }
  // Links of emulated phones are renamed into place; device nodes are created.
  constexpr uint32_t MASK = IN_CREATE | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM | IN_ONLYDIR;
  if (::inotify_add_watch(fd_, dir.c_str(), MASK) < 0) {
    *error = "cannot watch " + dir + " for phones: " + std::strerror(errno) +
             (errno == ENOSPC ? " (fs.inotify.max_user_watches is reached)" : "");
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

std::vector<PortWatcher::Event> PortWatcher::ReadEvents() {
  std::vector<Event> events;
  alignas(inotify_event) char buffer[8192];
  while (fd_ >= 0) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;  // EAGAIN: nothing more waits
    for (ssize_t at = 0; at < got;) {
      inotify_event header;
      std::memcpy(&header, buffer + at, sizeof header);
      const char* name = buffer + at + sizeof header;
      at += static_cast<ssize_t>(sizeof header + header.len);
      if (header.mask & IN_Q_OVERFLOW) {
        events.push_back({Change::Overflow, ""});
        continue;
      }
      const std::string entry(name, strnlen(name, header.len));
      if (PortNumberOfName(entry) < 0) continue;
      const bool arrival = header.mask & (IN_CREATE | IN_MOVED_TO);
      events.push_back({arrival ? Change::Arrival : Change::Removal, entry});
    }
  }
  return events;
}

}  // namespace mirk3
