#include "support/devsim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace mirk3::test {

DevsimProcess::~DevsimProcess() {
  if (pid_ > 0) Terminate();
  CloseInput();
  if (out_ >= 0) ::close(out_);
}

bool DevsimProcess::Start(std::vector<std::string> args) {
  return StartProgram("mirk3-devsim", std::move(args));
}

bool DevsimProcess::StartProgram(const std::string& program, std::vector<std::string> args,
                                 const std::string& errFile) {
  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) return false;
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    return false;
  }
  args.insert(args.begin(), MIRK3_BIN_DIR "/" + program);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(toChild[0], 0);
    ::dup2(fromChild[1], 1);
    if (!errFile.empty()) {
      const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (err >= 0) ::dup2(err, 2);
    }
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  in_ = toChild[1];
  out_ = fromChild[0];
  return pid_ > 0;
}

bool DevsimProcess::ReadMore(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
  pollfd fd{out_, POLLIN, 0};
  if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
  char chunk[4096];
  const ssize_t n = ::read(out_, chunk, sizeof chunk);
  if (n <= 0) return false;
  pending_.append(chunk, static_cast<size_t>(n));
  return true;
}

std::string DevsimProcess::ReadLine(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  size_t end;
  while ((end = pending_.find('\n')) == std::string::npos) {
    if (!ReadMore(deadline)) return "";
  }
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  return line;
}

std::string DevsimProcess::ReadToEnd(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (ReadMore(deadline)) {
  }
  return std::exchange(pending_, {});
}

bool DevsimProcess::Send(const std::string& line) {
  const std::string text = line + "\n";
  return in_ >= 0 && ::write(in_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void DevsimProcess::CloseInput() {
  if (in_ >= 0) ::close(in_);
  in_ = -1;
}

bool DevsimProcess::Signal(int signal) const { return pid_ > 0 && ::kill(pid_, signal) == 0; }

int DevsimProcess::Terminate() {
  if (pid_ > 0) ::kill(pid_, SIGTERM);
  return Wait();
}

int DevsimProcess::Wait() {
  if (pid_ <= 0) return -1;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace mirk3::test
