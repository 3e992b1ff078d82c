// mirk3-pack's commands, run as the program runs them, on real files.
#include "pack/pack_commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pack/key_pair.h"
#include "pack/tar_writer.h"
#include "packages/byte_source.h"
#include "packages/md5_trailer.h"
#include "packages/meta_data_key.h"
#include "packages/meta_data_verifier.h"
#include "packages/package_meta_data.h"
#include "packages/tar_walk.h"
#include "support/command_call.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3::pack {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

using Outcome = test::CommandOutcome;

Outcome Pack(const std::vector<std::string>& args) {
  return test::CallCommand(RunPackCommand, args);
}

struct Listed {
  std::string name;
  std::string data;
};

// The members of a tar as the station's walk sees them; an empty list when the walk breaks.
std::vector<Listed> Members(const std::string& path) {
  FileByteSource file;
  if (!file.Open(path)) return {};
  TarWalk walk(file, 0);
  TarMember member;
  std::vector<Listed> members;
  TarStep step;
  while ((step = walk.Next(member)) == TarStep::Member) {
    std::string data(member.size, '\0');
    file.ReadExactly(member.dataOffset, data.data(), data.size());
    members.push_back({member.name, data});
  }
  return step == TarStep::End ? members : std::vector<Listed>{};
}

// Each entry of a folder as it is: its kind, inode and content (a link: its target), so that a
// file replaced by another, even one of the same bytes, shows.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& dir) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string path = entry.path().string();
    struct stat info {};
    lstat(path.c_str(), &info);
    std::string& shown = entries[entry.path().filename().string()];
    shown = std::to_string(info.st_mode) + " " + std::to_string(info.st_ino) + " ";
    if (S_ISLNK(info.st_mode)) shown += std::filesystem::read_symlink(path).string();
    if (S_ISREG(info.st_mode)) shown += ReadFile(path);
  }
  return entries;
}

// True when an entry of `dir` is named `name` or starts with it (its partial files).
bool AnyNamed(const std::filesystem::path& dir, const std::string& name) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with(name)) return true;
  }
  return false;
}

// Starts build/bin/mirk3-pack with `args`, its output thrown away and SIGINT and SIGTERM in
// their default state, as from a terminal.
pid_t StartPack(const std::vector<std::string>& args) {
  const std::string program = std::string(MIRK3_BIN_DIR) + "/mirk3-pack";
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &files, &attributes, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

class PackCommandsTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(dir_ / name).parent_path());
    WriteFile(dir_ / name, bytes);
    return dir_ / name;
  }
  std::string KeyFile() {
    const std::string path = dir_ / "test.private";
    if (!std::filesystem::exists(path)) WriteFile(path, test::TestPrivateKey());
    return path;
  }
  TempDir dir_;
};

TEST_F(PackCommandsTest, TarStoresFilesUnderTheNamesGiven) {
  const std::string a = File("a.bin", test::TestBytes(1000, 1));
  const std::string b = File("src/b.bin", test::TestBytes(512, 2));
  const std::string empty = File("empty.bin", "");
  // A file given without a name is stored under the path given (here relative to the folder).
  const std::filesystem::path home = std::filesystem::current_path();
  std::filesystem::current_path(dir_.Path());
  const Outcome run = Pack({"tar", dir_ / "out.tar", "a.bin", "firmware/b.img=" + b, "e=" + empty});
  std::filesystem::current_path(home);
  ASSERT_EQ(run.status, 0) << run.err;

  const std::vector<Listed> members = Members(dir_ / "out.tar");
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].name, "a.bin");
  EXPECT_EQ(members[0].data, ReadFile(a));
  EXPECT_EQ(members[1].name, "firmware/b.img");
  EXPECT_EQ(members[1].data, ReadFile(b));
  EXPECT_EQ(members[2].name, "e");
  EXPECT_EQ(members[2].data, "");
  EXPECT_EQ(std::filesystem::file_size(dir_ / "out.tar"), 512u * (3 + 2 + 1 + 2));

  // Every header carries a valid ustar checksum, so other tar readers take the archive too.
  const std::string bytes = ReadFile(dir_ / "out.tar");
  for (const size_t at : {size_t{0}, size_t{1536}, size_t{2560}}) {
    unsigned sum = 0;
    for (size_t i = 0; i < 512; ++i) {
      sum += (i >= 148 && i < 156) ? ' ' : static_cast<uint8_t>(bytes[at + i]);
    }
    EXPECT_EQ(std::strtoul(bytes.substr(at + 148, 8).c_str(), nullptr, 8), sum) << at;
    EXPECT_EQ(bytes.substr(at + 257, 6), std::string("ustar\0", 6));
  }
}

