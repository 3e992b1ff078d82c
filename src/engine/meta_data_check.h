// The meta-data verdict of one download: every chosen package's signed content list must
// verify, and all must name one model. File analysis builds it package by package, before each
// package's walk; in the device-info session, where no analysis runs, the device-info step
// builds it for all packages at once, so that its model check compares real values.
#pragma once

#include <string>

#include "engine/chosen_packages.h"
#include "engine/engine_context.h"
#include "packages/content_list.h"
#include "packages/tar_walk.h"

namespace mirk3 {

// The options, program and context it is given must outlive it.
class MetaDataVerdict {
 public:
  MetaDataVerdict(const ChosenPackages& packages, const EngineContext& context)
      : packages_(packages), context_(context) {}

  // Checks the package of `slot`, unless an earlier package failed: then no later one is
  // checked. The header blocks the check reads are kept in `keep` when given.
  void Check(int slot, HeaderBlocks* keep);
  // Checks every chosen package in slot order.
  void CheckAll();

  // Some package was checked, and every package checked verified and named one model.
  bool Valid() const { return checked_ && valid_; }
  // The model of the packages that verified; empty when none did.
  std::string Model() const;
  // Why the packages did not verify, naming the package; empty when they did or nothing says.
  const std::string& Why() const { return why_; }

 private:
  bool VerifyPackageMetaData(int slot, HeaderBlocks* keep);
  bool VerifyOneClickMetaData(int slot, HeaderBlocks* keep);

  const ChosenPackages packages_;
  const EngineContext& context_;
  bool checked_ = false;
  bool valid_ = true;
  char model_[PACKAGE_MODEL_SIZE] = {};
  std::string why_;
};

}  // namespace mirk3
