// Throughput of a compressed One Click member against the same member stored plain. The member
// is read through CInflateReader into 1 MiB packets, as the transfer reads it, and compared
// with the uncompressed member read through PlainMemberStream: once as bare reads (how fast the
// reader itself is) and once sent by the engine's transfer to a far end that acknowledges every
// packet (what flashing a compressed slot costs; this is the figure with the target). The far
// end is a pseudo-terminal served on the same machine, several times faster than a phone's link
// and paid for with the same CPU that inflates, so the figure is a worst case. The member is
// firmware-like: runs of zeros, compressible tables and incompressible blocks.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ack_device.h"
#include "engine/packet_layer.h"
#include "packages/inflate_reader.h"
#include "packages/plain_member_stream.h"
#include "serial/serial_line.h"

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

class NullSink : public mirk3::EngineObserver {
 public:
  void Tell(const mirk3::PortEvent&) override {}
};

// Seconds for the engine's transfer to send the whole member from `stream` in packets to the
// acknowledging far end on port 0 of `portDir`; negative when the transfer fails.
template <typename Stream>
double SendSeconds(const std::string& portDir, Stream& stream) {
  NullSink sink;
  mirk3::Timing timing;
  timing.openAttempts = 1;
  timing.openSettle = std::chrono::milliseconds(0);
  mirk3::CWinRs232cSync line(timing, portDir);
  if (!line.OpenPort(0)) return -1;
  mirk3::ReportChannel reports(&sink, 0);
  mirk3::PacketLayer packets(line, reports);
  packets.SetPacketSize(kPacket);  // as initialization negotiates it
  const auto start = Clock::now();
  if (!packets.SendFileData(stream, static_cast<uint32_t>(kMemberBytes), "bench")) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// How a member is read for one measurement.
enum class Form { Plain, Inflate };

// Seconds for `measure` over a fresh stream of the given form; negative on failure.
template <typename Measure>
double Once(Form form, int plainFd, int storedFd, uint64_t storedSize, Measure measure) {
  if (form == Form::Plain) {
    mirk3::PlainMemberStream plain(plainFd, 0, kMemberBytes);
    const double seconds = measure(plain);
    return plain.Finish() ? seconds : -1;
  }
  mirk3::CInflateReader reader;
  reader.Begin(storedFd, 0, storedSize, kMemberBytes);
  const double seconds = measure(reader);
  return reader.Finish() ? seconds : -1;
}

// The best time of each form over `rounds` rounds; the forms take turns within a round, so
// that a change in the machine's load falls on all of them alike.
template <typename Measure>
std::array<double, 2> BestTimes(int rounds, int plainFd, int storedFd, uint64_t storedSize,
                                Measure measure) {
  std::array<double, 2> best = {1e9, 1e9};
  for (int round = 0; round < rounds; ++round) {
    for (const Form form : {Form::Plain, Form::Inflate}) {
      const double seconds = Once(form, plainFd, storedFd, storedSize, measure);
      if (seconds < 0) return {-1, -1};
      double& slot = best[static_cast<size_t>(form)];
      slot = std::min(slot, seconds);
    }
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

  const std::array<double, 2> read =
      BestTimes(3, plainFd, storedFd, storedSize, [](auto& stream) { return ReadSeconds(stream); });
  std::array<double, 2> sent;
  {
    mirk3::bench::AckDevice device(dir.string(), 0, kPacket);
    sent = BestTimes(4, plainFd, storedFd, storedSize,
                     [&](auto& stream) { return SendSeconds(dir.string(), stream); });
  }
  ::close(plainFd);
  ::close(storedFd);
  std::filesystem::remove_all(dir);
  if (std::min(*std::min_element(read.begin(), read.end()),
               *std::min_element(sent.begin(), sent.end())) <= 0) {
    std::printf("inflate throughput: a read or a transfer failed\n");
    return 1;
  }
  const double mib = static_cast<double>(kMemberBytes) / 1048576.0;
  std::printf("member: %.0f MiB, stored as %.0f MiB\n", mib,
              static_cast<double>(storedSize) / 1048576.0);
  const char* names[] = {"plain stream", "inflate reader"};
  for (size_t form = 0; form < 2; ++form) {
    std::printf("read, %-15s %8.1f MiB/s\n", names[form], mib / read[form]);
  }
  for (size_t form = 0; form < 2; ++form) {
    std::printf("sent, %-15s %8.1f MiB/s\n", names[form], mib / sent[form]);
  }
  mirk3::bench::PrintBench("oneclick_inflate", sent[0] / sent[1], 0.8);
  return 0;
}
