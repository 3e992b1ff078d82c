// The verdicts the workers of one run share: real signed packages checked from many threads
// at once, then changed on disk or checked against another key.
#include "packages/meta_data_results.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <thread>
#include <vector>

#include "pack/key_pair.h"
#include "packages/meta_data_failure.h"
#include "packages/meta_data_key.h"
#include "packages/package_meta_data.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

constexpr int WORKERS = 8;

struct Asked {
  std::vector<PackageVerdict> verdicts = std::vector<PackageVerdict>(WORKERS);
  std::vector<HeaderBlocks> blocks = std::vector<HeaderBlocks>(WORKERS);

  // How many of the workers kept the header blocks of the package.
  int Keepers() const {
    int keepers = 0;
    uint8_t block[TAR_BLOCK_SIZE];
    for (const HeaderBlocks& kept : blocks) keepers += kept.Find(0, block) ? 1 : 0;
    return keepers;
  }
};

// WORKERS threads ask for the verdict of `path` at the same time.
Asked AskAtOnce(MetaDataResults& results, const std::string& path, const std::string& key) {
  Asked asked;
  std::vector<std::thread> threads;
  for (int i = 0; i < WORKERS; ++i) {
    threads.emplace_back(
        [&, i] { asked.verdicts[i] = CheckPackageFile(path, key, &results, &asked.blocks[i]); });
  }
  for (std::thread& thread : threads) thread.join();
  return asked;
}

TEST(MetaDataResultsTest, EachFileAndKeyIsCheckedOnceAndAChangedFileAgain) {
  test::TempDir dir;
  const std::string path = dir / "AP_shared.tar";
  test::WriteSignedPackage(path, {{"boot.img", test::TestBytes(300000, 5)}}, "SM-SHARED");
  MetaDataResults results;

  const Asked first = AskAtOnce(results, path, BuiltInMetaDataKey());
  EXPECT_EQ(results.ChecksRun(), 1);
  for (const PackageVerdict& verdict : first.verdicts) {
    EXPECT_TRUE(verdict.verified);
    EXPECT_EQ(verdict.model, "SM-SHARED");
  }
  EXPECT_EQ(first.Keepers(), 1) << "only the worker that read the package keeps its headers";

  // Another maker's key is another question about the same file.
  const Asked otherKey = AskAtOnce(results, path, pack::GenerateKeyPair().publicText);
  EXPECT_EQ(results.ChecksRun(), 2);
  // Every worker learns why, not only the one that checked.
  for (const PackageVerdict& verdict : otherKey.verdicts) {
    EXPECT_FALSE(verdict.verified);
    EXPECT_EQ(verdict.failure.problem, MetaDataProblem::BadSignature) << verdict.failure.text;
  }

  // A member's byte changed in place, its modification time set back: still another file.
  test::SpoilInPlace(path, TAR_BLOCK_SIZE + 10, true);
  const Asked spoiled = AskAtOnce(results, path, BuiltInMetaDataKey());
  EXPECT_EQ(results.ChecksRun(), 3);
  for (const PackageVerdict& verdict : spoiled.verdicts) {
    EXPECT_FALSE(verdict.verified);
    EXPECT_EQ(verdict.failure.problem, MetaDataProblem::DigestDiffers) << verdict.failure.text;
  }
}

// A verdict that only says the disk failed is not kept: the next asker checks again.
TEST(MetaDataResultsTest, AnUnreadableVerdictOrAThrowIsCheckedAgain) {
  MetaDataResults results;
  const FileIdentity file{1, 2, 3, 4, 5, 6, 7};
  PackageVerdict unreadable;
  unreadable.failure = UnreadablePackage(EIO);
  const auto check = [&] { return unreadable; };
  EXPECT_EQ(results.Verdict(file, "key", check).failure.problem, MetaDataProblem::Unreadable);
  EXPECT_EQ(results.Verdict(file, "key", check).failure.problem, MetaDataProblem::Unreadable);
  EXPECT_EQ(results.ChecksRun(), 2);
  EXPECT_THROW(results.Verdict(file, "other", [&]() -> PackageVerdict { throw std::bad_alloc(); }),
               std::bad_alloc);
  PackageVerdict verified;
  verified.verified = true;
  const auto pass = [&] { return verified; };
  EXPECT_TRUE(results.Verdict(file, "other", pass).verified) << "the throw was not kept";
  EXPECT_TRUE(results.Verdict(file, "other", pass).verified);
  EXPECT_EQ(results.ChecksRun(), 4) << "a real verdict is kept";
}

}  // namespace
}  // namespace mirk3
