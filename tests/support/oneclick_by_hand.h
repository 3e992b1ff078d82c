// One Click programs laid out by hand, for tests that need exact offsets or records that
// mirk3-pack's builder (support/oneclick_program.h) refuses to write: some program bytes, the
// slots' tar data at known offsets, and the 1468-byte trailer that describes them, whatever
// it claims. Also members of compressed slots, whose data are real zlib streams and whose
// inflated size sits in header bytes 500-511.
#pragma once

#include <zlib.h>

#include <cstring>
#include <string>

#include "base/text.h"
#include "pack/tar_writer.h"
#include "support/temp_dir.h"
#include "wire/one_click_trailer.h"

namespace mirk3::test {

class OneClickByHand {
 public:
  // Adds `tar` as the data of `slot`, walked as `type`; returns its offset in the program.
  // The slot record claims `claimedLength` bytes when that is given (a damaged program).
  uint32_t AddSlot(int slot, const std::string& tar, int16_t type, uint32_t claimedLength = 0) {
    const auto offset = static_cast<uint32_t>(bytes_.size());
    bytes_ += tar;
    const auto length = claimedLength != 0 ? claimedLength : static_cast<uint32_t>(tar.size());
    trailer_.slots[slot] = {offset, length, type};
    return offset;
  }
  void Write(const std::string& path) {
    trailer_.title.clear();
    for (char c : std::string(ONECLICK_TITLE)) trailer_.title.push_back(static_cast<char16_t>(c));
    const auto encoded = trailer_.Encode();
    WriteFile(path, bytes_ + std::string(encoded.begin(), encoded.end()));
  }

 private:
  std::string bytes_ = std::string(3000, '\x7f');
  OneClickTrailer trailer_;
};

// A compressed-slot member: header and padded data. Empty when zlib refuses.
inline std::string DeflatedMember(const std::string& name, const std::string& plain) {
  std::string packed(compressBound(plain.size()), '\0');
  uLongf length = packed.size();
  if (compress2(reinterpret_cast<Bytef*>(packed.data()), &length,
                reinterpret_cast<const Bytef*>(plain.data()), plain.size(), 6) != Z_OK) {
    return {};
  }
  packed.resize(length);
  auto header = pack::MakeTarHeader(name, packed.size());
  const std::string inflated = Format("%011llo", static_cast<unsigned long long>(plain.size()));
  std::memcpy(header.data() + 500, inflated.c_str(), inflated.size() + 1);
  pack::SealTarHeader(header);
  packed.resize(TarPaddedSize(packed.size()), '\0');
  return std::string(reinterpret_cast<const char*>(header.data()), header.size()) + packed;
}

}  // namespace mirk3::test
