// A full station: 56 emulated phones flashed in one run, each with the same 32 MiB package,
// against bare packet loops over 56 lines moving the same bytes; and the station's peak
// resident memory while it flashes them, measured on mirk3-cli as a process of its own beside a
// separate mirk3-devsim, as it runs on a bench.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "flash_runs.h"

namespace {

constexpr int kPhones = 56;

pid_t Spawn(const std::vector<std::string>& args) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::freopen("/dev/null", "w", stdout);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

// Peak resident MiB of mirk3-cli flashing every phone; -1 when the run did not pass.
double StationPeakMib(const std::string& dir, const std::string& package) {
  const std::string ports = dir + "/rss-ports";
  std::filesystem::create_directories(ports);
  const std::string bin = MIRK3_BIN_DIR;
  const std::string all = "0-" + std::to_string(kPhones - 1);
  const pid_t farm = Spawn({bin + "/mirk3-devsim", "--port-dir", ports, "--ports", all,
                            "--protocol", "3", "--discard"});
  for (int wait = 0; wait < 100 && !std::filesystem::exists(ports + "/ttyACM55"); ++wait) {
    ::usleep(50000);
  }
  const pid_t station = Spawn({bin + "/mirk3-cli", "flash", "--port-dir", ports, "--port", all,
                               "--ap", package, "--open-attempts", "5", "--no-reset-time"});
  int status = 0;
  rusage usage{};
  ::wait4(station, &status, 0, &usage);
  ::kill(farm, SIGTERM);
  ::waitpid(farm, nullptr, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

}  // namespace

int main() {
  const auto application = mirk3::EnsureCoreApplication();
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("mirk3-bench-56-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(dir);
  const uint64_t each = 32ull << 20;
  const std::string package = mirk3::bench::MakePackage(dir, each);
  const double raw = mirk3::bench::RawSeconds(dir, kPhones, each);
  const double flash = mirk3::bench::FlashSeconds(dir, package, kPhones);
  const double mib = StationPeakMib(dir, package);
  std::filesystem::remove_all(dir);
  if (raw <= 0 || flash <= 0 || mib <= 0) {
    std::printf("56 phones: a run failed\n");
    return 1;
  }
  std::printf("56 phones, 32 MiB each: bare loops %.2f s, station %.2f s, peak %.1f MiB\n", raw,
              flash, mib);
  mirk3::bench::PrintBench("flash_56_phones_time", flash / raw, 1.3, mirk3::bench::Better::Lower);
  mirk3::bench::PrintBench("flash_56_phones_rss_mib", mib, 200, mirk3::bench::Better::Lower);
  return 0;
}
