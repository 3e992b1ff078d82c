#include "support/test_packages.h"

#include <gtest/gtest.h>

#include "pack/list_signer.h"
#include "pack/package_signer.h"
#include "pack/tar_writer.h"
#include "support/temp_dir.h"

namespace mirk3::test {

const std::string& TestPrivateKey() {
  static const std::string key = ReadFile(MIRK3_SOURCE_DIR "/tests/data/test-key.private");
  return key;
}

void WriteTar(const std::string& path, const std::vector<TarEntry>& members) {
  pack::TarWriter writer;
  bool ok = writer.Open(path);
  for (const TarEntry& member : members) ok = ok && writer.AddBytes(member.name, member.data);
  ok = ok && writer.Finish();
  if (!ok) ADD_FAILURE() << "cannot write " << path << ": " << writer.Error();
}

std::string SealedList(const std::string& plain, const std::string& privateKey) {
  std::string member, error;
  if (!pack::SealContentList(plain, privateKey, member, error)) ADD_FAILURE() << error;
  return member;
}

void WriteSignedPackage(const std::string& path, const std::vector<TarEntry>& members,
                        const std::string& model, const std::string& privateKey) {
  const std::string plainTar = path + ".unsigned";
  WriteTar(plainTar, members);
  pack::SignRequest request;
  request.privateKeyText = privateKey;
  request.model = model;
  request.inPath = plainTar;
  request.outPath = path;
  std::string error;
  if (!pack::SignPackage(request, error)) ADD_FAILURE() << "cannot sign " << path << ": " << error;
  std::remove(plainTar.c_str());
}

std::string TestBytes(size_t length, unsigned seed) {
  std::string bytes(length, '\0');
  uint32_t state = 2463534242u ^ (seed * 2654435761u);
  if (state == 0) state = 1;
  for (char& byte : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    byte = static_cast<char>(state);
  }
  return bytes;
}

}  // namespace mirk3::test
