// The meta-data checks a download runs for each package: the engine's VerifyPackageMetaData
// and VerifyOneClickMetaData are these, applied to the engine's paths, key and model buffer.
// The model buffer is shared by all packages of one download: the first package that passes
// fills it, and every later one must carry the very same model line.
#pragma once

#include <cstdint>
#include <string>

#include "packages/content_list.h"
#include "packages/tar_walk.h"

namespace mirk3 {

class MetaDataResults;

// What the check of one package file yields on its own, whatever the other packages of a
// download hold: whether it verified, and the model line its list carries when it did.
struct PackageVerdict {
  bool verified = false;
  std::string model;
};

// The check of the whole package file at `path` against `keyText`. With `results`, a verdict
// another worker of the run has made for the very same file and key is taken from there
// instead of hashing the package again. The header blocks the check reads are kept in `keep`
// when given; a verdict taken from `results` reads none and keeps none.
PackageVerdict CheckPackageFile(const std::string& path, const std::string& keyText,
                                MetaDataResults* results = nullptr, CHeaderBlocks* keep = nullptr);

// A verified package's model agrees with `packageModel`, which it fills when empty.
bool AgreeOnModel(const PackageVerdict& verdict, char (&packageModel)[PACKAGE_MODEL_SIZE]);

// File mode: the whole package file at `path` verifies against `keyText` and its model agrees
// with `packageModel` (filled when empty).
// The header blocks the check reads are kept in `keep` when given.
bool VerifyPackageFileMetaData(const std::string& path, const std::string& keyText,
                               char (&packageModel)[PACKAGE_MODEL_SIZE],
                               CHeaderBlocks* keep = nullptr);

// One Click mode: the content list of the tar that starts at `slotOffset` in the executable
// at `exePath` verifies (its members are not hashed) and its model agrees with
// `packageModel` (filled when empty).
bool VerifyOneClickSlotMetaData(const std::string& exePath, uint64_t slotOffset,
                                const std::string& keyText,
                                char (&packageModel)[PACKAGE_MODEL_SIZE],
                                CHeaderBlocks* keep = nullptr);

}  // namespace mirk3
