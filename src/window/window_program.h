// The program mirk3: the station window started from its command line. The settings file, the
// companion on D-Bus, the jig and the results records are joined as the headless station joins
// them; packages named on the command line are picked and dropped as soon as the window is up,
// so that a file manager's "Open with" or a launcher script starts it ready to run.
#pragma once

#include "window/operator_dialogs.h"

namespace mirk3 {

// Runs the window until it closes; the exit status of the program.
int RunWindowProgram(int argc, char** argv, OperatorDialogs& dialogs);

}  // namespace mirk3
