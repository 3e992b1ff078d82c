// CMD5 against RFC 1321's test suite and md5sum, and the trailer check of ".tar.md5" packages.
#include "packages/md5.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "pack/md5_package.h"
#include "packages/md5_trailer.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Md5Of(std::string_view data, size_t piece = std::string_view::npos) {
  const CMD5 md5;
  Md5Context context;
  md5.Init(context);
  for (size_t at = 0; at < data.size(); at += piece) {
    md5.Update(context, data.data() + at, std::min(piece, data.size() - at));
  }
  uint8_t digest[MD5_DIGEST_SIZE];
  md5.Final(context, digest);
  return Md5Hex(digest, false);
}

std::string Md5sumOf(const std::string& path) {
  const std::string command = "md5sum '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {};
  char hex[33] = {};
  const size_t got = fread(hex, 1, 32, pipe);
  pclose(pipe);
  return std::string(hex, got);
}

TEST(Md5Test, RfcTestSuite) {
  const struct {
    const char* input;
    const char* digest;
  } cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"1234567890123456789012345678901234567890"
       "1234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
  };
  for (const auto& c : cases) EXPECT_EQ(Md5Of(c.input), c.digest) << '"' << c.input << '"';
}

TEST(Md5Test, PiecesOfAnySizeGiveTheDigestOfTheWhole) {
  const std::string data = test::TestBytes(10000, 1);
  const std::string whole = Md5Of(data);
  for (size_t piece : {1, 3, 55, 56, 63, 64, 65, 127, 128, 4095, 9999}) {
    EXPECT_EQ(Md5Of(data, piece), whole) << "pieces of " << piece;
  }
}

TEST(Md5Test, AgreesWithMd5sumAndWipesTheContext) {
  TempDir dir;
  const std::string path = dir / "data.bin";
  const std::string data = test::TestBytes(300001, 2);
  WriteFile(path, data);
  EXPECT_EQ(Md5Of(data), Md5sumOf(path));

  const CMD5 md5;
  Md5Context context;
  md5.Init(context);
  md5.Update(context, data.data(), 100);
  uint8_t digest[MD5_DIGEST_SIZE];
  md5.Final(context, digest);
  const Md5Context zero{};
  EXPECT_EQ(std::memcmp(&context, &zero, sizeof context), 0);
}

TEST(Md5Test, DigestFileFailsWhenTheFileEndsEarly) {
  TempDir dir;
  const std::string path = dir / "short.bin";
  WriteFile(path, test::TestBytes(1000, 3));
  const int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  std::vector<uint8_t> buffer(256);
  const CMD5 md5;
  EXPECT_EQ(md5.DigestFile(fd, buffer.data(), buffer.size(), 1001), "");
  ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
  std::string upper = Md5Of(test::TestBytes(1000, 3));
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  EXPECT_EQ(md5.DigestFile(fd, buffer.data(), buffer.size(), 1000), upper);
  close(fd);
}

class Md5TrailerTest : public ::testing::Test {
 protected:
  // A ".tar.md5" package written by mirk3-pack from a tar of `tarBytes`.
  std::string MakePackage(const std::string& tarName, const std::string& tarBytes) {
    const std::string tar = dir_ / tarName;
    WriteFile(tar, tarBytes);
    std::string error;
    EXPECT_TRUE(pack::WriteMd5Package(tar, error)) << error;
    return tar + ".md5";
  }

  bool Verify(const std::string& path) {
    log_.clear();
    failure_ = {Md5Problem::DigestDiffers, "left from an earlier check"};
    return VerifyMd5Trailer(
        path, [this](std::string_view line) { log_.emplace_back(line); }, &failure_);
  }

  static void ChangeByte(const std::string& path, uint64_t offset) {
    std::string bytes = ReadFile(path);
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
    WriteFile(path, bytes);
  }

  TempDir dir_;
  std::vector<std::string> log_;
  Md5Failure failure_;
};

TEST_F(Md5TrailerTest, DigestsVerifyInEitherCase) {
  const std::string lower = MakePackage("a.tar", test::TestBytes(5000, 4));
  const std::string content = ReadFile(lower);
  const size_t h = content.size() - std::string("a.tar.md5").size() - 31;
  EXPECT_EQ(content.substr(h), Md5Of(content.substr(0, h)) + "  a.tar\n");
  EXPECT_TRUE(Verify(lower));
  EXPECT_TRUE(log_.empty());

  std::string upper = content;
  for (size_t i = h; i < h + 32; ++i) upper[i] = static_cast<char>(std::toupper(upper[i]));
  ASSERT_NE(upper, content);
  WriteFile(dir_ / "b.tar.md5", upper);
  EXPECT_TRUE(Verify(dir_ / "b.tar.md5"));
}

TEST_F(Md5TrailerTest, TrailerOnlyPackageVerifiesAgainstTheEmptyDigest) {
  const std::string path = MakePackage("e.tar", "");
  EXPECT_EQ(ReadFile(path), "d41d8cd98f00b204e9800998ecf8427e  e.tar\n");
  EXPECT_TRUE(Verify(path));
}

