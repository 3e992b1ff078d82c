// Real packages for tests: plain tar archives, content lists sealed with the project's test
// key, and packages signed the way mirk3-pack signs them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mirk3::test {

struct TarEntry {
  std::string name;
  std::string data;
};

// The project's test signing key (tests/data/test-key.private), the private half of the
// station's built-in key.
const std::string& TestPrivateKey();

// Writes a plain tar holding `members` in order.
void WriteTar(const std::string& path, const std::vector<TarEntry>& members);

// A list member: `plain` encrypted with the list key and signed with `privateKey`.
std::string SealedList(const std::string& plain, const std::string& privateKey = TestPrivateKey());

// Writes a tar of `members` and signs it into `path` with mirk3-pack's signer, for `model`.
void WriteSignedPackage(const std::string& path, const std::vector<TarEntry>& members,
                        const std::string& model, const std::string& privateKey = TestPrivateKey());

// Changes the byte at `offset` of the file in place: same inode, same size, new data. With
// `keepModified`, the modification time is set back to what it was.
void SpoilInPlace(const std::string& path, uint64_t offset, bool keepModified = false);

// Deterministic filler bytes, different for each `seed`.
std::string TestBytes(size_t length, unsigned seed);

}  // namespace mirk3::test
