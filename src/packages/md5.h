// MD5 message digest (RFC 1321), used to verify the trailer of ".tar.md5" packages and by
// mirk3-pack to write it. The digest is Crypto++'s; CMD5 gives it the station's interface. The
// class holds no data of its own: every operation works on an Md5Context the caller keeps for
// one digest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mirk3 {

inline constexpr size_t MD5_DIGEST_SIZE = 16;

struct Md5Running;  // the digest under way

// One digest under way between Init and Final; holds nothing before Init and after Final.
struct Md5Context {
  Md5Context();
  ~Md5Context();
  Md5Context(const Md5Context&) = delete;
  Md5Context& operator=(const Md5Context&) = delete;

  std::unique_ptr<Md5Running> running;
};

class CMD5 {
 public:
  virtual ~CMD5() = default;

  void Init(Md5Context& context) const;
  void Update(Md5Context& context, const void* data, size_t length) const;
  // Writes the 16 digest bytes and wipes the context.
  void Final(Md5Context& context, uint8_t (&digest)[MD5_DIGEST_SIZE]) const;

  // Digests the next `length` bytes of the open file `fd` from its current position, reading
  // through `buffer` in chunks of at most `bufferSize` bytes. Returns the digest as 32
  // upper-case hex digits, or an empty text when the file ends early or cannot be read: a
  // short file is never waited on.
  std::string DigestFile(int fd, uint8_t* buffer, size_t bufferSize, uint64_t length) const;
};

// The 16 digest bytes as 32 hex digits, first byte first.
std::string Md5Hex(const uint8_t (&digest)[MD5_DIGEST_SIZE], bool upperCase);

}  // namespace mirk3
