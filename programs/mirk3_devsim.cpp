// mirk3-devsim: emulated phones in download mode, one per pseudo-terminal, until SIGINT or
// SIGTERM. Everything it does is in the devsim library; see --help.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devsim/options.h"
#include "devsim/phone_farm.h"

int main(int argc, char** argv) {
  using namespace mirk3::devsim;
  FarmConfig config;
  std::string error;
  switch (ParseOptions(std::vector<std::string>(argv + 1, argv + argc), &config, &error)) {
    case Parsed::kHelp:
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    case Parsed::kError:
      std::fprintf(stderr, "mirk3-devsim: %s\n", error.c_str());
      return 2;
    case Parsed::kRun:
      break;
  }
  // Blocked before the phone threads exist, so that only sigwait below receives them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  PhoneFarm farm(config);
  if (!farm.Start(&error)) {
    std::fprintf(stderr, "mirk3-devsim: %s\n", error.c_str());
    return 1;
  }
  for (const int port : config.ports) {
    std::printf("ttyACM%d -> %s\n", port, farm.SlavePath(port).c_str());
  }
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stopSignals, &signal);
  farm.Stop();
  return 0;
}