TEST_F(Md5TrailerTest, OnlyTheTarPartAndTheDigestCount) {
  const std::string name = "pkg.tar.md5";
  const uint64_t tarLength = 3 * 512;
  const uint64_t trailerLength = Md5TrailerLength(name.size());
  const struct {
    const char* what;
    uint64_t offset;
    bool passes;
  } cases[] = {
      {"first tar byte", 0, false},
      {"a tar byte in the middle", 700, false},
      {"last tar byte", tarLength - 1, false},
      {"a digest digit", tarLength + 5, false},
      {"first separator byte", tarLength + 32, true},
      {"second separator byte", tarLength + 33, true},
      {"a byte of the name", tarLength + 36, true},
      {"the line end", tarLength + trailerLength - 1, true},
  };
  const std::string original = ReadFile(MakePackage("pkg.tar", test::TestBytes(tarLength, 5)));
  ASSERT_EQ(original.size(), tarLength + trailerLength);
  for (const auto& c : cases) {
    WriteFile(dir_ / name, original);
    ChangeByte(dir_ / name, c.offset);
    EXPECT_EQ(Verify(dir_ / name), c.passes) << c.what;
    const std::vector<std::string> failureLog = {"MD5 hash value is invalid"};
    EXPECT_EQ(log_, c.passes ? std::vector<std::string>{} : failureLog) << c.what;
    EXPECT_EQ(failure_.problem == Md5Problem::None, c.passes) << c.what << ": " << failure_.text;
  }
}

TEST_F(Md5TrailerTest, RenamingToAnotherLengthFails) {
  const std::string path = MakePackage("a.tar", test::TestBytes(2048, 6));
  std::filesystem::copy_file(path, dir_ / "ab.tar.md5");
  std::filesystem::copy_file(path, dir_ / "b.tar.md5");
  EXPECT_FALSE(Verify(dir_ / "ab.tar.md5"));
  EXPECT_TRUE(Verify(dir_ / "b.tar.md5"));  // the name inside the trailer is never compared

  // The name's length counts its bytes, as the trailer holds them.
  EXPECT_TRUE(Verify(MakePackage("\xC3\xA4-\xE2\x82\xAC.tar", test::TestBytes(1024, 6))));
}

TEST_F(Md5TrailerTest, UnusableFilesFailWithoutWaiting) {
  WriteFile(dir_ / "tiny.tar.md5", std::string(30, 'x'));  // shorter than its own 42-byte trailer
  EXPECT_FALSE(Verify(dir_ / "tiny.tar.md5"));
  EXPECT_EQ(log_, std::vector<std::string>{"MD5 hash value is invalid"});
  EXPECT_EQ(failure_.problem, Md5Problem::NoTrailer) << failure_.text;

  EXPECT_FALSE(Verify(dir_ / "missing.tar.md5"));
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(failure_.text, "cannot read the file: no such file");

  ASSERT_EQ(mkfifo((dir_ / "fifo.tar.md5").c_str(), 0600), 0);
  EXPECT_FALSE(Verify(dir_ / "fifo.tar.md5"));  // never opened for a writer that never comes
  EXPECT_EQ(failure_.problem, Md5Problem::Unreadable) << failure_.text;
  std::filesystem::create_directory(dir_ / "dir.tar.md5");
  EXPECT_FALSE(Verify(dir_ / "dir.tar.md5"));
  EXPECT_EQ(failure_.problem, Md5Problem::Unreadable) << failure_.text;
}

TEST_F(Md5TrailerTest, PackageAboveTheBufferGivesTheDigestOfOnePass) {
  // A sparse tar part of 100 MiB + 1 MiB + 3 bytes with data near both chunk edges.
  const uint64_t tarLength = MD5_DIGEST_BUFFER_SIZE + 1048576 + 3;
  const std::string path = dir_ / "big.tar.md5";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(tarLength)), 0);
  for (const uint64_t at : {uint64_t{0}, MD5_DIGEST_BUFFER_SIZE - 2, tarLength - 5}) {
    ASSERT_EQ(pwrite(fd, "edge!", 5, static_cast<off_t>(at)), 5);
  }

  const CMD5 md5;
  std::vector<std::string> digests;
  for (const uint64_t bufferSize :
       {tarLength, uint64_t{MD5_DIGEST_BUFFER_SIZE}, uint64_t{1} << 20}) {
    std::vector<uint8_t> buffer(bufferSize);
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    digests.push_back(md5.DigestFile(fd, buffer.data(), buffer.size(), tarLength));
  }
  EXPECT_EQ(digests[0].size(), 32u);
  EXPECT_EQ(digests[1], digests[0]);
  EXPECT_EQ(digests[2], digests[0]);

  const std::string trailer = digests[0] + "  big.tar\n";
  ASSERT_EQ(pwrite(fd, trailer.data(), trailer.size(), static_cast<off_t>(tarLength)),
            static_cast<ssize_t>(trailer.size()));
  close(fd);
  EXPECT_TRUE(Verify(path));
}

TEST_F(Md5TrailerTest, ChecksFromTwoThreadsRunOneAfterTheOther) {
  const std::string good = MakePackage("good.tar", test::TestBytes(4096, 7));
  const std::string bad = MakePackage("bad.tar", test::TestBytes(4096, 8));
  ChangeByte(bad, 10);

  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  auto check = [&](const std::string& path) {
    return VerifyMd5Trailer(path, [&](std::string_view) {
      if (inside.fetch_add(1) != 0) overlapped = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      inside.fetch_sub(1);
    });
  };

  std::unique_lock<std::mutex> hold(Md5CheckLock());
  auto first = std::async(std::launch::async, check, bad);
  auto second = std::async(std::launch::async, check, bad);
  auto third = std::async(std::launch::async, check, good);
  // While another check holds the lock, none of them can finish, however long it takes.
  EXPECT_EQ(first.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout);
  EXPECT_EQ(third.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
  hold.unlock();
  EXPECT_FALSE(first.get());
  EXPECT_FALSE(second.get());
  EXPECT_TRUE(third.get());
  EXPECT_FALSE(overlapped);
}

}  // namespace
}  // namespace mirk3
