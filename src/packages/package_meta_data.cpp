#include "packages/package_meta_data.h"

#include "packages/byte_source.h"
#include "packages/file_identity.h"
#include "packages/meta_data_results.h"
#include "packages/meta_data_verifier.h"

namespace mirk3 {

PackageVerdict CheckPackageFile(const std::string& path, const std::string& keyText,
                                MetaDataResults* results, CHeaderBlocks* keep) {
  FileByteSource source;
  if (!source.Open(path)) return {};
  const auto check = [&] {
    CMetaDataVerifier verifier(path, keyText);
    verifier.KeepHeaders(keep);
    const bool verified = verifier.VerifyArchive(source);
    return PackageVerdict{verified, verified ? verifier.Model() : std::string()};
  };
  if (results == nullptr) return check();
  // The identity is the open file's, the very one the check reads, whatever the path names
  // by now.
  const std::optional<FileIdentity> identity = IdentityOf(source.Descriptor());
  return identity ? results->Verdict(*identity, keyText, check) : check();
}

bool AgreeOnModel(const PackageVerdict& verdict, char (&packageModel)[PACKAGE_MODEL_SIZE]) {
  return verdict.verified && CMetaDataVerifier::AgreeOnModel(verdict.model, packageModel);
}

bool VerifyPackageFileMetaData(const std::string& path, const std::string& keyText,
                               char (&packageModel)[PACKAGE_MODEL_SIZE], CHeaderBlocks* keep) {
  return AgreeOnModel(CheckPackageFile(path, keyText, nullptr, keep), packageModel);
}

bool VerifyOneClickSlotMetaData(const std::string& exePath, uint64_t slotOffset,
                                const std::string& keyText,
                                char (&packageModel)[PACKAGE_MODEL_SIZE], CHeaderBlocks* keep) {
  CMetaDataVerifier verifier(exePath, keyText);
  verifier.KeepHeaders(keep);
  return verifier.VerifyListAt(slotOffset) && verifier.CheckModel(packageModel);
}

}  // namespace mirk3
