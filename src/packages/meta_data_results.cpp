#include "packages/meta_data_results.h"

#include <exception>

namespace mirk3 {

PackageVerdict MetaDataResults::Verdict(const FileIdentity& file, const std::string& keyText,
                                        const Check& check) {
  std::promise<PackageVerdict> promise;
  std::shared_future<PackageVerdict> earlier;
  {
    const std::lock_guard lock(mutex_);
    Key key{file, keyText};
    const auto found = verdicts_.find(key);
    if (found != verdicts_.end()) {
      earlier = found->second;
    } else {
      verdicts_.emplace(std::move(key), promise.get_future().share());
      ++checksRun_;
    }
  }
  // The check runs outside the lock: workers that need other packages go on meanwhile.
  if (earlier.valid()) return earlier.get();
  try {
    PackageVerdict verdict = check();
    promise.set_value(verdict);
    if (verdict.failure.problem == MetaDataProblem::Unreadable) Forget(file, keyText);
    return verdict;
  } catch (...) {
    promise.set_exception(std::current_exception());
    Forget(file, keyText);
    throw;
  }
}

void MetaDataResults::Forget(const FileIdentity& file, const std::string& keyText) {
  const std::lock_guard lock(mutex_);
  verdicts_.erase(Key{file, keyText});
}

int MetaDataResults::ChecksRun() const {
  const std::lock_guard lock(mutex_);
  return checksRun_;
}

}  // namespace mirk3
