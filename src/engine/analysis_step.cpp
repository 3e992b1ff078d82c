// The engine's side of file analysis: the step runs it over this download's packages, and what
// it found is the plan the later steps follow (the lists to send, the total to announce, the
// package's partition table, the meta-data verdict). The device-info session, which runs no
// analysis, takes the meta-data verdict alone.
#include "engine/download_engine.h"
#include "engine/file_analysis.h"
#include "engine/meta_data_check.h"

namespace mirk3 {

ChosenPackages CDownloadEngine::Packages() const {
  return ChosenPackages{options_, oneClickMode_ ? &trailer_ : nullptr, context_.ownExecutablePath,
                        BorrowedFd(ownExecutableFd_)};
}

DownloadPlan CDownloadEngine::AnalyseFiles() {
  const ChosenPackages packages = Packages();
  return FileAnalyser(packages, context_, reports_).Run();
}

bool CDownloadEngine::FileAnalysisStep(DownloadPlan* plan) {
  *plan = AnalyseFiles();
  return plan->Passed();
}

DownloadPlan CDownloadEngine::CheckPackagesMetaData() const {
  const ChosenPackages packages = Packages();
  MetaDataVerdict verdict(packages, context_);
  verdict.CheckAll();
  DownloadPlan checked;
  checked.metaDataValid = verdict.Valid();
  checked.metaDataWhy = verdict.Why();
  checked.packageModel = verdict.Model();
  return checked;
}

}  // namespace mirk3
