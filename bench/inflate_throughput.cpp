// Throughput of a compressed One Click member against the same member stored plain. The member
// is read through CInflateReader into 1 MiB packets, as the transfer reads it, and compared
// with the uncompressed member read through CPlainMemberStream: once as bare reads (how fast the
// reader itself is) and once sent by the engine's transfer to a far end that acknowledges every
// packet (what flashing a compressed slot costs; this is the figure with the target). The member
// is firmware-like: runs of zeros, compressible tables and incompressible blocks.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ack_device.h"
#include "engine/download_engine.h"
#include "packages/inflate_reader.h"
#include "packages/plain_member_stream.h"
#include "packages/read_ahead_stream.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPacket = 1 << 20;
constexpr size_t kBlock = 64 << 10;
constexpr uint64_t kMemberBytes = uint64_t{256} << 20;

class Random {
 public:
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  uint32_t state_ = 2463534242u;
};

// One 64 KiB block of the member: zeros, a compressible table, or noise.
void FillBlock(Random& random, std::vector<uint8_t>& block) {
  const uint32_t kind = random.Next() % 10;
  if (kind < 3) {
    std::fill(block.begin(), block.end(), 0);
  } else if (kind < 6) {
    for (size_t i = 0; i < block.size(); i += 4) {
      const uint32_t word =
          (random.Next() % 16 == 0) ? random.Next() : static_cast<uint32_t>(i / 64);
      std::memcpy(&block[i], &word, 4);
    }
  } else {
    for (size_t i = 0; i < block.size(); i += 4) {
      const uint32_t word = random.Next();
      std::memcpy(&block[i], &word, 4);
    }
  }
}

// Writes the member plain and as one zlib stream; returns the stream's length.
uint64_t WriteMember(const std::string& plainPath, const std::string& storedPath) {
  FILE* plain = std::fopen(plainPath.c_str(), "wb");
  FILE* stored = std::fopen(storedPath.c_str(), "wb");
  z_stream stream{};
  deflateInit(&stream, Z_DEFAULT_COMPRESSION);
  Random random;
  std::vector<uint8_t> block(kBlock), out(kBlock * 2);
  for (uint64_t done = 0; done < kMemberBytes; done += kBlock) {
    FillBlock(random, block);
    std::fwrite(block.data(), 1, block.size(), plain);
    stream.next_in = block.data();
    stream.avail_in = static_cast<uInt>(block.size());
    const int flush = done + kBlock == kMemberBytes ? Z_FINISH : Z_NO_FLUSH;
    do {
      stream.next_out = out.data();
      stream.avail_out = static_cast<uInt>(out.size());
      deflate(&stream, flush);
      std::fwrite(out.data(), 1, out.size() - stream.avail_out, stored);
    } while (stream.avail_out == 0);
  }
  const uint64_t length = stream.total_out;
  deflateEnd(&stream);
  std::fclose(plain);
  std::fclose(stored);
  return length;
}

// Seconds to read the whole member through `stream` in packets; negative when a read fails.
template <typename Stream>
double ReadSeconds(Stream& stream) {
  std::vector<uint8_t> packet(kPacket);
  const auto start = Clock::now();
  for (uint64_t done = 0; done < kMemberBytes; done += kPacket) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kPacket, kMemberBytes - done));
    if (!stream.ReadExact(packet.data(), n)) {
      std::printf("read failed: %s\n", stream.FailureText().c_str());
      return -1;
    }
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class NullSink : public mirk3::ReportSink {
 public:
  void Send(int, const mirk3::EngineReport&) override {}
};

