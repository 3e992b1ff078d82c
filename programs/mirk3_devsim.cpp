// mirk3-devsim: emulated phones in download mode, one per pseudo-terminal, plugged in and out
// on schedule or on command, until SIGINT or SIGTERM. Everything it does is in the devsim
// library; see --help.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/file.h"
#include "devsim/farm_control.h"
#include "devsim/jig.h"
#include "devsim/options.h"
#include "devsim/phone_farm.h"

int main(int argc, char** argv) {
  using namespace mirk3::devsim;
  FarmConfig config;
  const mirk3::ParseOutcome parsed =
      ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &config);
  switch (parsed.result) {
    case mirk3::ParseResult::Shown:
      std::fputs(parsed.text.c_str(), stdout);
      return 0;
    case mirk3::ParseResult::Mistake:
      std::fprintf(stderr, "mirk3-devsim: %s\n", parsed.text.c_str());
      return mirk3::USAGE_ERROR_STATUS;
    case mirk3::ParseResult::Run:
      break;
  }
  std::string error;
  // Blocked before the phone threads exist, so that they arrive only through the descriptor.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  const mirk3::UniqueFd stopFd(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
  if (!stopFd) {
    std::perror("mirk3-devsim: signalfd");
    return 1;
  }
  // Started in the background of a terminal, reading commands fails instead of stopping it.
  ::signal(SIGTTIN, SIG_IGN);

  PhoneFarm farm(config);
  if (!farm.Start(&error)) {
    std::fprintf(stderr, "mirk3-devsim: %s\n", error.c_str());
    return 1;
  }
  for (const int port : config.ports) {
    std::printf("%s -> %s\n", PhoneName(config, port).c_str(), farm.SlavePath(port).c_str());
  }

  EmulatedJig jig(config.jig, config.portDir, config.traceDir);
  if (config.jig.port >= 0 || !config.jig.ttyPath.empty()) {
    if (!jig.Start(&error)) {
      std::fprintf(stderr, "mirk3-devsim: %s\n", error.c_str());
      farm.Stop();
      return 1;
    }
    std::printf("%s -> %s\n", JigName(config.jig).c_str(), jig.SlavePath().c_str());
  }
  std::fflush(stdout);
  RunFarmControl(farm, STDIN_FILENO, stopFd.Get(), stdout);
  jig.Stop();
  farm.Stop();
  return 0;
}
