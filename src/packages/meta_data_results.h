// The meta-data verdicts of a station's packages, shared by all the workers of all its runs.
// Checking a package hashes every byte of it, and a station flashes the same packages onto
// many phones at once and run after run: the first
// worker that needs a package's verdict checks the package on its own thread, and every other
// worker that needs it waits for that verdict instead of hashing the package again. Verdicts
// are kept by file identity and public key, so a package changed on disk, or checked against
// another key, is checked anew. A verdict that says only that the file could not be read (or a
// check that threw) is given to those who waited for it and then forgotten: the next asker
// checks again, as a disk that failed once may read the next time. What one download makes of
// a verdict (the models of its packages must agree) stays with that download.
#pragma once

#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "packages/file_identity.h"
#include "packages/package_meta_data.h"

namespace mirk3 {

class MetaDataResults {
 public:
  using Check = std::function<PackageVerdict()>;

  // The verdict of the file `file` under the public key `keyText`. The first caller for a file
  // and key runs `check`; every later caller takes that caller's verdict, waiting for it while
  // it is being made. An exception from `check` reaches every caller of that file and key.
  PackageVerdict Verdict(const FileIdentity& file, const std::string& keyText, const Check& check);

  // How many checks have been run, each of them a whole package hashed.
  int ChecksRun() const;

 private:
  using Key = std::pair<FileIdentity, std::string>;
  void Forget(const FileIdentity& file, const std::string& keyText);

  mutable std::mutex mutex_;
  std::map<Key, std::shared_future<PackageVerdict>> verdicts_;
  int checksRun_ = 0;
};

}  // namespace mirk3
