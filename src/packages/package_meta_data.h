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
