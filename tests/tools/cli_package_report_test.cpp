// mirk3-cli inspect over real packages: slot assignment, what it prints for a home-binary set,
// its verdicts (meta-data and MD5 trailers) and exit status, One Click programs, inputs that
// are not regular files, and the real program.
#include "cli/cli_package_report.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "pack/key_pair.h"
#include "pack/md5_package.h"
#include "pack/tar_writer.h"
#include "support/command_call.h"
#include "support/oneclick_by_hand.h"
#include "support/oneclick_program.h"
#include "support/program_run.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using test::TempDir;
using test::TestBytes;
using test::WriteFile;

using Outcome = test::CommandOutcome;

Outcome Inspect(const std::vector<std::string>& args) {
  return test::CallCommand(RunInspectCommand, args);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Every occurrence of `from` in `text` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST(CliInspect, UsageErrorsExitWith2) {
  const struct {
    std::vector<std::string> args;
    std::string message;  // a choice missing or at odds is followed by the usage line
  } cases[] = {
      {{}, "no package given\nusage: mirk3-cli inspect"},
      {{"a.tar", "b.tar", "c.tar", "d.tar", "e.tar", "f.tar"},
       "more packages than free slots (BL, AP, CP, CSC, UMS)\nusage: mirk3-cli inspect"},
      {{"--ums", "u.tar", "a.tar", "b.tar", "c.tar", "d.tar", "e.tar"},
       "more packages than free slots (BL, AP, CP, CSC, UMS)\nusage: mirk3-cli inspect"},
      {{"--one-click", "program", "a.tar"},
       "--one-click shows the program's own packages and takes no others\nusage: mirk3-cli"},
      {{"--meta-key", "key.pub"}, "no package given\nusage: mirk3-cli inspect"},
      {{"--zip", "a.tar"}, "--zip"},
      {{"--ap"}, "--ap"},
      {{"--ap", "a.tar", "--ap", "b.tar"}, "--ap"},
      {{"--meta-key"}, "--meta-key"},
  };
  for (const auto& c : cases) {
    const Outcome o = Inspect(c.args);
    const std::string shown = c.args.empty() ? "(none)" : c.args[0] + " ...";
    EXPECT_EQ(o.status, 2) << shown;
    EXPECT_EQ(o.out, "") << shown;
    EXPECT_TRUE(o.err.starts_with("mirk3-cli inspect: ")) << o.err;
    EXPECT_TRUE(Contains(o.err, c.message)) << shown << ": " << o.err;
  }
  const Outcome help = Inspect({"--ap", "a.tar", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Contains(help.out, "usage: mirk3-cli inspect")) << help.out;
  EXPECT_FALSE(Contains(help.out, "File analysis")) << "nothing is analysed";
}

TEST(CliInspect, PlainFilesTakeTheFreeSlotsInOrder) {
  TempDir dir;
  for (const char* name : {"a.tar", "b.tar", "c.tar", "d.tar"}) {
    test::WriteTar(dir / name, {{name, "x"}});
  }
  const Outcome o = Inspect({dir / "a.tar", "--cp", dir / "c.tar", dir / "b.tar", dir / "d.tar"});
  EXPECT_TRUE(Replaced(o.out, dir.Path().string(), "DIR")
                  .starts_with("Packages\n"
                               "  BL   DIR/a.tar\n"
                               "  AP   DIR/b.tar\n"
                               "  CP   DIR/c.tar\n"
                               "  CSC  DIR/d.tar\n"
                               "Log\n"))
      << o.out;
  EXPECT_TRUE(Contains(o.out, "CSC  d.tar: 1 member to send\n")) << o.out;
}

TEST(CliInspect, ShowsWhatAHomeBinarySetWouldSend) {
  TempDir dir;
  test::WriteTar(dir / "BL.tar", {{"loader.bin", "s"}, {"boot.img", "bb"}});
  test::WriteTar(dir / "AP.tar",
                 {{"UFS_Header.bin", TestBytes(10, 1)},
                  {"boot.img", "bbb"},
                  {"system.img", TestBytes(70000, 2)},
                  {"home.pit", TestBytes(300, 3)},
                  {"meta-data/download-list.txt", "boot.img\r\nsystem.img\r\nsytem.img\r\n"}});
  const Outcome o = Inspect({"--bl", dir / "BL.tar", "--ap", dir / "AP.tar"});
  EXPECT_EQ(o.status, 1) << "the packages are not signed";
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(Replaced(o.out, dir.Path().string(), "DIR"),
            "Packages\n"
            "  BL   DIR/BL.tar\n"
            "  AP   DIR/AP.tar\n"
            "Log\n"
            "  Mirk engine v(ID:3.1203)..\n"
            "  File analysis..\n"
            "  Ignore UFS_Header.bin\n"
            "  skip file list for home binary\n"
            "  loader.bin\n"
            "  Home Binary Download\n"
            "File analysis passed\n"
            "\n"
            "BL   BL.tar: 1 member to send\n"
            "          offset           size  member\n"
            "            1536              2  boot.img\n"
            "AP   AP.tar: 2 members to send\n"
            "          offset           size  member\n"
            "            1536              3  boot.img\n"
            "            2560          70000  system.img\n"
            "\n"
            "Partition table: AP.tar, 300 bytes at offset 73216; re-partition on\n"
            "Download list: 3 names; only the members it names are sent, from every slot\n"
            "  boot.img\n"
            "  system.img\n"
            "  sytem.img  (no such member)\n"
            "  dropped: loader.bin\n"
            "Total announced to the phone: 70016 bytes, members the list drops included\n"
            "Meta-data: NOT verified (model: none)\n"
            "  phones whose boot loader checks it (protocol 4 or later) are refused with "
            "\"FAIL! SHA256 is invalid\"\n");
}

// What the list dropped is what the analysis dropped, whatever the members are called: one may
// bear the text of the filter's own log line.
TEST(CliInspect, TheDroppedMembersAreThoseTheListDropped) {
  TempDir dir;
  test::WriteTar(dir / "CSC.tar", {{"Home Binary Download", "h"},
                                   {"boot.img", "b"},
                                   {"z.img", "z"},
                                   {"meta-data/download-list.txt", "boot.img\n"}});
  const Outcome o = Inspect({"--csc", dir / "CSC.tar"});
  EXPECT_TRUE(Contains(o.out, "CSC  CSC.tar: 1 member to send\n")) << o.out;
  EXPECT_TRUE(Contains(o.out, "  dropped: Home Binary Download, z.img\n")) << o.out;
}

TEST(CliInspect, SignedPackagesOfOneModelAreReady) {
  TempDir dir;
  test::WriteSignedPackage(dir / "BL.tar", {{"loader.bin", TestBytes(5000, 4)}}, "SM-T100_EUR");
  test::WriteSignedPackage(dir / "AP.tar", {{"boot.img", "boot"}}, "SM-T100_EUR");
  test::WriteSignedPackage(dir / "CP.tar", {{"modem.bin", "modem"}}, "SM-T200");
  const Outcome ready = Inspect({dir / "BL.tar", dir / "AP.tar"});
  EXPECT_EQ(ready.status, 0) << ready.out;
  EXPECT_TRUE(Contains(ready.out, "Meta-data: verified, model SM-T100_EUR\n")) << ready.out;
  EXPECT_TRUE(Contains(ready.out, "Partition table: none in the packages; re-partition off\n"));
  EXPECT_TRUE(Contains(ready.out, "Download list: none; every member above is sent\n"));
  EXPECT_TRUE(Contains(ready.out, "Total announced to the phone: 5004 bytes\n")) << ready.out;

  const Outcome mixed = Inspect({dir / "BL.tar", dir / "AP.tar", dir / "CP.tar"});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_TRUE(Contains(mixed.out, "Meta-data: NOT verified (model: SM-T100_EUR)\n")) << mixed.out;
}

TEST(CliInspect, ADeploymentKeyIsTakenFromTheKeyFile) {
  TempDir dir;
  const pack::KeyPairText keys = pack::GenerateKeyPair();
  WriteFile(dir / "own.pub", keys.publicText);
  WriteFile(dir / "broken.pub", "not a key");
  test::WriteSignedPackage(dir / "AP.tar", {{"boot.img", "boot"}}, "SM-OWN", keys.privateText);

  EXPECT_EQ(Inspect({dir / "AP.tar"}).status, 1) << "the built-in key does not verify it";
  const Outcome own = Inspect({"--meta-key", dir / "own.pub", dir / "AP.tar"});
  EXPECT_EQ(own.status, 0) << own.out;
  EXPECT_TRUE(Contains(own.out, "Meta-data: verified, model SM-OWN\n"));
  const Outcome broken = Inspect({"--meta-key", dir / "broken.pub", dir / "AP.tar"});
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.out, "");
  EXPECT_TRUE(Contains(broken.err, "broken.pub")) << broken.err;
}

TEST(CliInspect, ShowsTheMd5TrailerVerdictBesideTheMetaData) {
  TempDir dir;
  test::WriteSignedPackage(dir / "AP.tar", {{"boot.img", "boot"}}, "SM-T500");
  std::string error;
  ASSERT_TRUE(pack::WriteMd5Package(dir / "AP.tar", error)) << error;
  // The tar part stays intact (its meta-data verifies); one digit of the trailer's digest is off.
  std::string damaged = test::ReadFile(dir / "AP.tar.md5");
  char& digit = damaged[damaged.size() - std::string("AP.tar.md5").size() - 31];
  digit = digit == '0' ? '1' : '0';
  std::filesystem::create_directories(dir / "damaged");
  WriteFile(dir / "damaged/AP.tar.md5", damaged);

  const std::string metaData = "Meta-data: verified, model SM-T500\n";
  const struct {
    std::string package;
    int status;
    std::string verdict;
  } cases[] = {
      {dir / "AP.tar.md5", 0, metaData + "MD5 trailer: AP.tar.md5 verified\n"},
      {dir / "damaged/AP.tar.md5", 1,
       metaData + "MD5 trailer: AP.tar.md5 INVALID (MD5 hash value is invalid)\n"
                  "  the station refuses it when it is picked: \"md5 error! Binary is invalid\"\n"},
  };
  for (const auto& c : cases) {
    const Outcome o = Inspect({"--ap", c.package});
    EXPECT_EQ(o.status, c.status) << o.out;
    EXPECT_TRUE(o.out.ends_with(c.verdict)) << o.out;
  }
}

TEST(CliInspect, AFailedAnalysisSaysWhyAndSendsNothing) {
  TempDir dir;
  const std::string longName = "firmware/" + std::string(23, 'n');
  test::WriteTar(dir / "AP.tar", {{"boot.img", "b"}, {longName, "x"}});
  test::WriteTar(dir / "AP.smd", {{"boot.img", "b"}});
  const struct {
    std::vector<std::string> args;
    std::string why;
  } cases[] = {
      {{dir / "AP.tar"},
       "AP.tar: the member name " + longName + " is longer than 31 characters (code 1)"},
      {{dir / "missing.tar"}, "Can't open the specified file. (Line: 333) (code 1)"},
      {{"--csc", dir / "missing.tar.md5"}, "Can't open the specified file. (Line: 599) (code 1)"},
      {{dir / "AP.smd"}, "AP.smd: neither a .tar nor a .md5 package (code 1)"},
  };
  for (const auto& c : cases) {
    const Outcome o = Inspect(c.args);
    EXPECT_EQ(o.status, 1) << c.why;
    EXPECT_TRUE(Contains(o.out, "File analysis FAILED: " + c.why + "\n")) << o.out;
    EXPECT_FALSE(Contains(o.out, "to send")) << o.out;
    EXPECT_FALSE(Contains(o.out, "Meta-data:")) << o.out;
  }
}

TEST(CliInspect, ShowsWhatIsNotAMemberAndWhyAPackageIsRefused) {
  TempDir dir;
  // A folder entry and a pax header of times before the member, as tar --format=pax writes.
  auto typed = [](const std::string& name, const std::string& data, char type) {
    auto header = pack::MakeTarHeader(name, data.size());
    header[156] = static_cast<uint8_t>(type);
    pack::SealTarHeader(header);
    std::string bytes(header.begin(), header.end());
    return bytes + data + std::string((512 - data.size() % 512) % 512, '\0');
  };
  WriteFile(dir / "AP.tar", typed("firmware/", "", '5') +
                                typed("firmware/PaxHeaders/boot.img", "12 uid=1000\n", 'x') +
                                typed("firmware/boot.img", "boot", '0') + std::string(1024, '\0'));
  const Outcome pax = Inspect({"--ap", dir / "AP.tar"});
  EXPECT_TRUE(Contains(pax.out,
                       "Log\n"
                       "  Mirk engine v(ID:3.1203)..\n"
                       "  File analysis..\n"
                       "  Skip directory firmware/\n"
                       "  Skip pax extended header firmware/PaxHeaders/boot.img\n"
                       "File analysis passed\n"
                       "\n"
                       "AP   AP.tar: 1 member to send\n"
                       "          offset           size  member\n"
                       "            2048              4  firmware/boot.img\n"))
      << pax.out;

  // A package that cannot be opened: the system's failure text, and the log says why.
  const Outcome missing = Inspect({"--bl", dir / "missing.tar"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.out, "  " + (dir / "missing.tar") +
                                        ": no such file\n"
                                        "File analysis FAILED: Can't open the specified file. "
                                        "(Line: 333) (code 1)\n"))
      << missing.out;

  // A home list that keeps nothing: a run would write nothing, so it is no pass.
  test::WriteTar(dir / "HOME_CSC.tar", {{"csc.img", "c"}, {"meta-data/download-list.txt", ""}});
  const Outcome empty = Inspect({"--ap", dir / "AP.tar", "--csc", dir / "HOME_CSC.tar"});
  EXPECT_EQ(empty.status, 1);
  EXPECT_TRUE(Contains(empty.out,
                       "File analysis FAILED: HOME_CSC.tar: its download list leaves nothing to "
                       "send (the list is empty) (code 1)\n"))
      << empty.out;
  EXPECT_FALSE(Contains(empty.out, "to send\n")) << empty.out;
}

TEST(CliInspect, ShowsTheMembersAOneClickProgramCarries) {
  TempDir dir;
  test::WriteTar(dir / "bl.tar", {{"loader.bin", TestBytes(700, 5)}});
  const std::string modem = TestBytes(9000, 6);
  test::OneClickByHand program;
  const uint32_t bl = program.AddSlot(BL, test::ReadFile(dir / "bl.tar"), ONECLICK_TAR);
  const std::string cpData = test::DeflatedMember("modem.bin", modem) + std::string(1024, '\0');
  const uint32_t cp = program.AddSlot(CP, cpData, ONECLICK_TAR_DEFLATED);
  program.Write(dir / "oneclick");

  const Outcome o = Inspect({"--one-click", dir / "oneclick"});
  EXPECT_EQ(o.status, 1) << "its packages are not signed";
  const std::string out = Replaced(o.out, dir.Path().string(), "DIR");
  EXPECT_TRUE(
      out.starts_with("One Click program DIR/oneclick\n"
                      "Packages\n"
                      "  BL   " +
                      std::to_string(test::ReadFile(dir / "bl.tar").size()) + " bytes at offset " +
                      std::to_string(bl) +
                      " of the program, tar (type 1)\n"
                      "  CP   " +
                      std::to_string(cpData.size()) + " bytes at offset " + std::to_string(cp) +
                      " of the program, tar of compressed members (type 4)\n"
                      "Log\n"
                      "  Mirk engine v(ID:3.1203)..\n"
                      "  One Click Downloader Mode\n"
                      "  File analysis..\n"))
      << out;
  EXPECT_TRUE(Contains(out,
                       "BL   1 member to send\n"
                       "          offset           size  member\n" +
                           Format("  %14u %14u  loader.bin\n", bl + 512, 700u)))
      << out;
  // Sent as stored, announced as inflated.
  const auto packed = ParseTarOctal(std::string_view(cpData).substr(TAR_SIZE_OFFSET, 12));
  ASSERT_TRUE(packed.has_value());
  EXPECT_TRUE(Contains(out,
                       "CP   1 member to send\n"
                       "          offset           size       inflated  member\n" +
                           Format("  %14u %14llu %14zu  modem.bin\n", cp + 512,
                                  static_cast<unsigned long long>(*packed), modem.size())))
      << out;
  EXPECT_TRUE(Contains(out, "Total announced to the phone: 9700 bytes\n")) << out;

  WriteFile(dir / "plain-program", std::string(4000, 'p'));
  const Outcome plain = Inspect({"--one-click", dir / "plain-program"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_EQ(plain.out, "");
  EXPECT_TRUE(Contains(plain.err, "plain-program is not a One Click program")) << plain.err;
}

// Runs `program` inspect with `args`; standard error goes to `errFile`.
Outcome RunProgram(const std::string& args, const std::string& errFile,
                   const std::string& program = MIRK3_BIN_DIR "/mirk3-cli") {
  const test::ProgramRun run = test::RunProgram("'" + program + "' inspect " + args, errFile);
  return {run.status, run.out, test::ReadFile(errFile)};
}

// Run as a program under a time limit: a command that waited on a pipe would be stopped by it.
TEST(CliInspect, InputsThatAreNotRegularFilesAreRefusedAtOnce) {
  TempDir dir;
  const std::string pipe = dir / "pipe";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  test::WriteTar(dir / "AP.tar", {{"boot.img", "b"}});
  const struct {
    std::string args;
    std::string why;
  } cases[] = {
      {"--one-click '" + pipe + "'", pipe + ": a pipe, not a regular file"},
      {"--one-click '" + dir.Path().string() + "'", dir.Path().string() + ": a directory"},
      {"--meta-key '" + pipe + "' '" + (dir / "AP.tar") + "'", pipe + ": a pipe, not a regular file"},
  };
  for (const auto& c : cases) {
    const test::ProgramRun run =
        test::RunProgram("timeout 60 '" MIRK3_BIN_DIR "/mirk3-cli' inspect " + c.args, dir / "err");
    const std::string err = test::ReadFile(dir / "err");
    EXPECT_EQ(run.status, 1) << c.args << ": " << err;
    EXPECT_EQ(run.out, "") << c.args;
    EXPECT_TRUE(Contains(err, c.why)) << err;
  }
}

TEST(CliInspect, TheProgramRunsTheCommand) {
  TempDir dir;
  test::WriteSignedPackage(dir / "AP.tar", {{"boot.img", TestBytes(1234, 7)}}, "SM-T300");
  const Outcome ready = RunProgram("--ap '" + (dir / "AP.tar") + "'", dir / "err");
  EXPECT_EQ(ready.status, 0) << ready.err;
  EXPECT_TRUE(Contains(ready.out, "AP   AP.tar: 1 member to send\n")) << ready.out;
  EXPECT_TRUE(Contains(ready.out, "             512           1234  boot.img\n")) << ready.out;
  EXPECT_TRUE(Contains(ready.out, "Meta-data: verified, model SM-T300\n")) << ready.out;

  const Outcome usage = RunProgram("--bogus", dir / "err");
  EXPECT_EQ(usage.status, 2);
  EXPECT_TRUE(Contains(usage.err, "--bogus")) << usage.err;
  EXPECT_EQ(std::count(usage.err.begin(), usage.err.end(), '\n'), 1) << usage.err;
}

TEST(CliInspect, AOneClickProgramShowsItsOwnPackages) {
  TempDir dir;
  test::WriteSignedPackage(dir / "AP.tar", {{"boot.img", TestBytes(2000, 8)}}, "SM-T400");
  test::WriteTar(dir / "other.tar", {{"other.img", "o"}});
  test::OneClickContents contents;
  contents.packages = {{AP, dir / "AP.tar", ONECLICK_TAR}};
  test::WriteOneClickProgram(dir / "station", contents);

  const Outcome own = RunProgram("", dir / "err", dir / "station");
  EXPECT_EQ(own.status, 0) << own.err;
  EXPECT_TRUE(own.out.starts_with("One Click program " + (dir / "station") + "\nPackages\n"))
      << own.out;
  EXPECT_TRUE(Contains(own.out, "AP   1 member to send\n")) << own.out;
  EXPECT_TRUE(Contains(own.out, "Meta-data: verified, model SM-T400\n")) << own.out;

  const Outcome given = RunProgram("'" + (dir / "other.tar") + "'", dir / "err", dir / "station");
  EXPECT_EQ(given.status, 0) << given.err;
  EXPECT_TRUE(Contains(given.out, "the files given are not used")) << given.out;
  EXPECT_FALSE(Contains(given.out, "other.img")) << given.out;
}

}  // namespace
}  // namespace mirk3
