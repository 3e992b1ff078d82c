#include "station/station_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "base/text.h"

namespace mirk3 {
namespace {

// Bytes other than letters, digits, '.', '_' and '-' become %XX: the name says which dir it
// locks, and two dirs never share a name.
std::string Escape(const std::string& path) {
  std::string out;
  for (const unsigned char c : path) {
    const bool plain = std::isalnum(c) || c == '.' || c == '_' || c == '-';
    out += plain ? std::string(1, static_cast<char>(c)) : Format("%%%02X", c);
  }
  return out;
}

// FNV-1a: a name for a path too long to be a file name, the same in every build.
uint64_t PathHash(const std::string& path) {
  uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

std::string HolderOf(int fd) {
  char text[32] = {};
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  std::string pid = n > 0 ? std::string(text, static_cast<size_t>(n)) : "";
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' ')) pid.pop_back();
  return pid.empty() ? "unknown" : pid;
}

// The file at `path` is still the one `fd` locked: a holder that left may have removed it
// between our open and our lock.
bool StillThere(int fd, const std::string& path) {
  struct stat mine {
  }, named{};
  return ::fstat(fd, &mine) == 0 && ::stat(path.c_str(), &named) == 0 &&
         mine.st_dev == named.st_dev && mine.st_ino == named.st_ino;
}

}  // namespace

std::string LockDir() {
  if (::access("/run/lock", W_OK) == 0) return "/run/lock";
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime && ::access(runtime, W_OK) == 0) return runtime;
  return "/tmp";
}

std::string LockFileFor(const std::string& target) {
  std::error_code ec;
  // The dir is resolved, the entry is not: a port is its name in the port dir, whatever node
  // its link leads to now (a pty's number is given to another phone once this one has gone).
  const std::filesystem::path named(target);
  std::string path =
      (std::filesystem::weakly_canonical(named.parent_path(), ec) / named.filename()).string();
  if (ec || path.empty()) path = target;
  std::string name = Escape(path);
  if (name.size() > 180) {
    name = name.substr(name.size() - 150) +
           Format("-%016llx", static_cast<unsigned long long>(PathHash(path)));
  }
  return LockDir() + "/mirk3-" + name + ".lock";
}

Result<std::unique_ptr<StationLock>> StationLock::Take(const std::string& target,
                                                       const std::string& what) {
  const std::string path = LockFileFor(target);
  for (int attempt = 0; attempt < 5; ++attempt) {
    constexpr int kFlags = O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    UniqueFd fd(::open(path.c_str(), O_RDWR | kFlags, 0644));
    // Another user's lock file: it can still be locked through a descriptor for reading.
    if (!fd && errno == EACCES) fd.Reset(::open(path.c_str(), O_RDONLY | kFlags, 0644));
    if (!fd) {
      const int failure = errno;
      return Fail(Format("cannot make the lock file \"%s\" for %s: %s", path.c_str(), what.c_str(),
                         std::generic_category().message(failure).c_str()),
                  failure);
    }
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      const int failure = errno;
      return Fail(Format("%s is in use by another station (pid %s); one station at a time (lock "
                         "file \"%s\")",
                         what.c_str(), HolderOf(fd.Get()).c_str(), path.c_str()),
                  failure);
    }
    if (!StillThere(fd.Get(), path)) continue;
    // Where the pid cannot be written the lock holds all the same; only the holder's name is
    // missing for the next one.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.Get(), 0) == 0) WriteFully(fd.Get(), pid.data(), pid.size());
    return std::unique_ptr<StationLock>(new StationLock(std::move(fd), path));
  }
  return Fail(Format("cannot keep the lock file \"%s\" for %s", path.c_str(), what.c_str()));
}

StationLock::~StationLock() {
  // Removed while still locked: a station that opened it meanwhile sees it gone and makes anew.
  ::unlink(path_.c_str());
}

}  // namespace mirk3
