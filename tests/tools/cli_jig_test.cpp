// mirk3-cli jig against mirk3-devsim's emulated jig, both run as programs, as an engineer
// checks a jig's wiring before a shift.
#include <gtest/gtest.h>

#include <string>

#include "support/program_run.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

// Serves a jig at ttyUSB5 (with the extra devsim options), runs the mirk3-cli jig command
// lines one after another and prints their exit statuses as digits ("status 01": the first
// command's 0, the second's 1).
test::ProgramRun WithJig(const test::TempDir& dir, const std::string& jigOptions,
                         const std::vector<std::string>& commands,
                         std::string jigChoice = "") {
  if (jigChoice.empty()) jigChoice = "--jig-device " + (dir / "ttyUSB5");
  const std::string bin = MIRK3_BIN_DIR;
  std::string script = bin + "/mirk3-devsim --port-dir " + dir.Path().string() +
                       " --jig 5 --trace " + (dir / "trace") + " " + jigOptions + " >" +
                       (dir / "devsim.out") + " 2>&1 & sim=$!; for i in $(seq 400); do [ -e " +
                       (dir / "ttyUSB5") + " ] && break; sleep 0.05; done; codes=";
  for (const std::string& command : commands) {
    script += "; " + bin + "/mirk3-cli jig " + command + " " + jigChoice +
              " --reply-wait-ms 300; codes=$codes$?";
  }
  script += "; kill $sim; wait $sim; echo \"status $codes\"";
  return test::RunProgram(script);
}

TEST(CliJig, ChecksAJigAndSendsAnEventShowingEveryFrameAndReply) {
  test::TempDir dir;
  const test::ProgramRun run = WithJig(dir, "", {"check", "event pass 8"});
  EXPECT_NE(run.out.find("status 00"), std::string::npos) << run.out;
  const std::string checked = "jig " + (dir / "ttyUSB5") +
                              "\n"
                              "sent     :S1VER? EA\n"
                              "received :VEMU01\\xD8 (8 bytes)\n";
  EXPECT_EQ(run.out.find(checked), 0u) << run.out;
  EXPECT_NE(run.out.find("sent     :S8ADOK E4\n"
                         "received :A8ADOK\\xD2 (8 bytes)\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(test::ReadFile(dir / "trace/ttyUSB5.trace"), ":S1VER? EA\n:S1VER? EA\n:S8ADOK E4\n");

  test::TempDir silentDir;
  const test::ProgramRun silent = WithJig(silentDir, "--jig-silent", {"check", "event start 1"});
  EXPECT_NE(silent.out.find("status 11"), std::string::npos) << silent.out;
  EXPECT_NE(silent.out.find("did not answer the connection check :S1VER?"), std::string::npos)
      << silent.out;
  EXPECT_NE(silent.out.find("received nothing"), std::string::npos) << silent.out;
}

// The jig of the settings file, as the station finds it: D300COM=5 is <port dir>/ttyUSB5.
TEST(CliJig, FindsTheJigOfTheSettingsFile) {
  test::TempDir dir;
  test::WriteFile(dir / "Mirk3.ini", "[Option]\nTitle=T\n[D300Jig]\nD300COM=5\n");
  const test::ProgramRun run =
      WithJig(dir, "", {"check"},
              "--ini " + (dir / "Mirk3.ini") + " --port-dir " + dir.Path().string());
  EXPECT_NE(run.out.find("status 0"), std::string::npos) << run.out;
  EXPECT_EQ(test::ReadFile(dir / "trace/ttyUSB5.trace"), ":S1VER? EA\n");
}

}  // namespace
}  // namespace mirk3
