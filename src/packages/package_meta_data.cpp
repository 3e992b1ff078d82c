#include "packages/package_meta_data.h"

#include "packages/meta_data_verifier.h"

namespace mirk3 {

bool VerifyPackageFileMetaData(const std::string& path, const std::string& keyText,
                               char (&packageModel)[PACKAGE_MODEL_SIZE], CHeaderBlocks* keep) {
  CMetaDataVerifier verifier(path, keyText);
  verifier.KeepHeaders(keep);
  return verifier.VerifyArchive() && verifier.CheckModel(packageModel);
}

bool VerifyOneClickSlotMetaData(const std::string& exePath, uint64_t slotOffset,
                                const std::string& keyText,
                                char (&packageModel)[PACKAGE_MODEL_SIZE], CHeaderBlocks* keep) {
  CMetaDataVerifier verifier(exePath, keyText);
  verifier.KeepHeaders(keep);
  return verifier.VerifyListAt(slotOffset) && verifier.CheckModel(packageModel);
}

}  // namespace mirk3