TEST_F(PackCommandsTest, TarRefusesWhatItCannotStore) {
  const std::string a = File("a.bin", "data");
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"tar", dir_ / "out.tar"}, 2},
      {{"tar"}, 2},
      {{"tar", dir_ / "out.tar", dir_ / "missing.bin"}, 1},
      {{"tar", dir_ / "out.tar", std::string(32, 'n') + "=" + a}, 1},
      {{"tar", dir_ / "out.tar", "firmware/" + std::string(91, 'n') + "=" + a}, 1},
      {{"tar", dir_ / "out.tar", "=" + a}, 1},
      {{"tar", dir_ / "out.tar", "dir=" + (dir_ / "")}, 1},
      {{"tar", dir_ / "no/such/dir/out.tar", a}, 1},
  };
  for (const auto& c : cases) {
    const Outcome run = Pack(c.args);
    EXPECT_EQ(run.status, c.status) << c.args.back();
    EXPECT_FALSE(run.err.empty());
    EXPECT_FALSE(AnyNamed(dir_.Path(), "out.tar")) << c.args.back();
  }
  // The station keeps the name of a member it sends in 32 bytes with the NUL; members it only
  // reads (meta-data, a partition table) may have names as long as the name field holds.
  const std::string metaData = "meta-data/" + std::string(89, 'n');
  const std::string pit = std::string(95, 'n') + ".pit";
  const Outcome run = Pack(
      {"tar", dir_ / "out.tar", std::string(31, 'n') + "=" + a, metaData + "=" + a, pit + "=" + a});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(Members(dir_ / "out.tar").size(), 3u);
}

TEST_F(PackCommandsTest, OutputsThatAreNotTheirOwnAreRefused) {
  const std::string a = File("a.bin", "data");
  const std::string in = dir_ / "in.tar";
  test::WriteTar(in, {{"boot.img", "boot"}});
  const std::string md5Input = File("m.tar", "tar");
  const std::string key = KeyFile();
  const std::string link = dir_ / "link.tar";
  std::filesystem::create_symlink(File("target.tar", "target"), link);
  const std::string dangling = dir_ / "dangling";
  std::filesystem::create_symlink(dir_ / "nowhere", dangling);
  const std::string folder = dir_ / "folder";
  std::filesystem::create_directory(folder);
  const std::string hard = dir_ / "hard.tar";
  std::filesystem::create_hard_link(in, hard);
  std::filesystem::create_hard_link(md5Input, md5Input + ".md5");
  const std::string toIn = dir_ / "to-in.tar";
  std::filesystem::create_symlink(in, toIn);

  const struct {
    std::vector<std::string> args;
    std::string out;
    std::string why;
  } cases[] = {
      {{"tar", "/dev/full", "a=" + a}, "/dev/full", "a device, not a regular file"},
      {{"tar", link, "a=" + a}, link, "a symbolic link, not a regular file"},
      {{"tar", folder, "a=" + a}, folder, "a directory, not a file"},
      {{"tar", in, "a=" + a, "x=" + in}, in, "it would replace its input " + in},
      {{"tar", hard, "x=" + in}, hard, "it would replace its input " + in},
      {{"tar", in, "x=" + toIn}, in, "it would replace its input " + toIn},
      {{"md5", md5Input}, md5Input + ".md5", "it would replace its input " + md5Input},
      {{"sign", "--key", key, "--model", "M", in, toIn}, toIn, "it would replace its input " + in},
      {{"sign", "--key", key, "--model", "M", in, key}, key, "it would replace its input " + key},
      {{"oneclick", "--exe", "/bin/true", "--ap", in, "--out", "/dev/full"},
       "/dev/full",
       "a device, not a regular file"},
      {{"keygen", dangling, dir_ / "k.public"}, dangling, "it exists already and is not replaced"},
  };
  const auto before = Snapshot(dir_.Path());
  for (const auto& c : cases) {
    const Outcome run = Pack(c.args);
    EXPECT_EQ(run.status, 1) << c.args[0] << " " << c.out;
    EXPECT_NE(run.err.find("cannot write " + c.out + ": " + c.why), std::string::npos) << run.err;
    EXPECT_EQ(Snapshot(dir_.Path()), before) << c.args[0] << " " << c.out;
  }
  struct stat full {};
  ASSERT_EQ(lstat("/dev/full", &full), 0);
  EXPECT_TRUE(S_ISCHR(full.st_mode));
}

