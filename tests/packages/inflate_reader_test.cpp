// The inflating reader against real zlib streams in real files: members are compressed here
// with zlib's own compressor, placed between other bytes of a file and read back at their
// offset, whole or in pieces; damaged, cut and mislabelled streams must fail, never yield bytes.
#include "packages/inflate_reader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using test::TestBytes;

std::string Compress(const std::string& data, int level = Z_DEFAULT_COMPRESSION) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  std::string out(length, '\0');
  const int result = compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                               reinterpret_cast<const Bytef*>(data.data()),
                               static_cast<uLong>(data.size()), level);
  EXPECT_EQ(result, Z_OK);
  out.resize(length);
  return out;
}

// A zlib stream that needs a preset dictionary to be inflated.
std::string CompressWithDictionary(const std::string& data, const std::string& dictionary) {
  z_stream stream{};
  EXPECT_EQ(deflateInit(&stream, Z_DEFAULT_COMPRESSION), Z_OK);
  deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(dictionary.data()),
                       static_cast<uInt>(dictionary.size()));
  std::string out(compressBound(static_cast<uLong>(data.size())) + 64, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

// Firmware-like contents: runs of zeros, repeated text and noise.
std::string MixedBytes(size_t length, unsigned seed) {
  std::string out;
  const std::string noise = TestBytes(length, seed);
  for (size_t block = 0; out.size() < length; ++block) {
    const size_t n = std::min<size_t>(4096 + (block * 977) % 9000, length - out.size());
    switch (block % 3) {
      case 0:
        out.append(n, '\0');
        break;
      case 1:
        for (size_t i = 0; i < n; ++i) out.push_back("partition boot loader "[(i + block) % 22]);
        break;
      default:
        out.append(noise, out.size(), n);
    }
  }
  return out;
}

struct Member {
  std::string data;
  std::string stored;
};

// Noise whose zlib stream is exactly `storedSize` bytes long.
Member MemberStoredAs(size_t storedSize) {
  for (const int level : {0, 1, 6, 9}) {
    for (size_t length = storedSize; length + 400 > storedSize && length > 0; --length) {
      Member member{TestBytes(length, static_cast<unsigned>(storedSize)), ""};
      member.stored = Compress(member.data, level);
      if (member.stored.size() == storedSize) return member;
    }
  }
  ADD_FAILURE() << "no stream of " << storedSize << " bytes found";
  return {};
}

class InflateReaderTest : public ::testing::Test {
 protected:
  ~InflateReaderTest() override {
    for (const int fd : fds_) ::close(fd);
  }

  // A file holding `before`, the stored bytes and `after`; the member starts at before.size().
  int FileWith(const std::string& before, const std::string& stored,
               const std::string& after = "tail bytes that are not the member's") {
    const std::string path = dir_ / ("member" + std::to_string(fds_.size()));
    test::WriteFile(path, before + stored + after);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_GE(fd, 0);
    fds_.push_back(fd);
    return fd;
  }

  // Begins `member` stored at offset 1000 of a file of its own.
  void BeginMember(const Member& member, uint64_t inflatedSize, uint64_t storedSize) {
    const int fd = FileWith(TestBytes(1000, 7), member.stored);
    ASSERT_TRUE(reader_.Begin(fd, 1000, storedSize, inflatedSize));
  }
  void BeginMember(const Member& member) {
    BeginMember(member, member.data.size(), member.stored.size());
  }

  // Reads `count` bytes in one call; nothing when the reader refuses.
  std::optional<std::string> Read(size_t count) {
    std::string out(count, '\x55');
    if (!reader_.ReadExact(out.data(), count)) return std::nullopt;
    return out;
  }

  test::TempDir dir_;
  std::vector<int> fds_;
  CInflateReader reader_;
};

TEST_F(InflateReaderTest, TakesCompressedInputSixteenKibibytesAtATime) {
  for (const size_t storedSize : {size_t{16384}, size_t{16385}}) {
    SCOPED_TRACE(storedSize);
    const Member member = MemberStoredAs(storedSize);
    BeginMember(member);
    EXPECT_EQ(Read(member.data.size()), member.data);
    EXPECT_EQ(reader_.SourceReads(), storedSize == 16384 ? 1u : 2u);
    EXPECT_TRUE(reader_.Finish()) << reader_.FailureText();
  }
}

TEST_F(InflateReaderTest, EmptyMembers) {
  // Stored as nothing at all: no stream, no bytes.
  ASSERT_TRUE(reader_.Begin(FileWith("x", ""), 1, 0, 0));
  EXPECT_EQ(Read(0), "");
  EXPECT_FALSE(Read(1));
  EXPECT_FALSE(reader_.Finish());

  ASSERT_TRUE(reader_.Begin(FileWith("x", ""), 1, 0, 0));
  EXPECT_TRUE(reader_.Finish()) << reader_.FailureText();

  // Stored as nothing but claiming contents: there is nothing to inflate them from.
  ASSERT_TRUE(reader_.Begin(FileWith("x", ""), 1, 0, 10));
  EXPECT_FALSE(Read(10));
  EXPECT_EQ(reader_.FailureText(), "the compressed data is cut short");

  // The zlib stream of empty contents is checked to its end by Finish alone.
  BeginMember({"", Compress("")});
  EXPECT_TRUE(reader_.Finish()) << reader_.FailureText();
  Member damaged{"", Compress("")};
  damaged.stored.back() ^= 1;
  BeginMember(damaged);
  EXPECT_FALSE(reader_.Finish());
  EXPECT_NE(reader_.FailureText().find("damaged"), std::string::npos) << reader_.FailureText();
}

TEST_F(InflateReaderTest, RefusesToReadPastTheMember) {
  const std::string data = MixedBytes(1000, 1);
  BeginMember({data, Compress(data)});
  EXPECT_EQ(Read(600), data.substr(0, 600));
  EXPECT_FALSE(Read(401));
  EXPECT_EQ(reader_.FailureText(), "asked for 401 bytes where the member has 400 left");
  EXPECT_FALSE(Read(400)) << "a failed reader stays failed";
  EXPECT_FALSE(reader_.Finish());
}

TEST_F(InflateReaderTest, ReadsInSmallPiecesGiveExactlyTheMember) {
  const std::string data = MixedBytes(300000, 2);
  const Member member{data, Compress(data)};
  BeginMember(member);
  std::string got;
  const size_t pieces[] = {1, 7, 4096, 65536, 16384, 3, 100003};
  for (size_t i = 0; got.size() < data.size(); ++i) {
    const size_t n = std::min(pieces[i % std::size(pieces)], data.size() - got.size());
    const auto piece = Read(n);
    ASSERT_TRUE(piece) << reader_.FailureText();
    got += *piece;
  }
  EXPECT_EQ(got, data);
  EXPECT_EQ(reader_.SourceReads(), (member.stored.size() + 16383) / 16384);
  EXPECT_TRUE(reader_.Finish()) << reader_.FailureText();

  // The same reader takes the next member, at its own offset, whatever the file position is.
  const std::string next = MixedBytes(50000, 3);
  const int fd = FileWith(std::string(5000, 'h'), Compress(next));
  ::lseek(fd, 17, SEEK_SET);
  ASSERT_TRUE(reader_.Begin(fd, 5000, Compress(next).size(), next.size()));
  EXPECT_EQ(Read(next.size()), next);
  EXPECT_TRUE(reader_.Finish());
}

TEST_F(InflateReaderTest, BigMembersInPacketSizedReads) {
  const size_t packet = 1 << 20;
  // Noise is stored larger than it inflates; zeros inflate a few KiB of input into 32 MiB, so
  // one chunk of input fills many packets.
  const std::string noise = TestBytes(3 * packet + 12345, 4);
  const std::string zeros(32 * packet, '\0');
  for (const std::string* data : {&noise, &zeros}) {
    const Member member{*data, Compress(*data)};
    BeginMember(member);
    std::string buffer(packet, '\0');
    bool same = true;
    for (size_t done = 0; done < data->size(); done += packet) {
      const size_t n = std::min(packet, data->size() - done);
      ASSERT_TRUE(reader_.ReadExact(buffer.data(), n)) << reader_.FailureText();
      same = same && data->compare(done, n, buffer, 0, n) == 0;
    }
    EXPECT_TRUE(same);
    EXPECT_TRUE(reader_.Finish()) << reader_.FailureText();
  }
}

TEST_F(InflateReaderTest, DamagedStreamsFail) {
  const std::string data = MixedBytes(200000, 5);
  const std::string good = Compress(data);
  std::string badHeader = good;
  badHeader[0] = 0x79;
  std::string badMiddle = good;
  for (size_t i = good.size() / 2; i < good.size() / 2 + 8; ++i) badMiddle[i] ^= 0x5A;
  const std::string withDictionary = CompressWithDictionary(data, "partition boot loader");
  const std::string* refused[] = {&badHeader, &withDictionary};
  for (const std::string* stored : refused) {
    BeginMember({data, *stored});
    EXPECT_FALSE(Read(data.size()));
    EXPECT_NE(reader_.FailureText().find("the compressed data is damaged"), std::string::npos)
        << reader_.FailureText();
    EXPECT_FALSE(reader_.Finish());
  }
  // Damage inside the deflate data shows as a data error, a wrong length or a wrong check
  // value, depending on where it lands; whichever it is, the member fails.
  BeginMember({data, badMiddle});
  EXPECT_FALSE(Read(data.size()));
  EXPECT_FALSE(reader_.FailureText().empty());
  EXPECT_FALSE(reader_.Finish());
}

TEST_F(InflateReaderTest, ABadCheckValueFailsTheReadThatCompletesTheMember) {
  const std::string data = MixedBytes(100000, 6);
  Member member{data, Compress(data)};
  member.stored[member.stored.size() - 2] ^= 1;  // inside the Adler-32 check value
  BeginMember(member);
  ASSERT_EQ(Read(data.size() - 1), data.substr(0, data.size() - 1));
  EXPECT_FALSE(Read(1));
  EXPECT_EQ(reader_.FailureText(), "the compressed data is damaged (incorrect data check)");
}

TEST_F(InflateReaderTest, StreamsThatDoNotMatchTheirSizesFail) {
  const std::string data = MixedBytes(150000, 8);
  const std::string stored = Compress(data);
  const Member member{data, stored};

  // Cut in the middle, and cut just before the check value.
  for (const size_t cut : {stored.size() / 2, stored.size() - 3}) {
    BeginMember(member, data.size(), cut);
    EXPECT_FALSE(Read(data.size()));
    EXPECT_EQ(reader_.FailureText(), "the compressed data is cut short");
  }

  // The stream ends before the member's inflated size: what it held is real, the rest is not.
  BeginMember(member, data.size() + 100, stored.size());
  EXPECT_EQ(Read(data.size()), data);
  EXPECT_FALSE(Read(100));
  EXPECT_EQ(reader_.FailureText(),
            "the compressed data ends after 150000 of the member's 150100 bytes");
  EXPECT_FALSE(reader_.Finish());
  BeginMember(member, data.size() + 100, stored.size());
  EXPECT_FALSE(Read(data.size() + 100));

  // The stream holds more than the member's inflated size.
  BeginMember(member, data.size() - 100, stored.size());
  EXPECT_FALSE(Read(data.size() - 100));
  EXPECT_EQ(reader_.FailureText(), "the compressed data holds more than the member's 149900 bytes");

  // Stored bytes left over after the stream's end.
  BeginMember(member, data.size(), stored.size() + 7);
  EXPECT_FALSE(Read(data.size()));
  EXPECT_EQ(reader_.FailureText(), "7 stored bytes follow the end of the compressed data");

  // A member not read to its end is not whole.
  BeginMember(member);
  ASSERT_TRUE(Read(10));
  EXPECT_FALSE(reader_.Finish());
  EXPECT_EQ(reader_.FailureText(), "the member was read to 10 of its 150000 bytes only");
}

TEST_F(InflateReaderTest, APackageThatEndsEarlyFails) {
  const std::string data = MixedBytes(100000, 9);
  const std::string stored = Compress(data);
  const int fd = FileWith("head", stored.substr(0, stored.size() - 20), "");
  ASSERT_TRUE(reader_.Begin(fd, 4, stored.size(), data.size()));
  EXPECT_FALSE(Read(data.size()));
  EXPECT_EQ(reader_.FailureText(), "the package ends before the member's compressed data does");

  ASSERT_TRUE(reader_.Begin(-1, 0, stored.size(), data.size()));
  EXPECT_FALSE(Read(1));
  EXPECT_NE(reader_.FailureText().find("cannot be read"), std::string::npos);
}

}  // namespace
}  // namespace mirk3
