#include "packages/md5.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace mirk3 {
namespace {

// The auxiliary functions in equivalent forms that keep x, the word the previous step has just
// produced, as late as possible in the chain: F = (x & y) | (~x & z), G = (x & z) | (y & ~z)
// (whose two halves never overlap, so | may be +), H = x ^ y ^ z, I = y ^ (x | ~z).
inline uint32_t F(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t G(uint32_t x, uint32_t y, uint32_t z) { return (y & ~z) + (x & z); }
inline uint32_t H(uint32_t x, uint32_t y, uint32_t z) { return x ^ (y ^ z); }
inline uint32_t I(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

template <uint32_t (*Fn)(uint32_t, uint32_t, uint32_t), int S>
inline void Step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, uint32_t t) {
  a = b + std::rotl((a + x + t) + Fn(b, c, d), S);
}

inline uint32_t LoadLe32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
  return v;
}

// One 64-byte block, read in place. The 64 steps are written out so that the compiler keeps
// the four state words and the sixteen message words in registers.
void Transform(uint32_t (&state)[4], const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadLe32(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

  Step<F, 7>(a, b, c, d, x[0], 0xd76aa478);
  Step<F, 12>(d, a, b, c, x[1], 0xe8c7b756);
  Step<F, 17>(c, d, a, b, x[2], 0x242070db);
  Step<F, 22>(b, c, d, a, x[3], 0xc1bdceee);
  Step<F, 7>(a, b, c, d, x[4], 0xf57c0faf);
  Step<F, 12>(d, a, b, c, x[5], 0x4787c62a);
  Step<F, 17>(c, d, a, b, x[6], 0xa8304613);
  Step<F, 22>(b, c, d, a, x[7], 0xfd469501);
  Step<F, 7>(a, b, c, d, x[8], 0x698098d8);
  Step<F, 12>(d, a, b, c, x[9], 0x8b44f7af);
  Step<F, 17>(c, d, a, b, x[10], 0xffff5bb1);
  Step<F, 22>(b, c, d, a, x[11], 0x895cd7be);
  Step<F, 7>(a, b, c, d, x[12], 0x6b901122);
  Step<F, 12>(d, a, b, c, x[13], 0xfd987193);
  Step<F, 17>(c, d, a, b, x[14], 0xa679438e);
  Step<F, 22>(b, c, d, a, x[15], 0x49b40821);

  Step<G, 5>(a, b, c, d, x[1], 0xf61e2562);
  Step<G, 9>(d, a, b, c, x[6], 0xc040b340);
  Step<G, 14>(c, d, a, b, x[11], 0x265e5a51);
  Step<G, 20>(b, c, d, a, x[0], 0xe9b6c7aa);
  Step<G, 5>(a, b, c, d, x[5], 0xd62f105d);
  Step<G, 9>(d, a, b, c, x[10], 0x02441453);
  Step<G, 14>(c, d, a, b, x[15], 0xd8a1e681);
  Step<G, 20>(b, c, d, a, x[4], 0xe7d3fbc8);
  Step<G, 5>(a, b, c, d, x[9], 0x21e1cde6);
  Step<G, 9>(d, a, b, c, x[14], 0xc33707d6);
  Step<G, 14>(c, d, a, b, x[3], 0xf4d50d87);
  Step<G, 20>(b, c, d, a, x[8], 0x455a14ed);
  Step<G, 5>(a, b, c, d, x[13], 0xa9e3e905);
  Step<G, 9>(d, a, b, c, x[2], 0xfcefa3f8);
  Step<G, 14>(c, d, a, b, x[7], 0x676f02d9);
  Step<G, 20>(b, c, d, a, x[12], 0x8d2a4c8a);

  Step<H, 4>(a, b, c, d, x[5], 0xfffa3942);
  Step<H, 11>(d, a, b, c, x[8], 0x8771f681);
  Step<H, 16>(c, d, a, b, x[11], 0x6d9d6122);
  Step<H, 23>(b, c, d, a, x[14], 0xfde5380c);
  Step<H, 4>(a, b, c, d, x[1], 0xa4beea44);
  Step<H, 11>(d, a, b, c, x[4], 0x4bdecfa9);
  Step<H, 16>(c, d, a, b, x[7], 0xf6bb4b60);
  Step<H, 23>(b, c, d, a, x[10], 0xbebfbc70);
  Step<H, 4>(a, b, c, d, x[13], 0x289b7ec6);
  Step<H, 11>(d, a, b, c, x[0], 0xeaa127fa);
  Step<H, 16>(c, d, a, b, x[3], 0xd4ef3085);
  Step<H, 23>(b, c, d, a, x[6], 0x04881d05);
  Step<H, 4>(a, b, c, d, x[9], 0xd9d4d039);
  Step<H, 11>(d, a, b, c, x[12], 0xe6db99e5);
  Step<H, 16>(c, d, a, b, x[15], 0x1fa27cf8);
  Step<H, 23>(b, c, d, a, x[2], 0xc4ac5665);

  Step<I, 6>(a, b, c, d, x[0], 0xf4292244);
  Step<I, 10>(d, a, b, c, x[7], 0x432aff97);
  Step<I, 15>(c, d, a, b, x[14], 0xab9423a7);
  Step<I, 21>(b, c, d, a, x[5], 0xfc93a039);
  Step<I, 6>(a, b, c, d, x[12], 0x655b59c3);
  Step<I, 10>(d, a, b, c, x[3], 0x8f0ccc92);
  Step<I, 15>(c, d, a, b, x[10], 0xffeff47d);
  Step<I, 21>(b, c, d, a, x[1], 0x85845dd1);
  Step<I, 6>(a, b, c, d, x[8], 0x6fa87e4f);
  Step<I, 10>(d, a, b, c, x[15], 0xfe2ce6e0);
  Step<I, 15>(c, d, a, b, x[6], 0xa3014314);
  Step<I, 21>(b, c, d, a, x[13], 0x4e0811a1);
  Step<I, 6>(a, b, c, d, x[4], 0xf7537e82);
  Step<I, 10>(d, a, b, c, x[11], 0xbd3af235);
  Step<I, 15>(c, d, a, b, x[2], 0x2ad7d2bb);
  Step<I, 21>(b, c, d, a, x[9], 0xeb86d391);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Reads until `length` bytes have arrived; false when the file ends or fails first.
bool ReadFully(int fd, uint8_t* buffer, size_t length) {
  size_t done = 0;
  while (done < length) {
    const ssize_t got = read(fd, buffer + done, length - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace

void CMD5::Init(Md5Context& context) const {
  context.state[0] = 0x67452301;
  context.state[1] = 0xefcdab89;
  context.state[2] = 0x98badcfe;
  context.state[3] = 0x10325476;
  context.count[0] = context.count[1] = 0;
  std::memset(context.buffer, 0, sizeof context.buffer);
}

void CMD5::Update(Md5Context& context, const void* data, size_t length) const {
  const auto* input = static_cast<const uint8_t*>(data);
  uint64_t bits = (static_cast<uint64_t>(context.count[1]) << 32) | context.count[0];
  size_t filled = static_cast<size_t>((bits >> 3) & 0x3F);
  bits += static_cast<uint64_t>(length) << 3;
  context.count[0] = static_cast<uint32_t>(bits);
  context.count[1] = static_cast<uint32_t>(bits >> 32);

  if (filled != 0) {
    const size_t take = std::min(length, 64 - filled);
    std::memcpy(context.buffer + filled, input, take);
    input += take;
    length -= take;
    filled += take;
    if (filled < 64) return;
    Transform(context.state, context.buffer);
  }
  for (; length >= 64; input += 64, length -= 64) Transform(context.state, input);
  if (length != 0) std::memcpy(context.buffer, input, length);
}

void CMD5::Final(Md5Context& context, uint8_t (&digest)[MD5_DIGEST_SIZE]) const {
  uint8_t bitCount[8];
  StoreLe32(bitCount, context.count[0]);
  StoreLe32(bitCount + 4, context.count[1]);
  const size_t filled = (context.count[0] >> 3) & 0x3F;
  const size_t padLength = filled < 56 ? 56 - filled : 120 - filled;
  static const uint8_t padding[64] = {0x80};
  Update(context, padding, padLength);
  Update(context, bitCount, sizeof bitCount);
  for (int i = 0; i < 4; ++i) StoreLe32(digest + 4 * i, context.state[i]);
  std::memset(&context, 0, sizeof context);
}

std::string CMD5::DigestFile(int fd, uint8_t* buffer, size_t bufferSize, uint64_t length) const {
  if (bufferSize == 0 && length != 0) return {};
  Md5Context context;
  Init(context);
  // A chunk is not cleared before it is read: a read that falls short fails the digest, so
  // stale buffer bytes are never hashed.
  for (uint64_t done = 0; done < length;) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(bufferSize, length - done));
    if (!ReadFully(fd, buffer, chunk)) return {};
    Update(context, buffer, chunk);
    done += chunk;
  }
  uint8_t digest[MD5_DIGEST_SIZE];
  Final(context, digest);
  return Md5Hex(digest, true);
}

std::string Md5Hex(const uint8_t (&digest)[MD5_DIGEST_SIZE], bool upperCase) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text(2 * MD5_DIGEST_SIZE, '0');
  for (size_t i = 0; i < MD5_DIGEST_SIZE; ++i) {
    text[2 * i] = digits[digest[i] >> 4];
    text[2 * i + 1] = digits[digest[i] & 0x0F];
  }
  return text;
}

}  // namespace mirk3
