// `mirk3-cli doctor`: says why this machine's station cannot reach its phones, or that it can.
// One line per check, OK, WARN or FAIL, each WARN and FAIL with its fix. It only reads.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/doctor_checks.h"

namespace mirk3 {

// Runs every check over `scene` and prints its lines; exit 0 when nothing is FAIL, else 1.
int RunDoctor(const DoctorScene& scene, std::ostream& out);

// Exit 0 when nothing is FAIL, 1 when something is, 2 for a usage error.
int RunDoctorCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace mirk3
