// The meta-data checks a download runs for each package: the engine's VerifyPackageMetaData
// and VerifyOneClickMetaData are these, applied to the engine's paths, key and model buffer.
// The model buffer is shared by all packages of one download: the first package that passes
// fills it, and every later one must carry the very same model line.
//
// Also where a One Click slot's tar lies in its program, which the check and the file analysis
// both need: a slot is read within its own bytes and never from the program's trailer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "packages/content_list.h"
#include "packages/meta_data_failure.h"
#include "packages/tar_walk.h"
#include "wire/one_click_trailer.h"

namespace mirk3 {

class MetaDataResults;

// What the check of one package file yields on its own, whatever the other packages of a
// download hold: whether it verified, the model line its list carries when it did, and why
// it did not otherwise. Workers that share a verdict share its reason too.
struct PackageVerdict {
  bool verified = false;
  std::string model;
  MetaDataFailure failure;
};

// The check of the whole package file at `path` against `keyText`. With `results`, a verdict
// another worker of the run has made for the very same file and key is taken from there
// instead of hashing the package again. The header blocks the check reads are kept in `keep`
// when given; a verdict taken from `results` reads none and keeps none.
PackageVerdict CheckPackageFile(const std::string& path, const std::string& keyText,
                                MetaDataResults* results = nullptr, HeaderBlocks* keep = nullptr);

// A verified package's model agrees with `packageModel`, which it fills when empty. When it
// does not, `failure` (when given) says why: the verdict's own failure, or the models'.
bool AgreeOnModel(const PackageVerdict& verdict, char (&packageModel)[PACKAGE_MODEL_SIZE],
                  MetaDataFailure* failure = nullptr);

// File mode: the whole package file at `path` verifies against `keyText` and its model agrees
// with `packageModel` (filled when empty).
// The header blocks the check reads are kept in `keep` when given.
bool VerifyPackageFileMetaData(const std::string& path, const std::string& keyText,
                               char (&packageModel)[PACKAGE_MODEL_SIZE],
                               HeaderBlocks* keep = nullptr);

// The bytes [begin, end) of a One Click program that hold a slot's tar.
struct OneClickSlotRange {
  uint64_t begin = 0;
  uint64_t end = 0;
};

// Where the tar of `slot` lies in a One Click program of `programLength` bytes (trailer
// included). Nothing, with the reason in `problem` when given, when the index is not 0..4, the
// slot is empty, or its bytes (offset + length) do not lie wholly before the program's
// 1468-byte trailer. For a slot of type 3 (a ".tar.md5" package, whose MD5 trailer line is
// always shorter than a block) the range ends at the last whole 512-byte block, so that the
// MD5 trailer is never read as a header.
std::optional<OneClickSlotRange> OneClickSlotTar(const OneClickTrailer& trailer, int slot,
                                                 uint64_t programLength,
                                                 std::string* problem = nullptr);

// One Click mode: the content list of `slot`'s tar in the program at `exePath`, described by
// `trailer`, verifies (its members are not hashed) and its model agrees with `packageModel`
// (filled when empty). The list is looked for within the slot's own bytes only: a slot without
// a list of its own never borrows the next slot's. False for a slot index outside 0..4 and for
// a slot that does not lie wholly within the program before its trailer.
bool VerifyOneClickSlotMetaData(const std::string& exePath, const OneClickTrailer& trailer,
                                int slot, const std::string& keyText,
                                char (&packageModel)[PACKAGE_MODEL_SIZE],
                                HeaderBlocks* keep = nullptr);

// The same for the slot whose tar starts at `slotOffset`, for callers that know only the
// offset: the slot record is read from the program's own trailer (the first present slot at
// that offset). False when the program carries no One Click trailer or no slot starts there.
bool VerifyOneClickSlotMetaData(const std::string& exePath, uint64_t slotOffset,
                                const std::string& keyText,
                                char (&packageModel)[PACKAGE_MODEL_SIZE],
                                HeaderBlocks* keep = nullptr);

}  // namespace mirk3
