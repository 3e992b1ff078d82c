// The stream over stored member bytes, against a real file with bytes around the member.
#include "packages/plain_member_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

class PlainMemberStreamTest : public ::testing::Test {
 protected:
  PlainMemberStreamTest() {
    test::WriteFile(dir_ / "package", bytes_);
    fd_ = ::open((dir_ / "package").c_str(), O_RDONLY | O_CLOEXEC);
  }
  ~PlainMemberStreamTest() override { ::close(fd_); }

  test::TempDir dir_;
  const std::string bytes_ = test::TestBytes(100000, 11);
  int fd_ = -1;
};

TEST_F(PlainMemberStreamTest, ReadsExactlyItsRegion) {
  PlainMemberStream stream(fd_, 1234, 50000);
  ::lseek(fd_, 99, SEEK_SET);  // the file position plays no part
  std::string got;
  for (const size_t piece : {1, 4095, 30000, 15904}) {
    std::string buffer(piece, '\0');
    ASSERT_TRUE(stream.ReadExact(buffer.data(), piece)) << stream.FailureText();
    got += buffer;
  }
  EXPECT_EQ(got, bytes_.substr(1234, 50000));
  EXPECT_TRUE(stream.Finish());
}

TEST_F(PlainMemberStreamTest, FailsPastTheRegionOrTheFile) {
  std::string buffer(2000, '\0');
  PlainMemberStream stream(fd_, 0, 1000);
  EXPECT_FALSE(stream.ReadExact(buffer.data(), 1001));
  EXPECT_EQ(stream.FailureText(), "asked for 1001 bytes where the member has 1000 left");
  EXPECT_FALSE(stream.ReadExact(buffer.data(), 10)) << "a failed stream stays failed";
  EXPECT_FALSE(stream.Finish());

  stream.Begin(fd_, 99000, 2000);  // the member's header claims more than the file holds
  EXPECT_TRUE(stream.ReadExact(buffer.data(), 1000));
  EXPECT_FALSE(stream.ReadExact(buffer.data(), 1000));
  EXPECT_EQ(stream.FailureText(), "the package ends 1000 bytes before the member does");

  stream.Begin(fd_, 0, 1000);
  EXPECT_TRUE(stream.ReadExact(buffer.data(), 999));
  EXPECT_FALSE(stream.Finish());
  EXPECT_EQ(stream.FailureText(), "the member was read to 999 of its 1000 bytes only");
}

}  // namespace
}  // namespace mirk3
