// Reading ahead on a helper thread, over real member streams on real files: the bytes handed
// out are exactly the member's, whatever the read sizes, and an inner failure is handed on at
// the piece where it happened, after every piece read before it.
#include "packages/read_ahead_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <string>

#include "packages/inflate_reader.h"
#include "packages/plain_member_stream.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

constexpr size_t PIECE = 65536;

class ReadAheadStreamTest : public ::testing::Test {
 protected:
  ~ReadAheadStreamTest() override {
    if (fd_ >= 0) ::close(fd_);
  }
  int Open(const std::string& bytes) {
    test::WriteFile(dir_ / "member", bytes);
    fd_ = ::open((dir_ / "member").c_str(), O_RDONLY | O_CLOEXEC);
    return fd_;
  }
  // Reads `length` bytes in pieces of the given sizes, in turn; stops at the first failure.
  static std::string ReadAll(CByteStream& stream, size_t length, bool* ok) {
    const size_t sizes[] = {1, 65535, 2, 100000, 7, 65536, 30000};
    std::string got;
    *ok = true;
    for (size_t i = 0; *ok && got.size() < length; ++i) {
      std::string piece(std::min(sizes[i % std::size(sizes)], length - got.size()), '\0');
      *ok = stream.ReadExact(piece.data(), piece.size());
      if (*ok) got += piece;
    }
    return got;
  }

  test::TempDir dir_;
  int fd_ = -1;
};

TEST_F(ReadAheadStreamTest, HandsOutExactlyTheInflatedMember) {
  std::string data = test::TestBytes(1000000, 1);
  std::fill_n(data.begin() + 200000, 300000, '\0');
  uLongf storedLength = compressBound(static_cast<uLong>(data.size()));
  std::string stored(storedLength, '\0');
  ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(stored.data()), &storedLength,
                      reinterpret_cast<const Bytef*>(data.data()), data.size(), 6),
            Z_OK);
  stored.resize(storedLength);
  CInflateReader reader;
  ASSERT_TRUE(reader.Begin(Open(stored), 0, stored.size(), data.size()));
  {
    CReadAheadStream ahead(reader, data.size(), PIECE);
    bool ok = false;
    EXPECT_EQ(ReadAll(ahead, data.size(), &ok), data);
    EXPECT_TRUE(ok) << ahead.FailureText();
    char extra;
    EXPECT_FALSE(ahead.ReadExact(&extra, 1));
    EXPECT_EQ(ahead.FailureText(), "asked for 1 bytes where the member has 0 left");
  }
  EXPECT_TRUE(reader.Finish()) << reader.FailureText();
}

TEST_F(ReadAheadStreamTest, AnInnerFailureComesAfterEveryPieceReadBeforeIt) {
  // The member claims ten pieces; the file holds three and a half.
  const std::string data = test::TestBytes(3 * PIECE + PIECE / 2, 2);
  CPlainMemberStream plain(Open(data), 0, 10 * PIECE);
  CReadAheadStream ahead(plain, 10 * PIECE, PIECE);
  std::string got(3 * PIECE, '\0');
  ASSERT_TRUE(ahead.ReadExact(got.data(), got.size())) << ahead.FailureText();
  EXPECT_EQ(got, data.substr(0, 3 * PIECE));
  char byte;
  EXPECT_FALSE(ahead.ReadExact(&byte, 1));
  EXPECT_EQ(ahead.FailureText(), "the package ends 425984 bytes before the member does");
  EXPECT_FALSE(ahead.ReadExact(&byte, 1)) << "a failed stream stays failed";
  EXPECT_FALSE(ahead.Finish());
}

TEST_F(ReadAheadStreamTest, EmptyShortAndAbandonedMembers) {
  const std::string data = test::TestBytes(10 * PIECE, 3);
  const int fd = Open(data);
  {
    CPlainMemberStream plain(fd, 0, 0);
    CReadAheadStream ahead(plain, 0, PIECE);
    EXPECT_TRUE(ahead.ReadExact(nullptr, 0));
    EXPECT_TRUE(ahead.Finish());
  }
  {
    // Smaller than one piece.
    CPlainMemberStream plain(fd, 5, 10);
    CReadAheadStream ahead(plain, 10, PIECE);
    std::string got(10, '\0');
    ASSERT_TRUE(ahead.ReadExact(got.data(), 10));
    EXPECT_EQ(got, data.substr(5, 10));
    EXPECT_TRUE(ahead.Finish());
    EXPECT_TRUE(plain.Finish());
  }
  {
    // A transfer that stops early: Finish says so and the helper is stopped, not waited out.
    CPlainMemberStream plain(fd, 0, data.size());
    CReadAheadStream ahead(plain, data.size(), PIECE);
    std::string got(PIECE + 1, '\0');
    ASSERT_TRUE(ahead.ReadExact(got.data(), got.size()));
    EXPECT_FALSE(ahead.Finish());
    EXPECT_EQ(ahead.FailureText(), "the member was read to 65537 of its 655360 bytes only");
    EXPECT_LT(plain.Left(), data.size());
    EXPECT_GT(plain.Left(), data.size() - 4 * PIECE) << "read at most two pieces ahead";
  }
  {
    CPlainMemberStream plain(fd, 0, data.size());
    CReadAheadStream dropped(plain, data.size(), PIECE);
  }
}

}  // namespace
}  // namespace mirk3
