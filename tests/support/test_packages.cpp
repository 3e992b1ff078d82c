#include "support/test_packages.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

void SpoilInPlace(const std::string& path, uint64_t offset, bool keepModified) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  struct stat before {};
  char byte = 0;
  bool ok = fd >= 0 && ::fstat(fd, &before) == 0 &&
            ::pread(fd, &byte, 1, static_cast<off_t>(offset)) == 1;
  byte = static_cast<char>(byte ^ 0x5A);
  ok = ok && ::pwrite(fd, &byte, 1, static_cast<off_t>(offset)) == 1;
  const timespec times[2] = {before.st_atim, before.st_mtim};
  if (ok && keepModified) ok = ::futimens(fd, times) == 0;
  if (!ok) ADD_FAILURE() << "cannot change " << path;
  if (fd >= 0) ::close(fd);
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
