// One Click programs built from a real program and real packages, read back as the station
// reads them: the trailer at the end, each slot's tar at its offset, compressed members
// inflated with zlib; and the builds that must be refused, which leave nothing behind.
#include "pack/oneclick_builder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "pack/md5_package.h"
#include "packages/content_list.h"
#include "packages/meta_data_key.h"
#include "packages/package_meta_data.h"
#include "packages/tar_walk.h"
#include "support/oneclick_program.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3::pack {
namespace {

using test::OneClickMember;
using test::ReadFile;
using test::TarEntry;
using test::TestBytes;

constexpr char PROGRAM[] = "/bin/true";

// Firmware-like contents: zero runs between noise.
std::string Firmware(size_t length, unsigned seed) {
  std::string out = TestBytes(length, seed);
  for (size_t at = 0; at < length; at += 3 * 8192) {
    std::fill_n(out.begin() + at, std::min<size_t>(8192, length - at), '\0');
  }
  return out;
}

std::string Octal11(uint64_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%011llo", static_cast<unsigned long long>(value));
  return text;
}

bool HeaderChecksumHolds(const std::string& header) {
  unsigned sum = 0;
  for (size_t i = 0; i < 512; ++i) {
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<uint8_t>(header[i]);
  }
  return std::strtoul(header.substr(148, 8).c_str(), nullptr, 8) == sum;
}

class OneClickBuilderTest : public ::testing::Test {
 protected:
  std::string Tar(const std::string& name, const std::vector<TarEntry>& members) {
    test::WriteTar(dir_ / name, members);
    return dir_ / name;
  }
  std::string Md5Tar(const std::string& name, const std::vector<TarEntry>& members) {
    const std::string tar = Tar(name, members);
    std::string error;
    EXPECT_TRUE(WriteMd5Package(tar, error)) << error;
    return tar + ".md5";
  }
  OneClickRequest Request() {
    OneClickRequest request;
    request.programPath = PROGRAM;
    request.outPath = dir_ / "oneclick";
    return request;
  }
  // Builds and expects a refusal whose message holds `why`, with nothing left in the folder
  // but the inputs.
  void ExpectRefused(const OneClickRequest& request, const std::string& why) {
    const auto before = Listing();
    OneClickTrailer trailer;
    std::string error;
    EXPECT_FALSE(BuildOneClick(request, trailer, error));
    EXPECT_NE(error.find(why), std::string::npos) << error;
    EXPECT_EQ(Listing(), before);
  }
  std::vector<std::string> Listing() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  test::TempDir dir_;
};

TEST_F(OneClickBuilderTest, PlacesProgramSlotsTableAndTrailer) {
  OneClickRequest request = Request();
  request.packages[BL].path = Tar("bl.tar", {{"loader.bin", TestBytes(3000, 1)}});
  request.packages[AP].path = Md5Tar("ap.tar", {{"boot.img", TestBytes(5000, 2)}});
  request.packages[CP].path = Tar("cp.tar", {{"modem.bin", Firmware(70000, 3)}});
  request.packages[CP].type = ONECLICK_TAR_DEFLATED;
  request.packages[UMS].path = Tar("ums.tar", {{"data.img", TestBytes(100, 4)}});
  request.pitPath = dir_ / "table.pit";
  test::WriteFile(request.pitPath, TestBytes(4096, 5));
  request.rePartition = true;
  request.autoReboot = false;
  request.efsClear = true;

  OneClickTrailer written;
  std::string error;
  ASSERT_TRUE(BuildOneClick(request, written, error)) << error;
  const std::string file = ReadFile(request.outPath);
  const std::string program = ReadFile(PROGRAM);
  ASSERT_GT(file.size(), program.size() + ONECLICK_TRAILER_SIZE);
  EXPECT_EQ(file.substr(0, program.size()), program);

  const OneClickTrailer trailer = OneClickTrailer::Parse(
      reinterpret_cast<const uint8_t*>(file.data() + file.size() - ONECLICK_TRAILER_SIZE));
  EXPECT_TRUE(trailer.TitleMatches());
  EXPECT_EQ(trailer.rePartition, 1u);
  EXPECT_EQ(trailer.autoReboot, 0u);
  EXPECT_EQ(trailer.phoneEfsClear, 1u);
  EXPECT_EQ(trailer.phoneBootUpdate, 0u);
  EXPECT_EQ(trailer.Encode(), written.Encode());

  // Slots follow the program in slot order, each holding its package; the CSC slot is empty.
  const int16_t types[] = {1, 3, 4, 0, 1};
  uint64_t next = program.size();
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    SCOPED_TRACE(SLOT_NAMES[slot]);
    const OneClickSlot& record = trailer.slots[slot];
    if (slot == CSC) {
      EXPECT_FALSE(record.Present());
      continue;
    }
    EXPECT_EQ(record.offset, next);
    EXPECT_EQ(record.type, types[slot]);
    if (slot != CP) {
      EXPECT_EQ(file.substr(record.offset, record.length), ReadFile(request.packages[slot].path));
    }
    next = uint64_t{record.offset} + record.length;
  }
  EXPECT_EQ(trailer.pitOffset, next);
  EXPECT_EQ(file.substr(trailer.pitOffset, trailer.pitSize), ReadFile(request.pitPath));
  EXPECT_EQ(file.size(), uint64_t{trailer.pitOffset} + trailer.pitSize + ONECLICK_TRAILER_SIZE);