// Killed while it writes, a command leaves neither its partial file nor anything under the
// output's name. The input is a sparse tar of 4 GiB, so every command is still writing (or, for
// sign, reading) when the signal comes.
TEST_F(PackCommandsTest, InterruptedRunsLeaveNoOutput) {
  const std::string big = dir_ / "big.tar";
  const uint64_t memberSize = uint64_t{4} << 30;
  const TarHeaderBlock header = MakeTarHeader("system.img", memberSize);
  WriteFile(big, std::string(reinterpret_cast<const char*>(header.data()), header.size()));
  ASSERT_EQ(truncate(big.c_str(), static_cast<off_t>(512 + memberSize + 1024)), 0);
  const std::string key = KeyFile();

  const struct {
    std::vector<std::string> args;
    std::string out;
    int signal;
  } cases[] = {
      {{"tar", dir_ / "out.tar", "system.img=" + big}, "out.tar", SIGTERM},
      {{"tar", dir_ / "out.tar", "system.img=" + big}, "out.tar", SIGINT},
      {{"md5", big}, "big.tar.md5", SIGINT},
      {{"sign", "--key", key, "--model", "M", big, dir_ / "signed.tar"}, "signed.tar", SIGTERM},
  };
  for (const auto& c : cases) {
    const pid_t pid = StartPack(c.args);
    ASSERT_GT(pid, 0);
    int status = 0;
    bool ended = false;
    while (!AnyNamed(dir_.Path(), c.out + ".partial-") && !ended) {
      ended = waitpid(pid, &status, WNOHANG) == pid;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_FALSE(ended) << c.args[0] << " ended before it wrote its output";
    ASSERT_EQ(kill(pid, c.signal), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.signal)
        << c.args[0] << " " << strsignal(c.signal) << ": status " << status;
    EXPECT_FALSE(AnyNamed(dir_.Path(), c.out)) << c.args[0] << " " << strsignal(c.signal);
  }
}

TEST_F(PackCommandsTest, Md5WritesTheLineMd5sumWrites) {
  const std::string tar = File("BL_X.tar", test::TestBytes(10240, 3));
  const Outcome run = Pack({"md5", tar});
  ASSERT_EQ(run.status, 0) << run.err;

  const std::string command = "cd '" + dir_.Path().string() + "' && md5sum BL_X.tar";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[256] = {};
  const size_t got = fread(line, 1, sizeof line - 1, pipe);
  pclose(pipe);
  EXPECT_EQ(ReadFile(tar + ".md5"), ReadFile(tar) + std::string(line, got));
  EXPECT_TRUE(VerifyMd5Trailer(tar + ".md5"));

  EXPECT_EQ(Pack({"md5"}).status, 2);
  EXPECT_EQ(Pack({"md5", tar, tar}).status, 2);
  const Outcome missing = Pack({"md5", dir_ / "missing.tar"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "mirk3-pack: cannot read " + (dir_ / "missing.tar") + ": no such file\n");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "missing.tar.md5"));
}

TEST_F(PackCommandsTest, KeygenMakesAPairTheStationReads) {
  const std::string priv = dir_ / "k.private";
  const std::string pub = dir_ / "k.public";
  const Outcome run = Pack({"keygen", priv, pub});
  ASSERT_EQ(run.status, 0) << run.err;

  std::string keyText, error;
  ASSERT_TRUE(LoadMetaDataKeyFile(pub, keyText, error)) << error;
  EXPECT_EQ(keyText.size(), 399u);
  EXPECT_EQ(PublicKeyTextOf(ReadFile(priv)), keyText);
  struct stat info {};
  ASSERT_EQ(stat(priv.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  // Existing keys are never replaced.
  const std::string before = ReadFile(priv);
  EXPECT_EQ(Pack({"keygen", priv, dir_ / "other.public"}).status, 1);
  EXPECT_EQ(Pack({"keygen", dir_ / "other.private", pub}).status, 1);
  EXPECT_EQ(ReadFile(priv), before);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "other.private"));
  EXPECT_EQ(Pack({"keygen", priv}).status, 2);
  EXPECT_EQ(Pack({"keygen", dir_ / "x", dir_ / "x"}).status, 2);
}

