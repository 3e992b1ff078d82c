// The two runs the flash benchmarks compare: the whole station flashing emulated phones, and
// bare packet loops moving the same bytes over as many lines, with nothing of the station
// around them; and the sparse package they send.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ack_device.h"
#include "station/headless.h"
#include "station/qt_report_sink.h"
#include "station/station.h"
#include "bench_station.h"
#include "devsim/phone_farm.h"
#include "pack/tar_writer.h"
#include "serial/serial_line.h"

namespace mirk3::bench {

using Clock = std::chrono::steady_clock;
inline constexpr size_t kPacket = 1 << 20;

// Seconds during which the phones received file data: first start to last packet.
inline double FlashSeconds(const std::string& dir, const std::string& package, int phones) {
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
  mirk3::QtReportSink pump([&](const mirk3::PortEvent& event) {
    const auto now = Clock::now();
    if (std::holds_alternative<mirk3::DownloadStarted>(event.event)) first = std::min(first, now);
    if (std::holds_alternative<mirk3::Progress>(event.event)) last = std::max(last, now);
    station->HandleEvent(event);
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
inline double RawSeconds(const std::string& dir, int lines, uint64_t bytes) {
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

inline std::string MakePackage(const std::string& dir, uint64_t size) {
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

}  // namespace mirk3::bench