// Seconds for the engine's transfer to send the whole member from `stream` in packets to the
// acknowledging far end on port 0 of `portDir`; negative when the transfer fails.
template <typename Stream>
double SendSeconds(const std::string& portDir, Stream& stream) {
  NullSink sink;
  mirk3::EngineContext context;
  context.timing.openAttempts = 1;
  context.timing.openSettle = std::chrono::milliseconds(0);
  context.portDir = portDir;
  mirk3::CDownloadEngine engine(&sink, 0, context);
  if (!engine.Line().OpenPort(0)) return -1;
  engine.SetPacketSizeForTest(kPacket);
  const auto start = Clock::now();
  if (!engine.SendFileData(stream, static_cast<uint32_t>(kMemberBytes), "bench")) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// How a member is read for one measurement.
enum class Form { PLAIN, INFLATE, INFLATE_AHEAD };

// Best of three rounds of `measure` over a fresh stream of the given form.
template <typename Measure>
double BestOfThree(Form form, int plainFd, int storedFd, uint64_t storedSize, Measure measure) {
  double best = 1e9;
  for (int round = 0; round < 3; ++round) {
    double seconds = -1;
    if (form == Form::PLAIN) {
      mirk3::CPlainMemberStream plain(plainFd, 0, kMemberBytes);
      seconds = measure(plain);
      if (!plain.Finish()) seconds = -1;
    } else {
      mirk3::CInflateReader reader;
      reader.Begin(storedFd, 0, storedSize, kMemberBytes);
      if (form == Form::INFLATE) {
        seconds = measure(reader);
      } else {
        mirk3::CReadAheadStream ahead(reader, kMemberBytes, kPacket);
        seconds = measure(ahead);
        if (!ahead.Finish()) seconds = -1;
      }
      if (!reader.Finish()) seconds = -1;
    }
    if (seconds < 0) return -1;
    best = std::min(best, seconds);
  }
  return best;
}

}  // namespace

int main() {
  const auto dir =
      std::filesystem::temp_directory_path() / ("mirk3-bench-inflate-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string plainPath = (dir / "member.bin").string();
  const std::string storedPath = (dir / "member.z").string();
  const uint64_t storedSize = WriteMember(plainPath, storedPath);
  const int plainFd = ::open(plainPath.c_str(), O_RDONLY | O_CLOEXEC);
  const int storedFd = ::open(storedPath.c_str(), O_RDONLY | O_CLOEXEC);

  const auto read = [&](Form form) {
    return BestOfThree(form, plainFd, storedFd, storedSize,
                       [](auto& stream) { return ReadSeconds(stream); });
  };
  const double readPlain = read(Form::PLAIN);
  const double readInflate = read(Form::INFLATE);
  double sendPlain = -1, sendInflate = -1, sendAhead = -1;
  {
    mirk3::bench::AckDevice device(dir.string(), 0, kPacket);
    const auto send = [&](Form form) {
      return BestOfThree(form, plainFd, storedFd, storedSize,
                         [&](auto& stream) { return SendSeconds(dir.string(), stream); });
    };
    sendPlain = send(Form::PLAIN);
    sendInflate = send(Form::INFLATE);
    sendAhead = send(Form::INFLATE_AHEAD);
  }
  ::close(plainFd);
  ::close(storedFd);
  std::filesystem::remove_all(dir);
  if (std::min({readPlain, readInflate, sendPlain, sendInflate, sendAhead}) <= 0) {
    std::printf("inflate throughput: a read or a transfer failed\n");
    return 1;
  }
  const double mib = static_cast<double>(kMemberBytes) / 1048576.0;
  std::printf("member: %.0f MiB, stored as %.0f MiB\n", mib,
              static_cast<double>(storedSize) / 1048576.0);
  std::printf("read, plain stream:          %7.1f MiB/s\n", mib / readPlain);
  std::printf("read, inflate reader:        %7.1f MiB/s\n", mib / readInflate);
  std::printf("sent, plain stream:          %7.1f MiB/s\n", mib / sendPlain);
  std::printf("sent, inflate reader:        %7.1f MiB/s\n", mib / sendInflate);
  std::printf("sent, inflate read ahead:    %7.1f MiB/s\n", mib / sendAhead);
  mirk3::bench::PrintBench("oneclick_inflate", sendPlain / sendAhead, 0.8);
  return 0;
}
