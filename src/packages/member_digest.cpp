#include "packages/member_digest.h"

#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/sha.h>

#include <algorithm>
#include <memory>

namespace mirk3 {

std::string MemberSha256Hex(const ByteSource& source, uint64_t offset, uint64_t size) {
  const auto buffer = std::make_unique<uint8_t[]>(MEMBER_READ_SIZE);
  CryptoPP::SHA256 hash;
  std::string text;
  CryptoPP::HashFilter digest(hash,
                              new CryptoPP::HexEncoder(new CryptoPP::StringSink(text), false));
  for (uint64_t done = 0; done < size;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(MEMBER_READ_SIZE, size - done));
    if (!source.ReadExactly(offset + done, buffer.get(), chunk)) return {};
    digest.Put(buffer.get(), chunk);
    done += chunk;
  }
  digest.MessageEnd();
  return text;
}

}  // namespace mirk3
