// A whole flash against the bare packet loop: one emulated phone receiving a 1 GiB member,
// and eight phones at once against eight bare loops moving the same bytes. Only the time the
// bytes move is compared (from "Firmware update start.." to the last packet), not the fixed
// pauses of a run.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "ack_device.h"
#include "app/station.h"
#include "bench_station.h"
#include "devsim/phone_farm.h"
#include "app/headless.h"
#include "app/qt_report_sink.h"
#include "pack/tar_writer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPacket = 1 << 20;

// Seconds during which the phones received file data: first start to last packet.
double FlashSeconds(const std::string& dir, const std::string& package, int phones) {
  mirk3::devsim::FarmConfig config;
  config.portDir = dir + "/ports";
  config.protocol = 3;  // plain packages: no device-info check
  config.discard = true;
  for (int p = 0; p < phones; ++p) config.ports.push_back(p);
  std::filesystem::create_directories(config.portDir);
  mirk3::devsim::PhoneFarm farm(config);
  if (!farm.Start()) return -1;

  QuietView view;
  mirk3::Station* station = nullptr;
  Clock::time_point first = Clock::time_point::max(), last{};
  mirk3::QtReportSink pump([&](int message, const mirk3::EngineReport& report) {
    const auto now = Clock::now();
    if (message == mirk3::WM_DL_START) first = std::min(first, now);
    if (message == mirk3::WM_DL_PROGRESS) last = std::max(last, now);
    station->HandleReport(message, report);
  });
  mirk3::EngineContext context;
  context.timing = QuickTiming();
  context.portDir = config.portDir;
  mirk3::Station owned(&view, &pump, context);
  station = &owned;
  for (int p = 0; p < phones; ++p) owned.Ports().PlacePort(p);
  mirk3::DownloadOptions options;
  options.slotEnabled[mirk3::AP] = 1;
  options.slotPath[mirk3::AP] = package;
  options.PacketSize = kPacket;
  mirk3::ChooseInStation(owned, options);
  owned.Start();
  mirk3::WaitForRunEnd(owned);
  if (owned.Succeeded() != phones) return -1;
  return std::chrono::duration<double>(last - first).count();
}

// Seconds for `lines` bare loops, one thread each, moving `bytes` each.
double RawSeconds(const std::string& dir, int lines, uint64_t bytes) {
  std::vector<std::unique_ptr<mirk3::bench::AckDevice>> devices;
  for (int p = 0; p < lines; ++p) {
    devices.push_back(std::make_unique<mirk3::bench::AckDevice>(dir, 100 + p, kPacket));
  }
  std::vector<std::thread> threads;
  std::atomic<bool> ok{true};
  const auto start = Clock::now();
  for (int p = 0; p < lines; ++p) {
    threads.emplace_back([&, p] {
      mirk3::Timing timing = QuickTiming();
      mirk3::CWinRs232cSync line(timing, dir);
      std::vector<char> packet(kPacket, 'r');
      char ack[8];
      if (!line.OpenPort(100 + p)) ok = false;
      for (uint64_t done = 0; ok && done < bytes; done += kPacket) {
        if (!line.WriteData(packet.data(), kPacket) || !line.ReadData(ack, 8)) ok = false;
      }
    });
  }
  for (auto& t : threads) t.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return ok ? seconds : -1;
}

std::string MakePackage(const std::string& dir, uint64_t size) {
  const std::string member = dir + "/system.img", package = dir + "/AP.tar";
  {
    FILE* f = std::fopen(member.c_str(), "wb");
    std::fclose(f);
  }
  std::filesystem::resize_file(member, size);  // sparse: the page cache serves zeros
  mirk3::pack::TarWriter writer;
  if (!writer.Open(package) || !writer.AddFile("system.img", member) || !writer.Finish()) return "";
  std::filesystem::remove(member);
  return package;
}

}  // namespace

int main() {
  const auto application = mirk3::EnsureCoreApplication();
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("mirk3-flash-bench-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(dir);
  const uint64_t big = 1ull << 30, each = 256ull << 20;
  double raw1 = 1e9, flash1 = 1e9;
  std::string package = MakePackage(dir, big);
  for (int round = 0; round < 2 && !package.empty(); ++round) {
    raw1 = std::min(raw1, RawSeconds(dir, 1, big));
    flash1 = std::min(flash1, FlashSeconds(dir, package, 1));
  }
  std::filesystem::remove(package);
  package = MakePackage(dir, each);
  const double raw8 = RawSeconds(dir, 8, each);
  const double flash8 = FlashSeconds(dir, package, 8);
  std::filesystem::remove_all(dir);
  if (raw1 <= 0 || flash1 <= 0 || raw8 <= 0 || flash8 <= 0) {
    std::printf("flash throughput: a run failed\n");
    return 1;
  }
  std::printf("one phone, 1 GiB: bare loop %.1f MiB/s, flash %.1f MiB/s\n", 1024 / raw1,
              1024 / flash1);
  std::printf("eight phones, 256 MiB each: bare loops %.2f s, flash %.2f s\n", raw8, flash8);
  mirk3::bench::PrintBench("flash_one_phone_throughput", raw1 / flash1, 0.85);
  mirk3::bench::PrintBench("flash_eight_phones_time", flash8 / raw8, 1.2,
                           mirk3::bench::Better::Lower);
  return 0;
}
