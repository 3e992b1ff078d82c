// Processor time for benchmarks that compare the station's code with a system tool on the same
// file. Both sides run on one core, so user + system time is their cost, and unlike wall time
// it stays steady on a machine that other work keeps busy.
#pragma once

#include <sys/resource.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace mirk3::bench {

inline double CpuSeconds() {
  double total = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    total += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return total;
}

// Processor seconds one run takes, this process and the commands it waits for together;
// negative when the run fails.
inline double CpuSecondsOf(const std::function<bool()>& run) {
  const double start = CpuSeconds();
  if (!run()) return -1;
  return CpuSeconds() - start;
}

// Runs a shell command with its output discarded; true when it exits with 0.
inline bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// Keeps the best (smallest) run in `best`, which starts at 0; a failed run makes it negative
// for good.
inline void KeepBest(double& best, double run) {
  if (best < 0) return;
  if (run < 0 || best == 0 || run < best) best = run;
}

}  // namespace mirk3::bench
