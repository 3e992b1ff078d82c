#include "packages/package_meta_data.h"

#include <sys/stat.h>

#include <cerrno>

#include "base/text.h"
#include "packages/byte_source.h"
#include "packages/file_identity.h"
#include "packages/meta_data_results.h"
#include "packages/meta_data_verifier.h"
#include "packages/one_click_program.h"
#include "wire/package_slot.h"

namespace mirk3 {

PackageVerdict CheckPackageFile(const std::string& path, const std::string& keyText,
                                MetaDataResults* results, HeaderBlocks* keep) {
  FileByteSource source;
  if (!source.Open(path)) return {false, {}, UnreadablePackage(errno)};
  const auto check = [&] {
    CMetaDataVerifier verifier(path, keyText);
    verifier.KeepHeaders(keep);
    const bool verified = verifier.VerifyArchive(source);
    return PackageVerdict{verified, verified ? verifier.Model() : std::string(),
                          verifier.Failure()};
  };
  if (results == nullptr) return check();
  // The identity is the open file's, the very one the check reads, whatever the path names
  // by now.
  const std::optional<FileIdentity> identity = IdentityOf(source.Descriptor());
  return identity ? results->Verdict(*identity, keyText, check) : check();
}

bool AgreeOnModel(const PackageVerdict& verdict, char (&packageModel)[PACKAGE_MODEL_SIZE],
                  MetaDataFailure* failure) {
  if (!verdict.verified) {
    if (failure) *failure = verdict.failure;
    return false;
  }
  return CMetaDataVerifier::AgreeOnModel(verdict.model, packageModel, failure);
}

bool VerifyPackageFileMetaData(const std::string& path, const std::string& keyText,
                               char (&packageModel)[PACKAGE_MODEL_SIZE], HeaderBlocks* keep) {
  return AgreeOnModel(CheckPackageFile(path, keyText, nullptr, keep), packageModel);
}

std::optional<OneClickSlotRange> OneClickSlotTar(const OneClickTrailer& trailer, int slot,
                                                 uint64_t programLength, std::string* problem) {
  auto refuse = [problem](std::string why) -> std::optional<OneClickSlotRange> {
    if (problem) *problem = std::move(why);
    return std::nullopt;
  };
  if (slot < 0 || slot >= SLOT_COUNT) return refuse(Format("there is no slot %d", slot));
  const OneClickSlot& record = trailer.slots[static_cast<size_t>(slot)];
  if (!record.Present()) return refuse(Format("the %s slot is empty", SLOT_NAMES[slot]));
  const uint64_t held =
      programLength < ONECLICK_TRAILER_SIZE ? 0 : programLength - ONECLICK_TRAILER_SIZE;
  const uint64_t end = uint64_t{record.offset} + record.length;
  if (end > held) {
    return refuse(Format(
        "the %s slot (%u bytes at offset %u) does not lie within the program's %llu bytes of "
        "packages",
        SLOT_NAMES[slot], record.length, record.offset, static_cast<unsigned long long>(held)));
  }
  uint64_t length = record.length;
  if (record.type == ONECLICK_TAR_MD5 && length % TAR_BLOCK_SIZE != 0) {
    length -= length % TAR_BLOCK_SIZE;
  }
  return OneClickSlotRange{record.offset, record.offset + length};
}

bool VerifyOneClickSlotMetaData(const std::string& exePath, const OneClickTrailer& trailer,
                                int slot, const std::string& keyText,
                                char (&packageModel)[PACKAGE_MODEL_SIZE], HeaderBlocks* keep) {
  struct stat st {};
  if (::stat(exePath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const auto range = OneClickSlotTar(trailer, slot, static_cast<uint64_t>(st.st_size));
  if (!range) return false;
  CMetaDataVerifier verifier(exePath, keyText);
  verifier.KeepHeaders(keep);
  return verifier.VerifyListIn(range->begin, range->end) && verifier.CheckModel(packageModel);
}

bool VerifyOneClickSlotMetaData(const std::string& exePath, uint64_t slotOffset,
                                const std::string& keyText,
                                char (&packageModel)[PACKAGE_MODEL_SIZE], HeaderBlocks* keep) {
  const std::optional<OneClickTrailer> trailer = ReadOneClickTrailer(exePath);
  if (!trailer) return false;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    const OneClickSlot& record = trailer->slots[static_cast<size_t>(slot)];
    if (record.Present() && record.offset == slotOffset) {
      return VerifyOneClickSlotMetaData(exePath, *trailer, slot, keyText, packageModel, keep);
    }
  }
  return false;
}

}  // namespace mirk3
