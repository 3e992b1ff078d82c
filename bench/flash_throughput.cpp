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

#include "station/station.h"
#include "bench_station.h"
#include "flash_runs.h"
#include "devsim/phone_farm.h"
#include "station/headless.h"
#include "station/qt_report_sink.h"
#include "pack/tar_writer.h"


int main() {
  const auto application = mirk3::EnsureCoreApplication();
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("mirk3-flash-bench-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(dir);
  const uint64_t big = 1ull << 30, each = 256ull << 20;
  double raw1 = 1e9, flash1 = 1e9;
  std::string package = mirk3::bench::MakePackage(dir, big);
  for (int round = 0; round < 2 && !package.empty(); ++round) {
    raw1 = std::min(raw1, mirk3::bench::RawSeconds(dir, 1, big));
    flash1 = std::min(flash1, mirk3::bench::FlashSeconds(dir, package, 1));
  }
  std::filesystem::remove(package);
  package = mirk3::bench::MakePackage(dir, each);
  const double raw8 = mirk3::bench::RawSeconds(dir, 8, each);
  const double flash8 = mirk3::bench::FlashSeconds(dir, package, 8);
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
