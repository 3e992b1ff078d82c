// A large signed package for the benchmarks that measure the meta-data check: one member of
// zeros written sparse (a header, a hole, the end blocks), signed with the project's test key,
// the private half of the built-in key. Hashing it costs what hashing real data does.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "pack/package_signer.h"
#include "pack/tar_writer.h"

namespace mirk3::bench {

inline bool WritePlainTar(const std::string& path, uint64_t memberSize) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const auto header = pack::MakeTarHeader("system.img", memberSize);
  const uint64_t end = TAR_BLOCK_SIZE + memberSize + 2 * TAR_BLOCK_SIZE;
  const bool ok =
      ::pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
      ::ftruncate(fd, static_cast<off_t>(end)) == 0;
  return ::close(fd) == 0 && ok;
}

// `package` (in `dir`) signed for `model`; false, and why on standard error, when it cannot be.
inline bool MakeSignedPackage(const std::string& dir, const std::string& package,
                              uint64_t memberSize, const std::string& model) {
  std::ifstream keyFile(MIRK3_SOURCE_DIR "/tests/data/test-key.private");
  pack::SignRequest request;
  request.privateKeyText.assign(std::istreambuf_iterator<char>(keyFile), {});
  request.model = model;
  request.inPath = dir + "/plain.tar";
  request.outPath = package;
  std::string error;
  const bool made = WritePlainTar(request.inPath, memberSize) && pack::SignPackage(request, error);
  if (!made) std::fprintf(stderr, "cannot make the package: %s\n", error.c_str());
  std::filesystem::remove(request.inPath);
  return made;
}

}  // namespace mirk3::bench
