// Runs one of the station's programs as a process, the way an operator or a script does, and
// gives back its exit status and what it printed.
#pragma once

#include <string>

namespace mirk3::test {

struct ProgramRun {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;  // standard output (and standard error when merged)
};

// Runs `commandLine` with the shell. Standard error goes to `errFile`, or is merged into the
// output when `errFile` is empty.
ProgramRun RunProgram(const std::string& commandLine, const std::string& errFile = "");

}  // namespace mirk3::test
