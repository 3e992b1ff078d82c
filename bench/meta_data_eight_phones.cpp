// A device-info run of eight phones against the same run of one phone, on one signed package
// of 256 MiB: the processor time of the whole process during the run (station, workers, report
// pump and the emulated phones, all in this process), from Start to the run summary. Every
// worker needs the package's meta-data verdict, and hashing the package is by far the largest
// cost of such a run; when the workers of a run share the verdict, eight phones cost little
// more than one. The ratio is eight-phone time over one-phone time: smaller is better.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "cpu_clock.h"
#include "device_info_station.h"
#include "signed_package.h"

namespace {

constexpr uint64_t MEMBER_SIZE = uint64_t{256} << 20;
constexpr char MODEL[] = "MIRK3-DEMO_EUR";  // the emulated phones report MIRK3-DEMO
constexpr int ROUNDS = 2;
constexpr double TARGET = 1.5;

// Processor seconds of one device-info run of `phones` phones; negative when a phone fails.
double RunCpuSeconds(const std::string& dir, const std::string& package, int phones) {
  mirk3::bench::DeviceInfoStation bench(dir + "/ports", phones, package);
  if (!bench.Started()) return -1;
  for (int p = 0; p < phones; ++p) bench.Core().Ports().PlacePort(p);
  return mirk3::bench::CpuSecondsOf([&] { return bench.RunToEnd(phones); });
}

}  // namespace

int main() {
  const auto application = mirk3::EnsureCoreApplication();
  const std::string dir = (std::filesystem::temp_directory_path() /
                           ("mirk3-bench-meta-phones-" + std::to_string(getpid())))
                              .string();
  std::filesystem::create_directories(dir);
  const std::string package = dir + "/AP_bench.tar";
  // The runs take turns, so that both see the same load; each keeps its best.
  double one = 0, eight = 0;
  if (mirk3::bench::MakeSignedPackage(dir, package, MEMBER_SIZE, MODEL)) {
    for (int round = 0; round < ROUNDS; ++round) {
      mirk3::bench::KeepBest(one, RunCpuSeconds(dir, package, 1));
      mirk3::bench::KeepBest(eight, RunCpuSeconds(dir, package, 8));
    }
  }
  std::filesystem::remove_all(dir);
  if (one <= 0 || eight <= 0) {
    std::fprintf(stderr, "a device-info run failed (one phone %.3f s, eight %.3f s)\n", one, eight);
    return 1;
  }
  std::printf("device-info run, %llu MiB package: one phone %.2f CPU s, eight phones %.2f\n",
              static_cast<unsigned long long>(MEMBER_SIZE >> 20), one, eight);
  std::printf("BENCH meta_data_eight_phones_cpu ratio=%.2f target=%.1f better=lower\n", eight / one,
              TARGET);
  return 0;
}