  // The program still runs with its packages appended.
  struct stat info {};
  ASSERT_EQ(::stat(request.outPath.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0755u);
  EXPECT_EQ(std::system(request.outPath.c_str()), 0);
}

TEST_F(OneClickBuilderTest, CompressesFirmwareMembersAndKeepsTheRestPlain) {
  const std::vector<TarEntry> members = {
      {"boot.img", Firmware(200000, 1)},
      {"empty.bin", ""},
      {"meta-data/download-list.txt", "boot.img\n"},
      {"part.Pit", TestBytes(2000, 2)},
      {"noise.bin", TestBytes(1 << 20, 3)},
      {"odd.bin", TestBytes(513, 4)},
  };
  const std::string signedTar = dir_ / "signed.tar";
  test::WriteSignedPackage(signedTar, members, "MODEL-1");
  OneClickRequest request = Request();
  request.packages[AP] = {signedTar, ONECLICK_TAR_DEFLATED};
  // A .tar.md5 taken as type 4: its MD5 trailer is not carried over.
  request.packages[CSC] = {Md5Tar("csc.tar", {{"csc.img", Firmware(9000, 5)}}),
                           ONECLICK_TAR_DEFLATED};
  OneClickTrailer trailer;
  std::string error;
  ASSERT_TRUE(BuildOneClick(request, trailer, error)) << error;

  const std::vector<OneClickMember> carried = test::OneClickMembers(request.outPath, AP);
  ASSERT_EQ(carried.size(), members.size() + 1);  // and the signed content list
  const std::string file = ReadFile(request.outPath);
  for (size_t i = 0; i < members.size(); ++i) {
    const OneClickMember& member = carried[i];
    SCOPED_TRACE(member.name);
    EXPECT_EQ(member.name, members[i].name);
    EXPECT_EQ((member.headerOffset - trailer.slots[AP].offset) % 512, 0u);
    EXPECT_TRUE(HeaderChecksumHolds(file.substr(member.headerOffset, 512)));
    const bool plain = member.name.starts_with("meta-data/") || member.name == "part.Pit";
    if (plain) {
      EXPECT_EQ(member.storedSize, members[i].data.size());
      EXPECT_EQ(member.inflatedSize, 0u);
    } else {
      EXPECT_EQ(member.inflatedSize, members[i].data.size());
      // Eleven octal digits and a NUL, like the size field.
      EXPECT_EQ(file.substr(member.headerOffset + 500, 12),
                Octal11(member.inflatedSize) + std::string(1, '\0'));
    }
    EXPECT_EQ(test::OneClickMemberContents(request.outPath, member, !plain), members[i].data);
  }
  EXPECT_LT(carried[0].storedSize, members[0].data.size());
  EXPECT_EQ(carried.back().name, "meta-data/fota.mf");
  const uint64_t end = uint64_t{trailer.slots[AP].offset} + trailer.slots[AP].length;
  EXPECT_EQ(file.substr(end - 1024, 1024), std::string(1024, '\0'));

  // The signed list still verifies where the station checks it, at the slot's offset.
  char model[PACKAGE_MODEL_SIZE] = {};
  EXPECT_TRUE(VerifyOneClickSlotMetaData(request.outPath, trailer.slots[AP].offset,
                                         BuiltInMetaDataKey(), model));
  EXPECT_STREQ(model, "MODEL-1");

  const std::vector<OneClickMember> csc = test::OneClickMembers(request.outPath, CSC);
  ASSERT_EQ(csc.size(), 1u);
  EXPECT_EQ(test::OneClickMemberContents(request.outPath, csc[0], true), Firmware(9000, 5));
  EXPECT_EQ(trailer.slots[CSC].length, 512 + TarPaddedSize(csc[0].storedSize) + 1024);
}

TEST_F(OneClickBuilderTest, RefusesWhatTheStationCouldNotFlash) {
  const std::string good = Tar("good.tar", {{"boot.img", "boot"}});
  const std::string pit = dir_ / "table.pit";
  test::WriteFile(pit, "table");

  OneClickRequest notProgram = Request();
  notProgram.programPath = good;
  notProgram.packages[AP].path = good;
  ExpectRefused(notProgram, "has no ELF header");

  OneClickRequest twice = Request();
  twice.packages[AP].path = good;
  twice.outPath = dir_ / "first";
  OneClickTrailer trailer;
  std::string error;
  ASSERT_TRUE(BuildOneClick(twice, trailer, error)) << error;
  twice.programPath = twice.outPath;
  twice.outPath = dir_ / "second";
  ExpectRefused(twice, "is a One Click program already");

  const struct {
    std::string path;
    int16_t type;
    std::string why;
  } packages[] = {
      {good, 3, "type 3 takes a .tar.md5 package"},
      {good, 2, "the slot type 2 is not 1, 3 or 4"},
      {dir_ / "missing.tar", 1, "cannot read " + (dir_ / "missing.tar") + ": no such file"},
      {dir_.Path().string(), 1,
       "cannot read " + dir_.Path().string() + ": a directory, not a file"},
      {Tar("long.tar", {{std::string(32, 'n'), "x"}}), 4, "is longer than 31 bytes"},
  };
  for (const auto& c : packages) {
    OneClickRequest request = Request();
    request.packages[CP] = {c.path, c.type};
    ExpectRefused(request, c.why);
  }

  // A damaged archive, and a .tar.md5 whose trailer no longer matches.
  const std::string broken = dir_ / "broken.tar";
  std::string bytes = ReadFile(good);
  bytes[130] = 'x';  // the size field
  test::WriteFile(broken, bytes);
  const std::string md5 = Md5Tar("ap.tar", {{"boot.img", "boot"}});
  bytes = ReadFile(md5);
  bytes[600] ^= 1;
  test::WriteFile(md5, bytes);
  for (const std::string& path : {broken, md5}) {
    OneClickRequest request = Request();
    request.packages[AP].path = path;
    ExpectRefused(request, path == broken ? "is not a tar archive" : "does not match its MD5");
  }

  OneClickRequest emptyPit = Request();
  emptyPit.packages[AP].path = good;
  emptyPit.pitPath = dir_ / "empty.pit";
  test::WriteFile(emptyPit.pitPath, "");
  ExpectRefused(emptyPit, "is empty");

  OneClickRequest overInput = Request();
  overInput.packages[AP].path = good;
  overInput.pitPath = pit;
  overInput.outPath = pit;
  ExpectRefused(overInput, "would replace its input");
  EXPECT_EQ(ReadFile(pit), "table");
}

TEST_F(OneClickBuilderTest, RefusesMoreThanTheTrailerCanDescribe) {
  // A program of 4 GiB (sparse: it takes no room) leaves no room for a package.
  const std::string big = dir_ / "big-program";
  test::WriteFile(big,
                  "\x7f"
                  "ELF");
  ASSERT_EQ(::truncate(big.c_str(), off_t{1} << 32), 0);
  OneClickRequest request = Request();
  request.programPath = big;
  request.packages[AP].path = Tar("ap.tar", {{"boot.img", "boot"}});
  ExpectRefused(request, "more than the 4294967295 bytes");

  // A compressed slot is measured as it is written; the output already there stays as it was.
  request = Request();
  request.packages[AP] = {Tar("noise.tar", {{"noise.bin", TestBytes(200000, 1)}}),
                          ONECLICK_TAR_DEFLATED};
  test::WriteFile(request.outPath, "an older build");
  request.contentLimit = ReadFile(PROGRAM).size() + 100000;
  ExpectRefused(request, "more than the");
  EXPECT_EQ(ReadFile(request.outPath), "an older build");

  request.contentLimit = ONECLICK_CONTENT_LIMIT;
  OneClickTrailer trailer;
  std::string error;
  EXPECT_TRUE(BuildOneClick(request, trailer, error)) << error;
}

}  // namespace
}  // namespace mirk3::pack
