#include "packages/md5.h"

#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/filters.h>
#include <cryptopp/hex.h>
#include <cryptopp/md5.h>

#include <algorithm>

#include "base/file.h"

namespace mirk3 {

struct Md5Running {
  CryptoPP::Weak::MD5 hash;
};

static_assert(CryptoPP::Weak::MD5::DIGESTSIZE == MD5_DIGEST_SIZE);

Md5Context::Md5Context() = default;
Md5Context::~Md5Context() = default;

void CMD5::Init(Md5Context& context) const { context.running = std::make_unique<Md5Running>(); }

void CMD5::Update(Md5Context& context, const void* data, size_t length) const {
  context.running->hash.Update(static_cast<const CryptoPP::byte*>(data), length);
}

// Crypto++ clears the hash's state and partial block when the object goes.
void CMD5::Final(Md5Context& context, uint8_t (&digest)[MD5_DIGEST_SIZE]) const {
  context.running->hash.Final(digest);
  context.running.reset();
}

std::string CMD5::DigestFile(int fd, uint8_t* buffer, size_t bufferSize, uint64_t length) const {
  if (bufferSize == 0 && length != 0) return {};
  Md5Context context;
  Init(context);
  // A chunk is not cleared before it is read: a read that falls short fails the digest, so
  // stale buffer bytes are never hashed.
  for (uint64_t done = 0; done < length;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(bufferSize, length - done));
    if (ReadFully(fd, buffer, chunk) != static_cast<ssize_t>(chunk)) return {};
    Update(context, buffer, chunk);
    done += chunk;
  }
  uint8_t digest[MD5_DIGEST_SIZE];
  Final(context, digest);
  return Md5Hex(digest, true);
}

std::string Md5Hex(const uint8_t (&digest)[MD5_DIGEST_SIZE], bool upperCase) {
  std::string text;
  CryptoPP::ArraySource(digest, sizeof digest, true,
                        new CryptoPP::HexEncoder(new CryptoPP::StringSink(text), upperCase));
  return text;
}

}  // namespace mirk3
