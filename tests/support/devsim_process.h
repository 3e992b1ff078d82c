// mirk3-devsim run as a process, as a demo or an operator runs it, with its standard input and
// output in the test's hands: lines are read as it prints them and commands sent to it. Reads
// give up after a generous time-out, so a farm that says nothing fails the test instead of
// hanging it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace mirk3::test {

class DevsimProcess {
 public:
  DevsimProcess() = default;
  ~DevsimProcess();  // terminates a farm still running
  DevsimProcess(const DevsimProcess&) = delete;
  DevsimProcess& operator=(const DevsimProcess&) = delete;

  // Starts build/bin/mirk3-devsim with `args`; false when it cannot be started.
  bool Start(std::vector<std::string> args);
  // Starts another of the build's programs ("mirk3-cli") the same way; its standard error goes
  // to `errFile` when one is named.
  bool StartProgram(const std::string& program, std::vector<std::string> args,
                    const std::string& errFile = "");
  // Sends `signal` without waiting (a station stopped twice).
  bool Signal(int signal) const;
  pid_t Pid() const { return pid_; }
  // The next line it printed, without its newline; empty at its end or after `timeout`.
  std::string ReadLine(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Everything it prints until it closes its output (for a farm that stops by itself).
  std::string ReadToEnd(std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Sends one command line.
  bool Send(const std::string& line);
  // Ends its standard input: the farm goes on without commands.
  void CloseInput();
  // Sends SIGTERM and waits: the exit status, or -1 when it did not exit normally.
  int Terminate();
  // Waits for the end without a signal (for a farm that stops by itself, such as on --help).
  int Wait();

 private:
  // Appends what it printed next to `pending_`; false at its end or at the deadline.
  bool ReadMore(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string pending_;
};

}  // namespace mirk3::test
