// A running farm's hot-plug: the schedule of its configuration (phones plugged in and pulled
// out at set times) and commands read line by line, one answer line each:
//
//   plug N    a phone with a fresh boot loader appears at ttyACMN:  "ttyACMN -> /dev/pts/M"
//   unplug N  its cable is pulled:                                   "ttyACMN unplugged"
//   list      the ports with a plugged phone:                        "plugged: ttyACM0 ttyACM2"
//
// Anything that cannot be done is answered "error: <why>". A scheduled step prints the same
// line as the command would.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "devsim/phone_farm.h"

namespace mirk3::devsim {

// The answer to one command line (without its newline).
std::string AnswerCommand(PhoneFarm& farm, std::string_view line);

// Runs the farm's schedule and the commands read from `inputFd` until `stopFd` becomes
// readable. The end of the input (or an input that cannot be read) only ends the commands.
void RunFarmControl(PhoneFarm& farm, int inputFd, int stopFd, std::FILE* out);

}  // namespace mirk3::devsim
