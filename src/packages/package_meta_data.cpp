#include "packages/package_meta_data.h"

#include "packages/meta_data_verifier.h"

namespace mirk3 {

bool VerifyPackageFileMetaData(const std::string& path, const std::string& keyText,
                               char (&packageModel)[PACKAGE_MODEL_SIZE]) {
  CMetaDataVerifier verifier(path, keyText);
  return verifier.VerifyArchive() && verifier.CheckModel(packageModel);
}

bool VerifyOneClickSlotMetaData(const std::string& exePath, uint64_t slotOffset,
                                const std::string& keyText,
                                char (&packageModel)[PACKAGE_MODEL_SIZE]) {
  CMetaDataVerifier verifier(exePath, keyText);
  return verifier.VerifyListAt(slotOffset) && verifier.CheckModel(packageModel);
}

}  // namespace mirk3