TEST_F(PackCommandsTest, SignListsEveryMemberOutsideTheMetaDataFolder) {
  const std::string in = dir_ / "in.tar";
  test::WriteTar(in, {{"boot.img", test::TestBytes(5000, 4)},
                      {"firmware/modem.bin", test::TestBytes(2000, 5)},
                      {"meta-data/download-list.txt", "boot.img\n"},
                      {"meta-data/old.mf", test::SealedList("1\nOLD\nx y\n")}});
  const Outcome run =
      Pack({"sign", "--key", KeyFile(), "--model", "SM-X200", in, dir_ / "out.tar"});
  ASSERT_EQ(run.status, 0) << run.err;

  const std::vector<Listed> members = Members(dir_ / "out.tar");
  ASSERT_EQ(members.size(), 4u);
  EXPECT_EQ(members[2].name, "meta-data/download-list.txt");
  EXPECT_EQ(members[3].name, "meta-data/fota.mf");  // the old list is replaced
  CMetaDataVerifier verifier(dir_ / "out.tar", BuiltInMetaDataKey());
  ASSERT_TRUE(verifier.VerifyArchive());
  EXPECT_EQ(verifier.Model(), "SM-X200");
  EXPECT_EQ(verifier.Names(), (std::vector<std::string>{"boot.img", "firmware/modem.bin"}));

  // Another list name and a key of one's own.
  ASSERT_EQ(Pack({"keygen", dir_ / "own.private", dir_ / "own.public"}).status, 0);
  ASSERT_EQ(Pack({"sign", "--model", "M", "--list-name", "meta-data/other.mf", "--key",
                  dir_ / "own.private", in, dir_ / "own.tar"})
                .status,
            0);
  std::string ownKey, error;
  ASSERT_TRUE(LoadMetaDataKeyFile(dir_ / "own.public", ownKey, error));
  char model[30] = {};
  EXPECT_FALSE(VerifyPackageFileMetaData(dir_ / "own.tar", BuiltInMetaDataKey(), model));
  EXPECT_TRUE(VerifyPackageFileMetaData(dir_ / "own.tar", ownKey, model));
  EXPECT_EQ(Members(dir_ / "own.tar").back().name, "meta-data/other.mf");
}

TEST_F(PackCommandsTest, SignRefusesWhatTheStationWouldNotAccept) {
  const std::string in = dir_ / "in.tar";
  test::WriteTar(in, {{"boot.img", "boot"}});
  std::vector<test::TarEntry> many;
  for (int i = 0; i < 101; ++i) many.push_back({"m" + std::to_string(i), "x"});
  test::WriteTar(dir_ / "many.tar", many);
  test::WriteTar(dir_ / "blank.tar", {{"my boot.img", "boot"}});
  test::WriteTar(dir_ / "twice.tar", {{"boot.img", "one"}, {"boot.img", "two"}});
  test::WriteTar(dir_ / "only-meta.tar", {{"meta-data/download-list.txt", "x"}});
  WriteFile(dir_ / "broken.tar", std::string(512, 'x'));
  WriteFile(dir_ / "bad.private", "not a key\n");
  const std::string key = KeyFile();
  const std::string out = dir_ / "out.tar";
  const struct {
    std::vector<std::string> args;
    int status;
  } cases[] = {
      {{"sign", "--model", "M", in, out}, 2},
      {{"sign", "--key", key, in, out}, 2},
      {{"sign", "--key", key, "--model", "M", in}, 2},
      {{"sign", "--key", key, "--model"}, 2},
      {{"sign", "--key", key, "--model", "M", "--colour", "red", in, out}, 2},
      {{"sign", "--key", key, "--model", std::string(30, 'M'), in, out}, 1},
      {{"sign", "--key", key, "--model", "", in, out}, 1},
      {{"sign", "--key", key, "--model", "A\nB", in, out}, 1},
      {{"sign", "--key", key, "--model", "M", "--list-name", "fota.mf", in, out}, 1},
      {{"sign", "--key", dir_ / "bad.private", "--model", "M", in, out}, 1},
      {{"sign", "--key", dir_ / "missing", "--model", "M", in, out}, 1},
      {{"sign", "--key", key, "--model", "M", dir_ / "many.tar", out}, 1},
      {{"sign", "--key", key, "--model", "M", dir_ / "blank.tar", out}, 1},
      {{"sign", "--key", key, "--model", "M", dir_ / "twice.tar", out}, 1},
      {{"sign", "--key", key, "--model", "M", dir_ / "only-meta.tar", out}, 1},
      {{"sign", "--key", key, "--model", "M", dir_ / "broken.tar", out}, 1},
      {{"sign", "--key", key, "--model", "M", dir_ / "missing.tar", out}, 1},
      {{"sign", "--key", key, "--model", "M", in, in}, 1},
  };
  const std::string original = ReadFile(in);
  for (const auto& c : cases) {
    const Outcome run = Pack(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_FALSE(run.err.empty());
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  EXPECT_EQ(ReadFile(in), original);
}

TEST_F(PackCommandsTest, ProgramReportsUsageAndHelp) {
  const std::string program = std::string(MIRK3_BIN_DIR) + "/mirk3-pack";
  EXPECT_EQ(WEXITSTATUS(std::system((program + " >/dev/null 2>&1").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((program + " frobnicate >/dev/null 2>&1").c_str())), 2);
  EXPECT_EQ(WEXITSTATUS(std::system((program + " --help >/dev/null").c_str())), 0);
  const Outcome help = Pack({"--help"});
  EXPECT_NE(help.out.find("mirk3-pack sign --key PRIVATE --model MODEL"), std::string::npos);
}

}  // namespace
}  // namespace mirk3::pack
