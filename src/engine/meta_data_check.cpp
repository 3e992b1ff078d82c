// The meta-data verdict of a download: every chosen package's signed content list must
// verify, and all must name one model. File analysis runs it; in the device-info session,
// where no analysis runs, the device-info step runs it so its model check compares real values.
// A package's own verdict is shared by the engines of a run (one of them hashes the package,
// the others wait for its verdict); whether the models agree is each download's own business.
#include "engine/download_engine.h"
#include "packages/meta_data_key.h"
#include "packages/meta_data_results.h"
#include "packages/package_meta_data.h"

namespace mirk3 {
namespace {

const std::string& KeyOf(const EngineContext& context) {
  return context.metaDataKey.empty() ? BuiltInMetaDataKey() : context.metaDataKey;
}

}  // namespace

void CDownloadEngine::CheckPackagesMetaData() {
  metaDataChecked_ = true;
  packageModel_[0] = '\0';
  metaDataValid_ = true;
  bool any = false;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    const bool chosen =
        oneClickMode_ ? trailer_.slots[slot].Present() : options_.slotEnabled[slot] != 0;
    if (!chosen) continue;
    any = true;
    const bool verified =
        oneClickMode_ ? VerifyOneClickMetaData(slot) : VerifyPackageMetaData(slot);
    if (!verified) {
      metaDataValid_ = false;  // later packages are not checked
      break;
    }
  }
  // No package, nothing verified: a device cannot be checked against nothing.
  if (!any) metaDataValid_ = false;
  headerBlocks_.Clear();  // no analysis walk follows to use them
}

bool CDownloadEngine::VerifyPackageMetaData(int slot) {
  if (oneClickMode_) return true;
  if (slot < 0 || slot >= SLOT_COUNT) return false;
  // Only the engine that hashes the package keeps its header blocks; one that takes another
  // engine's verdict keeps none, and its analysis walk reads the headers itself.
  headerBlocks_.Clear();
  const PackageVerdict verdict = CheckPackageFile(options_.slotPath[slot], KeyOf(context_),
                                                  context_.metaDataResults.get(), &headerBlocks_);
  return AgreeOnModel(verdict, packageModel_);
}

bool CDownloadEngine::VerifyOneClickMetaData(int slot) {
  if (!oneClickMode_) return true;
  headerBlocks_.Clear();
  // The slot's own range of the program, never the packages after it.
  return VerifyOneClickSlotMetaData(context_.ownExecutablePath, trailer_, slot, KeyOf(context_),
                                    packageModel_, &headerBlocks_);
}

}  // namespace mirk3
