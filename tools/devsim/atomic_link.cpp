#include "devsim/atomic_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace mirk3::devsim {
namespace {

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

// Unique among the farms and threads that may publish in one directory at once.
std::string TemporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + name + "." + std::to_string(::getpid()) + "." + std::to_string(++counter);
}

}  // namespace

bool PublishLink(const std::string& target, const std::string& path, std::string* error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    *error = path + " exists and is not a symbolic link";
    return false;
  }
  const std::string temporary = TemporaryName(path);
  if (::symlink(target.c_str(), temporary.c_str()) != 0) {
    *error = Errno("cannot create " + temporary);
    return false;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    *error = Errno("cannot create " + path);
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

void WithdrawLink(const std::string& target, const std::string& path) {
  char found[4096];
  const ssize_t n = ::readlink(path.c_str(), found, sizeof found);
  if (n > 0 && target == std::string(found, static_cast<size_t>(n))) ::unlink(path.c_str());
}

}  // namespace mirk3::devsim
