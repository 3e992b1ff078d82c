// `mirk3-cli ports --watch`, the real program, over a port dir that is deleted and made again:
// it says it lost the dir, says when it watches it again, and then places the phones that
// arrive in the new dir as before; SIGTERM still ends it with status 0.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/pty_peer.h"
#include "support/temp_dir.h"

extern char** environ;

namespace mirk3 {
namespace {

namespace fs = std::filesystem;

const std::string CLI = std::string(MIRK3_BIN_DIR) + "/mirk3-cli";

// True once `file` holds `text` (after `from`), within a generous while.
bool WaitFor(const std::string& file, const std::string& text, size_t from = 0) {
  for (int i = 0; i < 3000; ++i) {
    const std::string now = test::ReadFile(file);
    if (now.size() > from && now.find(text, from) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

TEST(PortsWatch, APortDirDeletedAndMadeAgainIsWatchedAgain) {
  test::TempDir dir;
  const std::string ports = dir / "run/dev";
  fs::create_directories(ports);
  test::WriteFile(dir / "Mirk3.ini", "[Option]\nTitle=Line 4\n");
  auto first = std::make_unique<test::PtyPeer>(ports, 1);
  const std::string out = dir / "out", err = dir / "err";
  const std::string command = "exec " + CLI + " ports --watch --port-dir " + ports + " --ini " +
                              (dir / "Mirk3.ini") + " >" + out + " 2>" + err;
  const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
  ASSERT_TRUE(WaitFor(err, "watching " + ports)) << test::ReadFile(err);
  EXPECT_TRUE(WaitFor(out, "ttyACM1")) << test::ReadFile(out);

  fs::remove_all(dir / "run");
  first.reset();
  EXPECT_TRUE(WaitFor(err, ports + " was deleted; waiting for it to come back"))
      << test::ReadFile(err);
  EXPECT_TRUE(WaitFor(out, "<ID:0/001> Removed!!")) << test::ReadFile(out);

  fs::create_directories(ports);
  EXPECT_TRUE(WaitFor(err, ports + " is back; watching it again")) << test::ReadFile(err);
  const size_t seen = test::ReadFile(out).size();
  test::PtyPeer second(ports, 5);
  EXPECT_TRUE(WaitFor(out, "<ID:0/005> Added!!", seen)) << test::ReadFile(out);

  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace mirk3
