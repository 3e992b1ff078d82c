// Meta-data verification against sha256sum over the same signed 1 GiB package (page-cached
// for both), in bytes per processor second: the check hashes every member and compares it
// with its signed list.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "cpu_clock.h"
#include "pack/key_pair.h"
#include "pack/package_signer.h"
#include "pack/tar_writer.h"
#include "packages/package_meta_data.h"

namespace {

constexpr int MEMBERS = 4;
constexpr uint64_t MEMBER_SIZE = uint64_t{256} << 20;
constexpr double TARGET = 1.0;
constexpr int ROUNDS = 3;

bool WriteTar(const std::string& path) {
  mirk3::pack::TarWriter writer;
  if (!writer.Open(path)) return false;
  constexpr size_t CHUNK = 4 << 20;
  const auto chunk = std::make_unique<char[]>(CHUNK);
  uint64_t state = 0x9E3779B97F4A7C15ull;
  for (int m = 0; m < MEMBERS; ++m) {
    const auto header =
        mirk3::pack::MakeTarHeader("image" + std::to_string(m) + ".img", MEMBER_SIZE);
    if (!writer.WriteRaw(std::string_view(reinterpret_cast<const char*>(header.data()), 512))) {
      return false;
    }
    for (uint64_t done = 0; done < MEMBER_SIZE; done += CHUNK) {
      for (size_t i = 0; i < CHUNK; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        chunk[i] = static_cast<char>(state >> 56);
      }
      if (!writer.WriteRaw(std::string_view(chunk.get(), CHUNK))) return false;
    }
  }
  return writer.Finish();
}

}  // namespace

int main() {
  char dir[] = "/tmp/mirk3-bench-meta-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  const std::string plain = std::string(dir) + "/plain.tar";
  const std::string package = std::string(dir) + "/AP_bench.tar";
  const mirk3::pack::KeyPairText keys = mirk3::pack::GenerateKeyPair();
  mirk3::pack::SignRequest request;
  request.privateKeyText = keys.privateText;
  request.model = "SM-BENCH";
  request.inPath = plain;
  request.outPath = package;
  std::string error;
  const bool made = WriteTar(plain) && mirk3::pack::SignPackage(request, error);
  unlink(plain.c_str());

  double sha256sum = -1, verify = -1;
  if (made) {
    sha256sum = verify = 0;
    for (int round = 0; round < ROUNDS; ++round) {
      mirk3::bench::KeepBest(sha256sum, mirk3::bench::CpuSecondsOf([&] {
                               return mirk3::bench::RunQuietly("sha256sum " + package);
                             }));
      mirk3::bench::KeepBest(verify, mirk3::bench::CpuSecondsOf([&] {
                               char model[mirk3::PACKAGE_MODEL_SIZE] = {};
                               return mirk3::VerifyPackageFileMetaData(package, keys.publicText,
                                                                       model);
                             }));
    }
  }
  unlink(package.c_str());
  rmdir(dir);
  if (sha256sum <= 0 || verify <= 0) {
    std::fprintf(stderr, "a run failed: %s\n", made ? "check or sha256sum" : error.c_str());
    return 1;
  }

  const double mib = static_cast<double>(MEMBERS * MEMBER_SIZE) / (1 << 20);
  std::printf("sha256sum %.0f MiB per CPU second, meta-data check %.0f\n", mib / sha256sum,
              mib / verify);
  std::printf("BENCH meta_data_verify ratio=%.2f target=%.1f\n", sha256sum / verify, TARGET);
  return 0;
}
