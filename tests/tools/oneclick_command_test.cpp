// mirk3-pack oneclick as the program runs it: options to trailer fields and slot types, usage
// errors (exit 2, usage text, nothing written) and failures (exit 1, a message).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "pack/md5_package.h"
#include "pack/pack_commands.h"
#include "support/command_call.h"
#include "support/oneclick_program.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3::pack {
namespace {

using test::ReadOneClickTrailer;

using Outcome = test::CommandOutcome;

Outcome Pack(std::vector<std::string> args) {
  args.insert(args.begin(), "oneclick");
  return test::CallCommand(RunPackCommand, args);
}

class OneClickCommandTest : public ::testing::Test {
 protected:
  OneClickCommandTest() {
    test::WriteTar(tar_, {{"boot.img", test::TestBytes(3000, 1)}});
    test::WriteTar(dir_ / "ap.tar", {{"system.img", test::TestBytes(4000, 2)}});
    std::string error;
    EXPECT_TRUE(WriteMd5Package(md5_.substr(0, md5_.size() - 4), error)) << error;
    test::WriteFile(pit_, "table");
  }

  test::TempDir dir_;
  const std::string tar_ = dir_ / "bl.tar";
  const std::string md5_ = dir_ / "ap.tar.md5";
  const std::string pit_ = dir_ / "t.pit";
  const std::string out_ = dir_ / "oneclick";
};

TEST_F(OneClickCommandTest, OptionsBecomeTrailerFields) {
  Outcome run = Pack({"--exe", "/bin/true", "--bl", tar_, "--ap", md5_, "--csc", tar_, "--csc-type",
                      "4", "--pit", pit_, "--out", out_});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "wrote " + out_ +
                         ": /bin/true with BL (type 1) AP (type 3) CSC (type 4) and a partition "
                         "table\n");
  OneClickTrailer trailer = ReadOneClickTrailer(out_);
  EXPECT_TRUE(trailer.TitleMatches());
  EXPECT_EQ(trailer.slots[BL].type, ONECLICK_TAR);
  EXPECT_EQ(trailer.slots[AP].type, ONECLICK_TAR_MD5);
  EXPECT_EQ(trailer.slots[CSC].type, ONECLICK_TAR_DEFLATED);
  EXPECT_FALSE(trailer.slots[CP].Present());
  EXPECT_FALSE(trailer.slots[UMS].Present());
  EXPECT_EQ(trailer.pitSize, 5u);
  EXPECT_EQ(trailer.autoReboot, 1u);
  EXPECT_EQ(trailer.rePartition, 0u);
  EXPECT_EQ(trailer.phoneEfsClear, 0u);
  EXPECT_EQ(trailer.phoneBootUpdate, 0u);

  run = Pack({"--ums", tar_, "--repartition", "--no-auto-reboot", "--efs-clear", "--boot-update",
              "--exe", "/bin/true", "--out", out_});
  ASSERT_EQ(run.status, 0) << run.err;
  trailer = ReadOneClickTrailer(out_);
  EXPECT_EQ(trailer.slots[UMS].type, ONECLICK_TAR);
  EXPECT_EQ(trailer.pitSize, 0u);
  EXPECT_EQ(trailer.autoReboot, 0u);
  EXPECT_EQ(trailer.rePartition, 1u);
  EXPECT_EQ(trailer.phoneEfsClear, 1u);
  EXPECT_EQ(trailer.phoneBootUpdate, 1u);
}

TEST_F(OneClickCommandTest, UsageErrors) {
  const std::string exe = "/bin/true";
  const struct {
    std::vector<std::string> args;
    std::string problem;
    bool parser;  // found by the parser: one line naming the option, no usage
  } cases[] = {
      {{}, "oneclick needs --exe and --out", false},
      {{"--ap", tar_, "--out", out_}, "oneclick needs --exe and --out", false},
      {{"--exe", exe, "--ap", tar_}, "oneclick needs --exe and --out", false},
      {{"--exe", exe, "--pit", pit_, "--out", out_}, "oneclick needs at least one package", false},
      {{"--exe", exe, "--ap", tar_, "--cp-type", "4", "--out", out_},
       "--cp-type needs --cp",
       false},
      {{"--exe", exe, "--ap", tar_, "--ap-type", "2", "--out", out_},
       "--ap-type: takes 1, 3 or 4",
       true},
      {{"--exe", exe, "--ap", tar_, "--ap-type", "44", "--out", out_},
       "--ap-type: takes 1, 3 or 4",
       true},
      {{"--exe", exe, "--ap", tar_, "--modem", tar_, "--out", out_}, "--modem", true},
      {{"--exe", exe, "--ap", tar_, "--ap", tar_, "--out", out_}, "--ap", true},
      {{"--exe", exe, "--ap", tar_, "--efs-clear", "--efs-clear", "--out", out_},
       "--efs-clear",
       true},
      {{"--exe", exe, "--out", out_, "--ap"}, "--ap", true},
      {{"--exe", exe, "--ap", "--out", out_}, "--ap: no value given", true},
      {{"--exe", exe, "--ap", tar_, "--out", out_, tar_}, tar_, true},
  };
  for (const auto& c : cases) {
    const Outcome run = Pack(c.args);
    EXPECT_EQ(run.status, 2) << c.problem;
    if (c.parser) {
      EXPECT_EQ(run.err.rfind("mirk3-pack: ", 0), 0u) << run.err;
      EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    } else {
      EXPECT_EQ(run.err.find("mirk3-pack: " + c.problem + "\nusage: mirk3-pack"), 0u) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(out_)) << c.problem;
  }
}

TEST_F(OneClickCommandTest, FailuresSayWhyAndWriteNothing) {
  const std::string big = dir_ / "big-program";
  test::WriteFile(big,
                  "\x7f"
                  "ELF");
  ASSERT_EQ(::truncate(big.c_str(), off_t{1} << 32), 0);
  const struct {
    std::string exe;
    std::string message;
  } cases[] = {
      {dir_ / "missing", "mirk3-pack: cannot read " + (dir_ / "missing") + ": no such file\n"},
      {big,
       "mirk3-pack: the program, packages and partition table take more than the "
       "4294967295 bytes a One Click trailer can describe\n"},
  };
  for (const auto& c : cases) {
    const Outcome run = Pack({"--exe", c.exe, "--ap", tar_, "--out", out_});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.find(c.message), 0u) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left,
            (std::vector<std::string>{"ap.tar", "ap.tar.md5", "big-program", "bl.tar", "t.pit"}));
}

}  // namespace
}  // namespace mirk3::pack
