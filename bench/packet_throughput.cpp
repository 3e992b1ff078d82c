// Data-packet throughput of the engine's file transfer against a bare write-then-read-8-bytes
// loop on the same kind of line with the same packet size.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "ack_device.h"
#include "engine/packet_layer.h"
#include "serial/serial_line.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPacket = 1 << 20;
constexpr uint32_t kBytes = 512u << 20;

class NullSink : public mirk3::EngineObserver {
 public:
  void Tell(const mirk3::PortEvent&) override {}
};

mirk3::Timing BenchTiming() {
  mirk3::Timing timing;
  timing.openAttempts = 1;
  timing.openSettle = std::chrono::milliseconds(0);
  return timing;
}

double RawLoopSeconds(const std::string& dir) {
  mirk3::CWinRs232cSync line(BenchTiming(), dir);
  if (!line.OpenPort(0)) return -1;
  std::vector<char> packet(kPacket, 'r');
  char ack[8];
  const auto start = Clock::now();
  for (uint32_t done = 0; done < kBytes; done += kPacket) {
    if (!line.WriteData(packet.data(), kPacket) || !line.ReadData(ack, 8)) return -1;
  }
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double SendFileDataSeconds(const std::string& dir, const std::string& file) {
  NullSink sink;
  mirk3::CWinRs232cSync line(BenchTiming(), dir);
  if (!line.OpenPort(0)) return -1;
  mirk3::ReportChannel reports(&sink, 0);
  mirk3::PacketLayer packets(line, reports);
  const int fd = ::open(file.c_str(), O_RDONLY);
  packets.SetPacketSize(kPacket);  // as initialization negotiates it
  const auto start = Clock::now();
  const bool ok = packets.SendFileData(fd, kBytes, "bench");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return ok ? seconds : -1;
}

}  // namespace

int main() {
  const auto dir =
      std::filesystem::temp_directory_path() / ("mirk3-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string file = (dir / "member.bin").string();
  {
    std::vector<char> chunk(kPacket, 'f');
    FILE* out = std::fopen(file.c_str(), "wb");
    for (uint32_t done = 0; done < kBytes; done += kPacket)
      std::fwrite(chunk.data(), 1, kPacket, out);
    std::fclose(out);
  }
  double raw = 1e9, engine = 1e9;
  {
    mirk3::bench::AckDevice device(dir.string(), 0, kPacket);
    for (int round = 0; round < 3; ++round) {
      raw = std::min(raw, RawLoopSeconds(dir.string()));
      engine = std::min(engine, SendFileDataSeconds(dir.string(), file));
    }
  }
  std::filesystem::remove_all(dir);
  if (raw <= 0 || engine <= 0) {
    std::printf("packet throughput: a transfer failed\n");
    return 1;
  }
  const double mib = kBytes / 1048576.0;
  std::printf("raw loop:      %.1f MiB/s\nSendFileData:  %.1f MiB/s\n", mib / raw, mib / engine);
  mirk3::bench::PrintBench("packet_throughput", raw / engine, 0.9);
  return 0;
}
