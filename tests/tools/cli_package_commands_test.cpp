// The package commands of mirk3-cli over real packages: md5 trailers and meta-data verdicts.
#include "app/cli_package_commands.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "pack/key_pair.h"
#include "pack/md5_package.h"
#include "support/command_call.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

using Outcome = test::CommandOutcome;

template <typename Command>
Outcome Call(Command command, const std::vector<std::string>& args) {
  return test::CallCommand(command, args);
}

const std::vector<test::TarEntry> kMembers = {{"boot.img", "boot image"},
                                              {"firmware/system.img", "system image"}};

class CliPackageCommandsTest : public ::testing::Test {
 protected:
  std::string Md5Package(const std::string& name) {
    WriteFile(dir_ / name, test::TestBytes(2048, 9));
    std::string error;
    EXPECT_TRUE(pack::WriteMd5Package(dir_ / name, error)) << error;
    return dir_ / (name + ".md5");
  }
  std::string Signed(const std::string& name, const std::string& model,
                     const std::string& key = test::TestPrivateKey()) {
    test::WriteSignedPackage(dir_ / name, kMembers, model, key);
    return dir_ / name;
  }
  TempDir dir_;
};

TEST_F(CliPackageCommandsTest, Md5PrintsTheWindowsLogLines) {
  const std::string good = Md5Package("AP_good.tar");
  std::string spoiled = ReadFile(Md5Package("CP_bad.tar"));
  spoiled[5] = 'X';
  WriteFile(dir_ / "CP_bad.tar.md5", spoiled);

  const Outcome pass = Call(RunMd5Command, {good});
  EXPECT_EQ(pass.status, 0);
  EXPECT_EQ(pass.out,
            "<OSM> Enter CS for MD5..\n"
            "<OSM> Check MD5.. Do not unplug the cable..\n"
            "<OSM> Please wait..\n"
            "<OSM> Checking MD5 finished Sucessfully..\n"
            "<OSM> Leave CS..\n");
  EXPECT_EQ(pass.err, "");

  const Outcome mixed = Call(RunMd5Command, {dir_ / "CP_bad.tar.md5", good});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_EQ(mixed.out,
            "<OSM> Enter CS for MD5..\n"
            "<OSM> Check MD5.. Do not unplug the cable..\n"
            "<OSM> Please wait..\n"
            "<OSM> MD5 hash value is invalid\n"
            "<OSM> CP_bad.tar.md5 is invalid.\n"
            "<OSM> End...\n" +
                pass.out);
  EXPECT_EQ(mixed.err, "md5 error! Binary is invalid\n");

  EXPECT_EQ(Call(RunMd5Command, {}).status, 2);
  EXPECT_EQ(Call(RunMd5Command, {"--fast", good}).status, 2);
  const Outcome help = Call(RunMd5Command, {good, "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: mirk3-cli md5"), std::string::npos) << help.out;
  EXPECT_EQ(help.out.find("<OSM>"), std::string::npos) << "nothing is checked";
}

TEST_F(CliPackageCommandsTest, VerifyChecksPackagesAsOneDownload) {
  const std::string bl = Signed("BL.tar", "SM-X300");
  const std::string ap = Signed("AP.tar", "SM-X300");
  const std::string cp = Signed("CP.tar", "SM-Y999");

  const Outcome pass = Call(RunVerifyCommand, {bl, ap});
  EXPECT_EQ(pass.status, 0) << pass.err;
  EXPECT_EQ(pass.out,
            bl + ": meta-data verified\n" + ap + ": meta-data verified\nmodel: SM-X300\n");

  const Outcome fail = Call(RunVerifyCommand, {bl, cp, ap});
  EXPECT_EQ(fail.status, 1);
  EXPECT_EQ(fail.out, bl + ": meta-data verified\n" + cp + ": meta-data INVALID\n" + ap +
                          ": not checked (an earlier package failed)\nmodel: SM-X300\n");

  const Outcome none = Call(RunVerifyCommand, {dir_ / "missing.tar"});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.out.find("model: (none)"), std::string::npos);
}

TEST_F(CliPackageCommandsTest, VerifyTakesAnotherKeyFile) {
  const pack::KeyPairText pair = pack::GenerateKeyPair();
  WriteFile(dir_ / "their.public", pair.publicText);
  const std::string theirs = Signed("theirs.tar", "THEIRS", pair.privateText);

  EXPECT_EQ(Call(RunVerifyCommand, {theirs}).status, 1);
  const Outcome run = Call(RunVerifyCommand, {"--meta-key", dir_ / "their.public", theirs});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("model: THEIRS"), std::string::npos);

  WriteFile(dir_ / "garbage.public", "this is no key\n");
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"--meta-key", dir_ / "missing.public", theirs}, 1, "cannot read meta-data key file"},
      {{"--meta-key", dir_ / "garbage.public", theirs}, 1, "does not hold an RSA-2048 public key"},
      {{"--meta-key", dir_.Path().string(), theirs}, 1, "cannot read meta-data key file"},
      {{"--meta-key"}, 2, "--meta-key"},
      {{"--meta-key", dir_ / "their.public"}, 2, "usage: mirk3-cli verify"},
      {{}, 2, "usage: mirk3-cli verify"},
      {{"--key", theirs}, 2, "--key"},
  };
  for (const auto& c : cases) {
    const Outcome bad = Call(RunVerifyCommand, c.args);
    EXPECT_EQ(bad.status, c.status) << c.message;
    EXPECT_NE(bad.err.find(c.message), std::string::npos) << bad.err;
  }
}

}  // namespace
}  // namespace mirk3
