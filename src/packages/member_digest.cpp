#include "packages/member_digest.h"

#include <cryptopp/sha.h>

#include <algorithm>
#include <memory>

namespace mirk3 {

std::string MemberSha256Hex(const ByteSource& source, uint64_t offset, uint64_t size) {
  const auto buffer = std::make_unique<uint8_t[]>(MEMBER_READ_SIZE);
  CryptoPP::SHA256 hash;
  for (uint64_t done = 0; done < size;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(MEMBER_READ_SIZE, size - done));
    if (!source.ReadExactly(offset + done, buffer.get(), chunk)) return {};
    hash.Update(buffer.get(), chunk);
    done += chunk;
  }
  uint8_t digest[CryptoPP::SHA256::DIGESTSIZE];
  hash.Final(digest);
  static constexpr char DIGITS[] = "0123456789abcdef";
  std::string text;
  text.reserve(2 * sizeof digest);
  for (const uint8_t byte : digest) {
    text += DIGITS[byte >> 4];
    text += DIGITS[byte & 0x0F];
  }
  return text;
}

}  // namespace mirk3
