// Fuzzes what the meta-data check reads from an untrusted package before any signature has
// been checked: the tar walk over headers (names, octal sizes, member bounds) and the parser
// of a decrypted content list. The input is used whole as a tar, and whole as a plain list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "packages/byte_source.h"
#include "packages/content_list.h"
#include "packages/meta_data_verifier.h"
#include "packages/tar_walk.h"

namespace {

void WalkTar(std::string_view bytes, uint64_t start) {
  const mirk3::MemoryByteSource source(bytes);
  mirk3::TarWalk walk(source, start);
  mirk3::TarMember member;
  uint64_t steps = 0;
  while (walk.Next(member) == mirk3::TarStep::MEMBER) {
    // Every member lies inside the input, and every step moves on by at least one block.
    if (member.dataOffset + mirk3::TarPaddedSize(member.size) > bytes.size()) std::abort();
    if (++steps > bytes.size() / mirk3::TAR_BLOCK_SIZE) std::abort();
    (void)mirk3::CMetaDataVerifier::IsSignedListEntry(member.name);
  }
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
  WalkTar(bytes, 0);
  if (size > 2) WalkTar(bytes, data[0] | (data[1] << 8));  // a One Click slot somewhere inside
  ParseList(bytes);
  return 0;
}
