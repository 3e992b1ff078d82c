// One station per port dir. Two stations on one dir would both take every phone that arrives:
// each phone would end with one PASS and one FAIL. A station holds an flock'ed lock file named
// after its port dir (mirk3-cli flash: after each port it was given), with its pid in it, so
// that a second station is refused at start and told who holds the dir. The lock goes with the
// process, however it ends.
#pragma once

#include <memory>
#include <string>

#include "base/file.h"
#include "base/result.h"

namespace mirk3 {

class StationLock {
 public:
  // Locks `target` (a port dir, or a port's device path). Fails, with a reason naming `what`
  // and the holder's pid, when another station holds it or no lock file can be made.
  static Result<std::unique_ptr<StationLock>> Take(const std::string& target,
                                                   const std::string& what);
  ~StationLock();
  StationLock(const StationLock&) = delete;
  StationLock& operator=(const StationLock&) = delete;

  const std::string& Path() const { return path_; }

 private:
  StationLock(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

  UniqueFd fd_;
  std::string path_;
};

// Where lock files go: /run/lock when this user may write there, else $XDG_RUNTIME_DIR, else
// /tmp.
std::string LockDir();
// The lock file of `target`: its canonical path escaped into one file name
// ("/dev" -> "<LockDir>/mirk3-%2Fdev.lock").
std::string LockFileFor(const std::string& target);

}  // namespace mirk3
