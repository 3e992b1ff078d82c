// `mirk3-cli station`: the headless factory loop. Options come from Mirk3.ini as the window
// reads them; packages are picked and dropped as in the window. The station follows the port
// dir, starts a run when the chosen number of slots is occupied (or at once, once), flashes every
// phone, logs, broadcasts each result to the companion on D-Bus, tells the jig, writes the
// results records, frees the slots and waits for the next phones.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace mirk3 {

// Exit status: 0 every port of every run passed, 1 any failed (or a second signal stopped the
// station mid-flash), 2 nothing could run (usage, settings file missing, no bus, nothing
// chosen, a package refused, the port dir not watchable, no phone in a single run).
// `terminalFd` is the terminal behind `err` for the live display, -1 for none.
int RunStationCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      int terminalFd);

}  // namespace mirk3
