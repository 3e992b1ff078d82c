// The engine's side of file analysis: the step runs it over this download's packages and keeps
// what it found for the later steps (the lists to send, the total to announce, the package's
// partition table, the meta-data verdict). The device-info session, which runs no analysis,
// takes the meta-data verdict alone.
#include "base/text.h"
#include "engine/download_engine.h"
#include "engine/file_analysis.h"
#include "engine/meta_data_check.h"

namespace mirk3 {

ChosenPackages CDownloadEngine::Packages() const {
  return ChosenPackages{options_, oneClickMode_ ? &trailer_ : nullptr, context_.ownExecutablePath,
                        BorrowedFd(ownExecutableFd_)};
}

FileAnalysis CDownloadEngine::AnalyseFiles() {
  const ChosenPackages packages = Packages();
  return FileAnalyser(packages, context_, reports_).Run();
}

bool CDownloadEngine::FileAnalysisStep() { return KeepAnalysis(AnalyseFiles()); }

bool CDownloadEngine::KeepAnalysis(FileAnalysis found) {
  for (int slot = 0; slot < SLOT_COUNT; ++slot)
    fileLists_[slot] = std::move(found.slots[slot].members);
  packageTotal_ = found.packageTotal;
  packagePit_ = found.packagePit;
  if (packagePit_.present) {
    options_.RePartition = 1;
    // In One Click mode the table is uploaded from where the program's trailer says.
    if (oneClickMode_) {
      trailer_.pitOffset = static_cast<uint32_t>(packagePit_.offset);
      trailer_.pitSize = static_cast<uint32_t>(packagePit_.size);
    }
  }
  metaDataChecked_ = true;
  metaDataValid_ = found.metaDataValid;
  metaDataWhy_ = found.metaDataWhy;
  CopyToField(packageModel_, sizeof packageModel_, found.packageModel);
  return found.Passed();
}

void CDownloadEngine::CheckPackagesMetaData() {
  const ChosenPackages packages = Packages();
  MetaDataVerdict verdict(packages, context_);
  verdict.CheckAll();
  metaDataChecked_ = true;
  metaDataValid_ = verdict.Valid();
  metaDataWhy_ = verdict.Why();
  CopyToField(packageModel_, sizeof packageModel_, verdict.Model());
}

}  // namespace mirk3
