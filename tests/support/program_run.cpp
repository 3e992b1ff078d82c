#include "support/program_run.h"

#include <sys/wait.h>

#include <cstdio>

namespace mirk3::test {

ProgramRun RunProgram(const std::string& commandLine, const std::string& errFile) {
  const std::string command = commandLine + (errFile.empty() ? " 2>&1" : " 2>" + errFile);
  ProgramRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace mirk3::test
