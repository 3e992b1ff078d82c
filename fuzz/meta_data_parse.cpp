// Fuzzes what the meta-data check reads from an untrusted package before any signature has
// been checked: the tar walk over headers (names, octal sizes, type flags, pax records, member
// bounds), the pax record check on its own, and the parser of a decrypted content list. The
// input is used whole as a tar, as a tar within bounds (a One Click slot), as pax records and
// as a plain list.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "packages/byte_source.h"
#include "packages/content_list.h"
#include "packages/meta_data_verifier.h"
#include "packages/tar_walk.h"

namespace {

void WalkTar(std::string_view bytes, uint64_t start, uint64_t end) {
  const mirk3::MemoryByteSource source(bytes);
  mirk3::TarWalk walk(source, start, end, nullptr);
  mirk3::TarMember member;
  uint64_t steps = 0;
  const uint64_t limit = std::min<uint64_t>(end, bytes.size());
  mirk3::TarStep step;
  while ((step = walk.Next(member)) == mirk3::TarStep::Member) {
    // Every member lies inside the bounds, and every step moves on by at least one block.
    if (member.dataOffset < start + mirk3::TAR_BLOCK_SIZE) std::abort();
    if (member.dataOffset + mirk3::TarPaddedSize(member.size) > limit) std::abort();
    if (++steps > bytes.size() / mirk3::TAR_BLOCK_SIZE) std::abort();
    (void)mirk3::CMetaDataVerifier::IsSignedListEntry(member.name);
  }
  // A broken walk says why; a finished one stays finished.
  if ((step == mirk3::TarStep::Broken) == walk.Problem().empty()) std::abort();
  if (walk.Next(member) != step) std::abort();
}

void ParseList(std::string_view bytes) {
  mirk3::ContentList list;
  if (!mirk3::ParseContentList(bytes, list)) return;
  if (list.count < 1 || list.count > mirk3::LIST_MAX_ENTRIES) std::abort();
  if (list.names.size() != static_cast<size_t>(list.count)) std::abort();
  if (list.digests.size() != list.names.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  WalkTar(bytes, 0, UINT64_MAX);
  if (size > 4) {
    // A One Click slot somewhere inside, ending somewhere (maybe before it starts).
    WalkTar(bytes, data[0] | (data[1] << 8), data[2] | (data[3] << 8) | (data[4] << 16));
  }
  (void)mirk3::TarPaxProblem(bytes);
  ParseList(bytes);
  return 0;
}
