// A factory loop of five device-info runs on one station against a single run, on one signed
// package of 512 MiB: the processor time of the whole process (station, workers, report pump
// and the emulated phones, all in this process). Hashing the package is by far the largest
// cost of a run; a station that keeps a package's verdict for its life hashes it in the first
// run only, so five runs cost little more than one. The ratio is five-run time over one-run
// time: smaller is better.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cpu_clock.h"
#include "device_info_station.h"
#include "signed_package.h"

namespace {

constexpr uint64_t MEMBER_SIZE = uint64_t{512} << 20;
constexpr char MODEL[] = "MIRK3-DEMO_EUR";  // the emulated phones report MIRK3-DEMO
constexpr int LOOP_RUNS = 5;
constexpr double TARGET = 1.5;

// Processor seconds of `runs` device-info runs of one phone each, on one station; negative
// when a phone fails.
double LoopCpuSeconds(const std::string& dir, const std::string& package, int runs) {
  mirk3::bench::DeviceInfoStation bench(dir + "/ports-" + std::to_string(runs), runs, package);
  if (!bench.Started()) return -1;
  // Each run flashes the next phone: a phone leaves its port when its session ends.
  return mirk3::bench::CpuSecondsOf([&] {
    for (int p = 0; p < runs; ++p) {
      bench.Core().Ports().PlacePort(p);
      if (!bench.RunToEnd(1)) return false;
    }
    return true;
  });
}

}  // namespace

int main() {
  const auto application = mirk3::EnsureCoreApplication();
  const std::string dir = (std::filesystem::temp_directory_path() /
                           ("mirk3-bench-loop-rehash-" + std::to_string(getpid())))
                              .string();
  std::filesystem::create_directories(dir);
  const std::string package = dir + "/AP_bench.tar";
  double one = -1, loop = -1;
  if (mirk3::bench::MakeSignedPackage(dir, package, MEMBER_SIZE, MODEL)) {
    one = LoopCpuSeconds(dir, package, 1);
    loop = LoopCpuSeconds(dir, package, LOOP_RUNS);
  }
  std::filesystem::remove_all(dir);
  if (one <= 0 || loop <= 0) {
    std::fprintf(stderr, "a run failed (one run %.3f s, the loop %.3f s)\n", one, loop);
    return 1;
  }
  std::printf("device-info runs, %llu MiB package: one run %.2f CPU s, %d runs %.2f\n",
              static_cast<unsigned long long>(MEMBER_SIZE >> 20), one, LOOP_RUNS, loop);
  std::printf("BENCH loop_rehash_cpu ratio=%.2f target=%.1f better=lower\n", loop / one, TARGET);
  return 0;
}
