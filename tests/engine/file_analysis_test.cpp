// File analysis over real tar files: the walk's skips and bounds, the slot rules by path
// ending, the special members (partition table, meta-data folder, UFS_Header.bin), headers
// that cannot be trusted, the meta-data verdict, One Click slots, and archives written by the
// system's own tar in GNU and ustar form.
#include "engine/file_analysis.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "analysis_run.h"
#include "base/file.h"
#include "base/text.h"
#include "devsim/builtin_pit.h"
#include "devsim/phone_farm.h"
#include "pack/md5_package.h"
#include "packages/byte_source.h"
#include "packages/md5_trailer.h"
#include "packages/member_digest.h"
#include "support/oneclick_by_hand.h"
#include "support/station_harness.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"
#include "wire/pit_record.h"

namespace mirk3 {
namespace {

using test::AnalysisRun;
using test::HeaderBytes;
using test::HeaderWithSizeField;
using test::OneClickByHand;
using test::Padded;
using test::TarEntry;
using test::TempDir;
using test::TestBytes;
using Strings = std::vector<std::string>;

const std::string CANT_OPEN = "Can't open the specified file.";

std::string Md5Package(const std::string& tarPath) {
  std::string error;
  EXPECT_TRUE(pack::WriteMd5Package(tarPath, error)) << error;
  return tarPath + ".md5";
}

// An archive written piece by piece, without end blocks unless the pieces hold them.
void WriteRawTar(const std::string& path, const Strings& pieces) {
  std::string bytes;
  for (const std::string& piece : pieces) bytes += piece;
  test::WriteFile(path, bytes);
}

TEST(FileAnalysis, IsTheFirstStepOfAFullDownload) {
  TempDir dir;
  test::WriteTar(dir / "AP.tar", {{"boot.img", "b"}});
  EngineContext context;
  context.ownExecutablePath = "";  // no program of its own
  context.portDir = dir.Path();    // no phone: the connection fails at its first try
  context.timing.openAttempts = 1;
  context.timing.stepPause = Millis(0);
  // The device-info session reads no package before the phone answers.
  for (const bool deviceInfo : {false, true}) {
    test::RecordingSink sink;
    CDownloadEngine engine(&sink, 7, context);
    DownloadOptions options;
    options.deviceInfo = deviceInfo ? 1 : 0;
    options.slotEnabled[AP] = 1;
    options.slotPath[AP] = dir / "AP.tar";
    engine.CopyOptions(options);
    EXPECT_FALSE(engine.RunSteps());
    const Strings logs = sink.Of(WM_DL_LOG);
    ASSERT_GE(logs.size(), 2u) << deviceInfo;
    const Strings expected = deviceInfo ? Strings{"SetupConnection..|0"}
                                        : Strings{"File analysis..|0", "SetupConnection..|0"};
    EXPECT_EQ(Strings(logs.begin() + 1, logs.begin() + 1 + expected.size()), expected)
        << deviceInfo;
  }
}

TEST(FileAnalysis, MembersAreFoundAtTheirPaddedOffsets) {
  const std::vector<TarEntry> skips = {{"empty.bin", ""},
                                       {"block.bin", TestBytes(512, 1)},
                                       {"block-and-one.bin", TestBytes(513, 2)},
                                       {"last.bin", "x"}};
  const Strings skipsListed = {"empty.bin@512+0", "block.bin@1024+512",
                               "block-and-one.bin@2048+513", "last.bin@3584+1"};
  struct Case {
    const char* what;
    std::vector<TarEntry> members;
    bool endBlocks;
    Strings listed;
    uint64_t total;
  };
  const Case cases[] = {
      {"an empty archive", {}, true, {}, 0},
      {"0, 512 and 513 bytes", skips, true, skipsListed, 1026},
      {"no end-of-archive blocks", skips, false, skipsListed, 1026},
  };
  for (const Case& c : cases) {
    TempDir dir;
    pack::TarWriter writer;
    ASSERT_TRUE(writer.Open(dir / "AP.tar"));
    for (const TarEntry& m : c.members) ASSERT_TRUE(writer.AddBytes(m.name, m.data));
    ASSERT_TRUE(c.endBlocks ? writer.Finish() : writer.CloseAsIs());

    AnalysisRun run({{AP, dir / "AP.tar"}});
    EXPECT_TRUE(run.Passed()) << c.what;
    EXPECT_EQ(run.Listed(AP), c.listed) << c.what;
    EXPECT_EQ(run.Found().packageTotal, c.total) << c.what;
    EXPECT_EQ(run.Logs(), Strings{"File analysis.."}) << c.what;
    EXPECT_EQ(run.Fails(), Strings{}) << c.what;
    for (const auto& entry : run.Members(AP)) {
      EXPECT_EQ(entry->partitionId, PARTITION_UNMATCHED) << c.what;
      EXPECT_EQ(entry->inflatedSize, 0u) << c.what;
    }
  }
  TempDir dir;
  test::WriteFile(dir / "zero-bytes.tar", "");
  AnalysisRun empty({{BL, dir / "zero-bytes.tar"}});
  EXPECT_TRUE(empty.Passed());
  EXPECT_EQ(empty.Listed(BL), Strings{});
}

TEST(FileAnalysis, APackagesEndingChoosesItsWalk) {
  TempDir dir;
  test::WriteTar(dir / "pkg.tar", {{"boot.img", TestBytes(700, 3)}});
  const std::string md5 = Md5Package(dir / "pkg.tar");
  struct Case {
    const char* name;
    std::string content;
    bool passes;
    Strings listed;
  };
  const std::string tar = test::ReadFile(dir / "pkg.tar");
  const std::string tarMd5 = test::ReadFile(md5);
  const Case cases[] = {
      {"AP.TAR", tar, true, {"boot.img@512+700"}},
      {"ap.Tar", tar, true, {"boot.img@512+700"}},
      {"pkg.tar.md5", tarMd5, true, {"boot.img@512+700"}},
      {"PKG.TAR.MD5", tarMd5, true, {"boot.img@512+700"}},
      // An MD5 package that is not a tar is opened, but nothing in it is sent.
      {"pkg.bin.md5", tarMd5, true, {}},
      {"md5", tarMd5, true, {}},
      // Neither a tar nor an MD5 package: the phone is refused, and the failure says why.
      {"AP.zip", tar, false, {}},
      {"AP.smd", tar, false, {}},
      {"AP.tar.gz", tar, false, {}},
  };
  for (const Case& c : cases) {
    test::WriteFile(dir / c.name, c.content);
    AnalysisRun run({{AP, dir / c.name}});
    EXPECT_EQ(run.Passed(), c.passes) << c.name;
    EXPECT_EQ(run.Listed(AP), c.listed) << c.name;
    EXPECT_EQ(run.Fails(),
              c.passes ? Strings{}
                       : Strings{std::string(c.name) + ": neither a .tar nor a .md5 package|1"})
        << c.name;
  }
}

TEST(FileAnalysis, APackageThatCannotBeOpenedFailsWithTheWalksLineNumber) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder.tar");
  test::WriteTar(dir / "AP.tar", {{"boot.img", "boot"}});
  const struct {
    std::string path;
    int line;
  } cases[] = {
      {dir / "missing.tar", 333},
      {dir / "folder.tar", 333},
      {dir / "missing.TAR.md5", 599},
  };
  for (const auto& c : cases) {
    AnalysisRun run({{BL, c.path}, {AP, dir / "AP.tar"}});
    EXPECT_FALSE(run.Passed()) << c.path;
    EXPECT_EQ(run.Fails(), Strings{CANT_OPEN + " (Line: " + std::to_string(c.line) + ")|1"})
        << c.path;
    EXPECT_EQ(run.Listed(AP), Strings{}) << "later slots are not read after a failure";
  }
}

TEST(FileAnalysis, ARefusedPackageIsNamedWithTheReasonAfterTheFailure) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder.tar");
  ASSERT_EQ(mkfifo((dir / "pipe.tar.md5").c_str(), 0600), 0);
  test::WriteTar(dir / "locked.tar", {{"boot.img", "boot"}});
  ASSERT_EQ(chmod((dir / "locked.tar").c_str(), 0), 0);
  const bool rootReadsAnyway = access((dir / "locked.tar").c_str(), R_OK) == 0;
  struct Case {
    std::string path;
    int line;
    std::string reason;
  };
  std::vector<Case> cases = {
      {dir / "missing.tar", 333, "no such file"},
      {dir / "folder.tar", 333, "a directory, not a file"},
      {dir / "pipe.tar.md5", 599, "a pipe, not a regular file"},
  };
  if (!rootReadsAnyway) cases.push_back({dir / "locked.tar", 333, "permission denied"});
  for (const Case& c : cases) {
    AnalysisRun run({{CSC, c.path}});
    EXPECT_FALSE(run.Passed()) << c.path;
    // The system's own failure text comes first and stays as it is; the log line after it
    // says which file and why.
    EXPECT_EQ(run.Fails(), Strings{CANT_OPEN + " (Line: " + std::to_string(c.line) + ")|1"});
    EXPECT_EQ(run.Logs(), (Strings{"File analysis..", c.path + ": " + c.reason})) << c.path;
  }
}

TEST(FileAnalysis, TheTrailerOfAnMd5PackageIsNeverReadAsAHeader) {
  TempDir dir;
  // A tar without end blocks: the walk stops where the tar part ends, before the trailer.
  WriteRawTar(dir / "AP_plain.tar", {HeaderBytes("boot.img", 5), Padded("boot!")});
  AnalysisRun whole({{AP, Md5Package(dir / "AP_plain.tar")}});
  EXPECT_TRUE(whole.Passed());
  EXPECT_EQ(whole.Listed(AP), Strings{"boot.img@512+5"});
  EXPECT_EQ(whole.Fails(), Strings{});

  // The package ends in the start of a header and the trailer completes its block: read as
  // one 512-byte block it would be a member "ghost.img" of 0 bytes. The tar part ends inside
  // a header: a package cut short.
  const std::string name = "AP_ghost.tar";
  const size_t trailerLength = Md5TrailerLength(name.size() + 4);
  const std::string ghost = HeaderBytes("ghost.img", 0).substr(0, 512 - trailerLength);
  WriteRawTar(dir / name, {HeaderBytes("boot.img", 5), Padded("boot!"), ghost});
  const std::string md5 = Md5Package(dir / name);
  ASSERT_EQ(test::ReadFile(md5).size() % 512, 0u);

  AnalysisRun asMd5({{AP, md5}});
  EXPECT_FALSE(asMd5.Passed());
  EXPECT_EQ(asMd5.Fails(),
            Strings{"AP_ghost.tar.md5: the package ends inside the tar header at offset 1024|1"});

  // The same bytes as a plain tar: the walk reaches the last block and takes the ghost.
  std::filesystem::copy_file(md5, dir / "AP_ghost.bin.tar");
  AnalysisRun asTar({{AP, dir / "AP_ghost.bin.tar"}});
  EXPECT_TRUE(asTar.Passed());
  EXPECT_EQ(asTar.Listed(AP), (Strings{"boot.img@512+5", "ghost.img@1536+0"}));
}

TEST(FileAnalysis, AMemberMayNotRunIntoTheMd5Trailer) {
  TempDir dir;
  const std::string name = "CP_long.tar";
  // The member's size covers its data and the whole trailer that follows it.
  const uint64_t size = 100 + Md5TrailerLength(name.size() + 4);
  WriteRawTar(dir / name, {HeaderBytes("modem.bin", size), std::string(100, 'm')});
  const std::string md5 = Md5Package(dir / name);
  AnalysisRun run({{CP, md5}});
  EXPECT_FALSE(run.Passed());
  EXPECT_EQ(run.Fails(),
            Strings{"CP_long.tar.md5: the member modem.bin at offset 0 runs past its end|1"});
}

TEST(FileAnalysis, TheMetaDataFolderIsMatchedCaseSensitively) {
  TempDir dir;
  test::WriteTar(dir / "AP.tar", {{"boot.img", "12345"},
                                  {"META-DATA/download-list.txt", "boot.img\n"},
                                  {"meta-data/notes.txt", TestBytes(600, 4)},
                                  {"firmware/meta-data\\fota.bin", TestBytes(10, 5)},
                                  {"Meta-Data/extra.bin", "abc"},
                                  {"metadata/x.bin", "xy"},
                                  {"meta-data/Download-List.txt", "boot.img\n"}});
  AnalysisRun run({{AP, dir / "AP.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.Listed(AP), (Strings{"boot.img@512+5", "META-DATA/download-list.txt@1536+9",
                                     "Meta-Data/extra.bin@5120+3", "metadata/x.bin@6144+2"}));
  EXPECT_EQ(run.Found().packageTotal, 5u + 9 + 3 + 2) << "meta-data members do not count";
  EXPECT_FALSE(run.ListText().has_value());
  EXPECT_EQ(run.Logs(), Strings{"File analysis.."}) << "no list, no filter";
}

TEST(FileAnalysis, TheDownloadListIsStoredAsItsBytes) {
  TempDir dir;
  const std::string list = "boot.img\r\nrecovery.img\r\n\r\n";
  test::WriteTar(dir / "CSC.tar", {{"boot.img", "b"},
                                   {"meta-data\\download-list.txt", "a.img\n"},
                                   {"recovery.img", "r"},
                                   {"meta-data/download-list.txt", list}});
  AnalysisRun run({{CSC, dir / "CSC.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.ListText(), list) << "the last list read wins";
  EXPECT_EQ(run.Listed(CSC), (Strings{"boot.img@512+1", "recovery.img@2560+1"}));
}

TEST(FileAnalysis, UfsHeaderAtTheRootIsDroppedButCounted) {
  TempDir dir;
  test::WriteTar(dir / "AP.tar", {{"UFS_Header.bin", TestBytes(100, 6)},
                                  {"boot.img", TestBytes(10, 7)},
                                  {"ufs_header.BIN", TestBytes(50, 8)},
                                  {"dir/UFS_Header.bin", TestBytes(30, 9)},
                                  {"UFS_Header.bin.bak", "z"}});
  AnalysisRun run({{AP, dir / "AP.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.Listed(AP), (Strings{"boot.img@1536+10", "dir/UFS_Header.bin@3584+30",
                                     "UFS_Header.bin.bak@4608+1"}));
  EXPECT_EQ(run.Found().packageTotal, 100u + 10 + 50 + 30 + 1);
  EXPECT_EQ(run.Logs(),
            (Strings{"File analysis..", "Ignore UFS_Header.bin", "Ignore UFS_Header.bin"}));
}

TEST(FileAnalysis, APackagePartitionTableTurnsRePartitionOn) {
  TempDir dir;
  const std::string table = TestBytes(1500, 10);
  test::WriteTar(dir / "BL.tar", {{"loader.bin", "s"}, {"old.pit", TestBytes(40, 11)}});
  test::WriteTar(dir / "CSC.tar", {{"csc.img", "c"}, {"HOME.PIT", table}, {"cache.img", "k"}});
  test::WriteTar(dir / "AP.tar", {{"boot.img", "b"}});

  AnalysisRun without({{AP, dir / "AP.tar"}});
  EXPECT_FALSE(without.Found().packagePit.present);
  EXPECT_FALSE(without.Found().rePartition);

  AnalysisRun run({{BL, dir / "BL.tar"}, {CSC, dir / "CSC.tar"}});
  EXPECT_TRUE(run.Passed());
  const PackagePit& pit = run.Found().packagePit;
  EXPECT_TRUE(pit.present);
  EXPECT_EQ(pit.path, dir / "CSC.tar") << "a later table replaces an earlier one";
  EXPECT_EQ(pit.offset, 1536u);
  EXPECT_EQ(pit.size, 1500u);
  EXPECT_TRUE(run.Found().rePartition);
  EXPECT_EQ(run.Listed(BL), Strings{"loader.bin@512+1"});
  EXPECT_EQ(run.Listed(CSC), (Strings{"csc.img@512+1", "cache.img@3584+1"}));
  EXPECT_EQ(run.Found().packageTotal, 3u) << "tables do not count";
}

TEST(FileAnalysis, SizeFieldsAreReadAsOctal) {
  const struct {
    std::string field;
    uint64_t size;
  } cases[] = {
      {std::string("00000001000\0", 12), 512},
      {"000000001000", 512},  // all twelve bytes, no NUL
      {std::string("1000\0", 5), 512},
      {std::string("00000000777\0", 12), 511},
      {std::string("\0", 1), 0},
      {std::string("00000002001\0", 12), 1025},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteRawTar(dir / "AP.tar",
                {HeaderWithSizeField("data.bin", c.field), Padded(std::string(c.size, 'd')),
                 HeaderBytes("tail.bin", 0), std::string(1024, '\0')});
    AnalysisRun run({{AP, dir / "AP.tar"}});
    EXPECT_TRUE(run.Passed()) << c.size;
    const std::string tail = "tail.bin@" + std::to_string(1024 + TarPaddedSize(c.size)) + "+0";
    EXPECT_EQ(run.Listed(AP), (Strings{"data.bin@512+" + std::to_string(c.size), tail}));
  }
}

TEST(FileAnalysis, HeadersThatCannotBeTrustedRefuseThePackage) {
  const std::string bigList(1048577, 'a');
  struct Case {
    const char* what;
    Strings pieces;
    std::string failure;
  };
  const Case cases[] = {
      {"a blank in the size",
       {HeaderWithSizeField("boot.img", std::string("0000000100 \0", 12)), Padded("x")},
       "AP.tar: the member boot.img has a damaged size field|1"},
      {"a leading blank",
       {HeaderWithSizeField("boot.img", std::string(" 0000001000\0", 12)), Padded("x")},
       "AP.tar: the member boot.img has a damaged size field|1"},
      {"an 8",
       {HeaderWithSizeField("boot.img", "00000001008"), Padded("x")},
       "AP.tar: the member boot.img has a damaged size field|1"},
      {"a base-256 size",
       {HeaderWithSizeField("boot.img", std::string("\x80\0\0\0\0\0\0\0\0\0\x02\0", 12)),
        Padded("x")},
       "AP.tar: the member boot.img has a damaged size field|1"},
      {"a damaged meta-data member",
       {HeaderWithSizeField("meta-data/fota.mf", "0000000x000"), Padded("x")},
       "AP.tar: the member meta-data/fota.mf has a damaged size field|1"},
      {"data past the end",
       {HeaderBytes("system.img", 4096), Padded("x")},
       "AP.tar: the member system.img at offset 1024 runs past its end|1"},
      {"a table past the end",
       {HeaderBytes("part.pit", 1024), Padded("x")},
       "AP.tar: the member part.pit at offset 1024 runs past its end|1"},
      {"a list past the end",
       {HeaderBytes("meta-data/download-list.txt", 600), Padded("x")},
       "AP.tar: the member meta-data/download-list.txt at offset 1024 runs past its end|1"},
      {"a meta-data member past the end",
       {HeaderBytes("meta-data/fota.mf", 5000), Padded("x"), HeaderBytes("late.img", 1)},
       "AP.tar: the member meta-data/fota.mf at offset 1024 runs past its end|1"},
      {"a directory past the end",
       {test::HeaderOfType("firmware/", 0, '5'), HeaderBytes("x.img", 4000), Padded("x")},
       "AP.tar: the member x.img at offset 1536 runs past its end|1"},
      {"padding cut off",
       {HeaderBytes("last.img", 3), "abc"},
       "AP.tar: the member last.img at offset 1024 runs past its end|1"},
      {"a header cut short",
       {HeaderBytes("second.img", 1).substr(0, 300)},
       "AP.tar: the package ends inside the tar header at offset 1024|1"},
      {"one byte of a header",
       {std::string(1, 'b')},
       "AP.tar: the package ends inside the tar header at offset 1024|1"},
      {"a list above 1 MiB",
       {HeaderBytes("meta-data/download-list.txt", bigList.size()), Padded(bigList)},
       "AP.tar: the download list meta-data/download-list.txt is damaged|1"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Strings pieces = {HeaderBytes("first.img", 3), Padded("abc")};
    pieces.insert(pieces.end(), c.pieces.begin(), c.pieces.end());
    WriteRawTar(dir / "AP.tar", pieces);
    AnalysisRun run({{AP, dir / "AP.tar"}});
    EXPECT_FALSE(run.Passed()) << c.what;
    EXPECT_EQ(run.Fails(), Strings{c.failure}) << c.what;
  }
}

TEST(FileAnalysis, MemberNamesAbove31CharactersRefuseThePackage) {
  const std::string name31 = "firmware/" + std::string(18, 'n') + ".img";
  const std::string name32 = "firmware/" + std::string(19, 'n') + ".img";
  ASSERT_EQ(name31.size(), 31u);
  ASSERT_EQ(name32.size(), 32u);
  const std::string name99 = std::string(95, 'z') + ".img";
  struct Case {
    std::string name;
    bool passes;
    std::string failure;
  };
  const Case cases[] = {
      {name31, true, ""},
      {name32, false, "CP.tar: the member name " + name32 + " is longer than 31 characters|1"},
      {name99, false, "CP.tar: the member name " + name99},
      // Tables and meta-data members never become entries: their names may be longer.
      {"partitions/" + std::string(30, 'p') + ".pit", true, ""},
      {"meta-data/" + std::string(30, 'm') + ".txt", true, ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    test::WriteTar(dir / "CP.tar", {{"modem.bin", "m"}, {c.name, "data"}});
    AnalysisRun run({{CP, dir / "CP.tar"}});
    EXPECT_EQ(run.Passed(), c.passes) << c.name;
    const Strings fails = run.Fails();
    if (c.passes) {
      EXPECT_EQ(fails, Strings{}) << c.name;
    } else {
      ASSERT_EQ(fails.size(), 1u) << c.name;
      EXPECT_EQ(fails[0].substr(0, c.failure.size()), c.failure);
    }
  }
  TempDir dir;
  test::WriteTar(dir / "CP.tar", {{name31, "data"}});
  AnalysisRun run({{CP, dir / "CP.tar"}});
  ASSERT_EQ(run.Members(CP).size(), 1u);
  EXPECT_STREQ(run.Members(CP)[0]->fileName, name31.c_str());
}

TEST(FileAnalysis, SizesAndOffsetsAbove4GiBAreKeptWhole) {
  TempDir dir;
  const uint64_t big = (uint64_t{1} << 33) + 1;  // needs all twelve digits
  const uint64_t tailHeader = 1536 + TarPaddedSize(big);
  test::WriteSparseFile(dir / "AP.tar", tailHeader + 2048,
                        {{0, HeaderBytes("first.bin", 1)},
                         {512, "1"},
                         {1024, HeaderBytes("system.img", big)},
                         {tailHeader, HeaderBytes("tail.bin", 3) + "abc"}});
  AnalysisRun run({{AP, dir / "AP.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.Listed(AP), (Strings{"first.bin@512+1", "system.img@1536+" + std::to_string(big),
                                     "tail.bin@" + std::to_string(tailHeader + 512) + "+3"}));
  EXPECT_EQ(run.Found().packageTotal, big + 4);

  // A partition table travels with a 32-bit size.
  const uint64_t hugeTable = uint64_t{1} << 32;
  test::WriteSparseFile(dir / "BL.tar", 1024 + hugeTable, {{0, HeaderBytes("big.pit", hugeTable)}});
  AnalysisRun table({{BL, dir / "BL.tar"}});
  EXPECT_FALSE(table.Passed());
  EXPECT_EQ(table.Fails(), Strings{"BL.tar: the table big.pit is too large|1"});
}

TEST(FileAnalysis, TheMetaDataVerdictCoversEveryChosenPackage) {
  TempDir dir;
  const std::vector<TarEntry> members = {{"boot.img", "boot image"}};
  test::WriteSignedPackage(dir / "BL_a.tar", members, "SM-T100");
  test::WriteSignedPackage(dir / "AP_a.tar", {{"system.img", "system"}}, "SM-T100");
  test::WriteSignedPackage(dir / "CP_b.tar", members, "SM-T200");
  test::WriteTar(dir / "CSC_plain.tar", members);
  const std::string bl = dir / "BL_a.tar", ap = dir / "AP_a.tar", cp = dir / "CP_b.tar",
                    csc = dir / "CSC_plain.tar";
  struct Case {
    const char* what;
    std::map<int, std::string> packages;
    bool valid;
    std::string model;
  };
  const Case cases[] = {
      {"no package at all", {}, false, ""},
      {"two packages of one model", {{BL, bl}, {AP, ap}}, true, "SM-T100"},
      {"a plain tar after a signed one", {{BL, bl}, {CSC, csc}}, false, "SM-T100"},
      // Once one fails the later ones are not checked, so no model is learnt.
      {"a plain tar before a signed one", {{BL, csc}, {AP, ap}}, false, ""},
      {"two models", {{BL, bl}, {CP, cp}}, false, "SM-T100"},
  };
  for (const Case& c : cases) {
    AnalysisRun run(c.packages);
    EXPECT_TRUE(run.Passed()) << c.what << ": the verdict never fails the step";
    EXPECT_EQ(run.Found().metaDataValid, c.valid) << c.what;
    EXPECT_EQ(run.Found().packageModel, c.model) << c.what;
  }
}

TEST(FileAnalysis, HeadersTheMetaDataCheckReadServeOnlyTheirOwnPackage) {
  // The analysis takes the header blocks its meta-data check already read; a package the check
  // skipped (after an earlier one failed) must still be walked from its own bytes.
  TempDir dir;
  test::WriteSignedPackage(dir / "BL.tar", {{"loader.bin", std::string(700, 's')}, {"p.bin", "p"}},
                           "SM-T100");
  test::WriteTar(dir / "AP.tar", {{"boot.img", std::string(1500, 'b')}, {"x.img", "x"}});
  test::WriteSignedPackage(dir / "CSC.tar",
                           {{"cache.img", "c"}, {"omr.img", std::string(3000, 'o')}}, "SM-T100");
  const std::map<int, std::string> all = {
      {BL, dir / "BL.tar"}, {AP, dir / "AP.tar"}, {CSC, dir / "CSC.tar"}};
  AnalysisRun together(all);
  ASSERT_TRUE(together.Passed());
  EXPECT_FALSE(together.Found().metaDataValid);
  for (const auto& [slot, path] : all) {
    AnalysisRun alone({{slot, path}});
    EXPECT_EQ(together.Listed(slot), alone.Listed(slot)) << SLOT_NAMES[slot];
    EXPECT_FALSE(alone.Listed(slot).empty());
  }
}

TEST(FileAnalysis, OneClickSlotsAreWalkedByTheirType) {
  TempDir dir;
  test::WriteTar(dir / "ap.tar", {{"UFS_Header.bin", TestBytes(20, 12)},
                                  {"boot.img", TestBytes(600, 13)},
                                  {"apps.pit", TestBytes(300, 14)}});
  const std::string modem = TestBytes(5000, 15);
  const std::string deflated = test::DeflatedMember("modem.bin", modem) + std::string(1024, '\0');
  const size_t modemPacked = deflated.size() - 1024 - 512;  // padded; the size field is exact

  OneClickByHand program;
  const uint32_t ap = program.AddSlot(AP, test::ReadFile(dir / "ap.tar"), ONECLICK_TAR);
  const uint32_t cp = program.AddSlot(CP, deflated, ONECLICK_TAR_DEFLATED);
  program.Write(dir / "oneclick");

  AnalysisRun run({{BL, dir / "ignored.zip"}}, dir / "oneclick");
  ASSERT_TRUE(run.Found().oneClick);
  EXPECT_TRUE(run.Passed());
  // In a One Click program UFS_Header.bin is sent like any member.
  EXPECT_EQ(run.Listed(AP), (Strings{"UFS_Header.bin@" + std::to_string(ap + 512) + "+20",
                                     "boot.img@" + std::to_string(ap + 1536) + "+600"}));
  ASSERT_EQ(run.Members(CP).size(), 1u);
  const DownloadEntry& m = *run.Members(CP)[0];
  EXPECT_EQ(m.dataOffset, cp + 512u);
  EXPECT_EQ(TarPaddedSize(m.size), modemPacked);
  EXPECT_EQ(m.inflatedSize, modem.size());
  EXPECT_EQ(run.Found().packageTotal, 20u + 600 + modem.size()) << "inflated sizes count";
  Strings chosen;
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    if (run.Found().slots[slot].chosen) chosen.push_back(SLOT_NAMES[slot]);
  }
  EXPECT_EQ(chosen, (Strings{"AP", "CP"}));
  // The table member found is the one uploaded (see the One Click upload below).
  EXPECT_EQ(run.Found().packagePit.offset, ap + 3072);
  EXPECT_EQ(run.Found().packagePit.size, 300u);
  EXPECT_EQ(run.Found().packagePit.path, dir / "oneclick");
  EXPECT_TRUE(run.Found().rePartition);
}

// The table is uploaded from where analysis found it in the program, whatever the program's own
// table words and re-partition flag said.
TEST(FileAnalysis, AOneClickSlotsTableIsTheOneUploaded) {
  TempDir dir;
  PitTable table = devsim::BuiltinPitTable();
  table.entries.push_back(table.entries[2]);
  table.entries.back().SetPartitionName("EXTRA");
  const std::vector<uint8_t> pit = EncodePitTable(table);
  test::WriteSignedPackage(
      dir / "AP.tar", {{"boot.img", "boot"}, {"apps.pit", std::string(pit.begin(), pit.end())}},
      "MIRK3-DEMO_EUR");
  OneClickByHand program;
  program.AddSlot(AP, test::ReadFile(dir / "AP.tar"), ONECLICK_TAR);
  program.Write(dir / "oneclick");

  devsim::FarmConfig config;
  config.portDir = dir / "ports";
  config.ports = {2};
  std::filesystem::create_directories(config.portDir);
  devsim::PhoneFarm farm(config);
  std::string error;
  ASSERT_TRUE(farm.Start(&error)) << error;
  EngineContext context;
  context.timing = test::QuickTiming();
  context.portDir = config.portDir;
  context.ownExecutablePath = dir / "oneclick";
  const test::RunResult run = test::RunStation({2}, DownloadOptions{}, context);
  EXPECT_EQ(run.succeeded, 1) << ::testing::PrintToString(run.log);
  EXPECT_EQ(farm.Pit(2), pit);
}

// No NUL ends such a name: the end of its field does. A table may carry one; a member to send
// may not, its name being longer than 31 characters.
TEST(FileAnalysis, ANameThatFillsItsWholeFieldIsReadWhole) {
  const std::string table = std::string(96, 't') + ".pit", member = std::string(96, 'm') + ".img";
  ASSERT_NE(HeaderBytes(table, 3)[TAR_NAME_SIZE - 1], '\0');
  TempDir dir;
  WriteRawTar(dir / "AP.tar", {HeaderBytes(table, 3), Padded("pit"), std::string(1024, '\0')});
  AnalysisRun run({{AP, dir / "AP.tar"}});
  EXPECT_TRUE(run.Passed()) << ::testing::PrintToString(run.Fails());
  EXPECT_EQ(run.Found().packagePit.offset, 512u);
  EXPECT_EQ(run.Found().packagePit.size, 3u);

  WriteRawTar(dir / "BL.tar", {HeaderBytes(member, 1), Padded("m"), std::string(1024, '\0')});
  AnalysisRun sent({{BL, dir / "BL.tar"}});
  ASSERT_EQ(sent.Fails().size(), 1u);
  EXPECT_TRUE(sent.Fails()[0].starts_with("BL.tar: the member name " + member)) << sent.Fails()[0];
}

TEST(FileAnalysis, AOneClickSlotOfUnknownTypeRefusesTheProgram) {
  TempDir dir;
  test::WriteTar(dir / "ap.tar", {{"boot.img", "boot"}});
  OneClickByHand program;
  program.AddSlot(BL, test::ReadFile(dir / "ap.tar"), ONECLICK_TAR);
  program.AddSlot(AP, test::ReadFile(dir / "ap.tar"), 2);
  program.Write(dir / "oneclick");
  AnalysisRun run({}, dir / "oneclick");
  EXPECT_FALSE(run.Passed());
  EXPECT_EQ(run.Fails(), Strings{"oneclick: the AP slot has the unknown type 2|1"});
}

// A One Click program of `bytes` whose trailer says whatever `trailer` says.
void WriteProgram(const std::string& path, const std::string& bytes, OneClickTrailer trailer) {
  trailer.title = u"Mirk3 One Click Download";
  const auto encoded = trailer.Encode();
  test::WriteFile(path, bytes + std::string(encoded.begin(), encoded.end()));
}

TEST(FileAnalysis, AOneClickSlotMustLieWhollyBeforeTheTrailer) {
  TempDir dir;
  const std::string tar = HeaderBytes("boot.img", 3) + Padded("abc") + std::string(1024, '\0');
  const std::string program = std::string(3000, 'p') + tar;  // slot at 3000, packages end at 5048
  const struct {
    const char* what;
    uint32_t offset;
    uint32_t length;
    std::string failure;  // empty: the slot is read
  } cases[] = {
      {"exactly up to the trailer", 3000, 2048, ""},
      {"a slot past the program's end", 3000, 200000,
       "oneclick: the AP slot (200000 bytes at offset 3000) does not lie within the program's "
       "5048 bytes of packages|1"},
      {"a slot over the trailer", 3000, 2049,
       "oneclick: the AP slot (2049 bytes at offset 3000) does not lie within the program's "
       "5048 bytes of packages|1"},
      {"a slot wholly inside the trailer", 5100, 100,
       "oneclick: the AP slot (100 bytes at offset 5100) does not lie within the program's "
       "5048 bytes of packages|1"},
      {"a slot wholly past the program", 90000, 1536,
       "oneclick: the AP slot (1536 bytes at offset 90000) does not lie within the program's "
       "5048 bytes of packages|1"},
      {"offset and length past 32 bits together", 0xFFFFFF00u, 0x200,
       "oneclick: the AP slot (512 bytes at offset 4294967040) does not lie within the "
       "program's 5048 bytes of packages|1"},
  };
  for (const auto& c : cases) {
    OneClickTrailer trailer;
    trailer.slots[AP] = {c.offset, c.length, ONECLICK_TAR};
    WriteProgram(dir / "oneclick", program, trailer);
    AnalysisRun run({}, dir / "oneclick");
    ASSERT_TRUE(run.Found().oneClick) << c.what;
    if (c.failure.empty()) {
      EXPECT_TRUE(run.Passed()) << c.what;
      EXPECT_EQ(run.Listed(AP), Strings{"boot.img@3512+3"}) << c.what;
    } else {
      EXPECT_FALSE(run.Passed()) << c.what << ": nothing to send is not a pass";
      EXPECT_EQ(run.Fails(), Strings{c.failure}) << c.what;
    }
  }
}

TEST(FileAnalysis, AOneClickSlotIsReadWithinItsOwnBytes) {
  TempDir dir;
  // The AP slot's tar has no end blocks: its walk ends where the slot ends, not in BL's
  // bytes after it.
  const std::string ap = HeaderBytes("boot.img", 3) + Padded("abc");
  const std::string after = HeaderBytes("loader.bin", 2) + Padded("lo") + std::string(1024, '\0');
  OneClickTrailer trailer;
  trailer.slots[AP] = {100, static_cast<uint32_t>(ap.size()), ONECLICK_TAR};
  trailer.slots[BL] = {static_cast<uint32_t>(100 + ap.size()), static_cast<uint32_t>(after.size()),
                       ONECLICK_TAR};
  WriteProgram(dir / "oneclick", std::string(100, 'p') + ap + after, trailer);
  AnalysisRun run({}, dir / "oneclick");
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.Listed(AP), Strings{"boot.img@612+3"});
  EXPECT_EQ(run.Listed(BL), Strings{"loader.bin@1636+2"});

  // A slot that ends inside a header is cut short, and says which slot.
  trailer.slots[AP].length = static_cast<uint32_t>(ap.size() + 100);
  WriteProgram(dir / "oneclick", std::string(100, 'p') + ap + after, trailer);
  AnalysisRun cut({}, dir / "oneclick");
  EXPECT_FALSE(cut.Passed());
  EXPECT_EQ(cut.Fails(),
            Strings{"oneclick: AP slot: the package ends inside the tar header at offset 1124|1"});
}

TEST(FileAnalysis, AOneClickMd5SlotIsWalkedWithoutItsTrailer) {
  TempDir dir;
  // A tar without end blocks, then its MD5 trailer line: the trailer is never a header.
  WriteRawTar(dir / "CSC_home.tar", {HeaderBytes("cache.img", 5), Padded("cache")});
  const std::string md5 = test::ReadFile(Md5Package(dir / "CSC_home.tar"));
  ASSERT_NE(md5.size() % TAR_BLOCK_SIZE, 0u);
  OneClickByHand program;
  const uint32_t csc = program.AddSlot(CSC, md5, ONECLICK_TAR_MD5);
  program.Write(dir / "oneclick");
  AnalysisRun run({}, dir / "oneclick");
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.Listed(CSC), Strings{"cache.img@" + std::to_string(csc + 512) + "+5"});
  EXPECT_EQ(run.Fails(), Strings{});
}

TEST(FileAnalysis, OneClickMetaDataIsCheckedWithinItsSlot) {
  TempDir dir;
  test::WriteSignedPackage(dir / "CSC.tar", {{"cache.img", "cache"}}, "SM-OC1");
  const std::string signedTar = test::ReadFile(dir / "CSC.tar");
  // An unsigned AP slot without end blocks, right before a signed CSC slot: a search for a
  // list that ran on to the program's end would find CSC's and call AP verified.
  const std::string unsignedTar = HeaderBytes("boot.img", 4) + Padded("boot");
  for (const bool apFirst : {true, false}) {
    OneClickByHand program;
    if (apFirst) program.AddSlot(AP, unsignedTar, ONECLICK_TAR);
    program.AddSlot(CSC, signedTar, ONECLICK_TAR);
    program.Write(dir / "oneclick");
    AnalysisRun run({}, dir / "oneclick");
    EXPECT_TRUE(run.Passed()) << apFirst;
    EXPECT_EQ(run.Found().metaDataValid, !apFirst) << apFirst;
    EXPECT_EQ(run.Found().packageModel, apFirst ? "" : "SM-OC1") << apFirst;
  }
  // A signed type-3 slot verifies, its MD5 trailer left out of the walk.
  const std::string md5 = test::ReadFile(Md5Package(dir / "CSC.tar"));
  OneClickByHand program;
  program.AddSlot(CSC, md5, ONECLICK_TAR_MD5);
  program.Write(dir / "oneclick");
  AnalysisRun run({}, dir / "oneclick");
  EXPECT_TRUE(run.Passed());
  EXPECT_TRUE(run.Found().metaDataValid);
}

TEST(FileAnalysis, SlotIndexesOutsideTheFiveSlotsGiveFalse) {
  TempDir dir;
  test::WriteTar(dir / "AP.tar", {{"boot.img", "boot"}});
  OneClickByHand by;
  by.AddSlot(AP, test::ReadFile(dir / "AP.tar"), ONECLICK_TAR);
  const std::string program = dir / "oneclick", package = dir / "AP.tar";
  by.Write(program);
  const std::string bytes = test::ReadFile(program);
  const OneClickTrailer trailer = OneClickTrailer::Parse(
      reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - ONECLICK_TRAILER_SIZE);
  const Result<OpenedFile> opened = OpenRegularFile(program);
  ASSERT_TRUE(opened);
  DownloadOptions options;
  const EngineContext context;
  test::RecordingSink programSink, fileSink;
  ReportChannel programReports(&programSink, 0), fileReports(&fileSink, 0);
  FileAnalyser oneClick(ChosenPackages{options, &trailer, program, BorrowedFd(opened->fd)}, context,
                        programReports);
  FileAnalyser fileMode(ChosenPackages{options, nullptr, program, BorrowedFd()}, context, fileReports);
  EntryList walked;
  ASSERT_TRUE(oneClick.ScanTarPackage(program, walked, AP));
  ASSERT_TRUE(fileMode.ScanTarPackage(package, walked, -1));
  ASSERT_EQ(walked.size(), 2u);
  for (const int slot : {-2, -1, 5, 1000, INT32_MIN, INT32_MAX}) {
    EntryList list;
    EXPECT_FALSE(oneClick.ScanTarPackage(program, list, slot)) << slot;
    EXPECT_FALSE(oneClick.ScanTarMd5Package(program, list, slot)) << slot;
    EXPECT_FALSE(oneClick.ScanDeflatedTarPackage(program, list, slot)) << slot;
    EXPECT_TRUE(list.empty()) << slot;
    if (slot == -1) continue;  // file mode's own index
    EXPECT_FALSE(fileMode.ScanTarPackage(package, list, slot)) << slot;
    EXPECT_FALSE(fileMode.ScanTarMd5Package(package, list, slot)) << slot;
    EXPECT_TRUE(list.empty()) << slot;
  }
  EXPECT_EQ(programSink.Of(WM_DL_FAIL).back(), "oneclick: there is no slot 2147483647|1");
  EXPECT_EQ(fileSink.Of(WM_DL_FAIL).back(), "AP.tar: there is no slot 2147483647|1");
}

TEST(FileAnalysis, EntriesThatAreNotRegularFilesAreSkippedWithALogLine) {
  TempDir dir;
  const std::string times = test::PaxRecord("mtime", "1796776571.343516592") +
                            test::PaxRecord("atime", "1796776571.351516592") +
                            test::PaxRecord("ctime", "1796776571.343516592") +
                            test::PaxRecord("uid", "0") + test::PaxRecord("uname", "root") +
                            test::PaxRecord("linkpath", "elsewhere") +
                            test::PaxRecord("SCHILY.xattr.user.x", "y");
  using test::HeaderOfType;
  WriteRawTar(dir / "AP.tar",
              {HeaderOfType("firmware/", 0, '5'),
               test::PaxEntry("PaxHeaders/boot.img", times),
               HeaderBytes("boot.img", 4),
               Padded("boot"),
               HeaderOfType("boot-again.img", 0, '1'),
               HeaderOfType("boot-link.img", 0, '2'),
               HeaderOfType("console", 0, '3'),
               HeaderOfType("disk", 0, '4'),
               HeaderOfType("fifo", 0, '6'),
               test::PaxEntry("GlobalHead.0", test::PaxRecord("comment", "by hand"), 'g'),
               HeaderOfType("old-dir/", 0, '0'),
               HeaderOfType("contiguous.img", 3, '7'),
               Padded("abc"),
               HeaderOfType("nul-type.img", 2, '\0'),
               Padded("ab"),
               HeaderOfType("meta-data/", 0, '5'),
               HeaderOfType("meta-data/download-list.txt", 0, '2'),
               HeaderOfType("list.pit", 0, '2'),
               HeaderOfType("dump/", 0, 'D'),
               HeaderOfType("VOLUME", 0, 'V'),
               std::string(1024, '\0')});
  AnalysisRun run({{AP, dir / "AP.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.Fails(), Strings{});
  EXPECT_EQ(run.Listed(AP),
            (Strings{"boot.img@2048+4", "contiguous.img@7168+3", "nul-type.img@8192+2"}));
  EXPECT_EQ(run.Found().packageTotal, 9u);
  EXPECT_FALSE(run.ListText().has_value()) << "a link is not a list";
  EXPECT_FALSE(run.Found().packagePit.present) << "a link is not a table";
  EXPECT_EQ(
      run.Logs(),
      (Strings{"File analysis..", "Skip directory firmware/",
               "Skip pax extended header PaxHeaders/boot.img", "Skip hard link boot-again.img",
               "Skip symbolic link boot-link.img", "Skip character device console",
               "Skip block device disk", "Skip FIFO fifo", "Skip pax global header GlobalHead.0",
               "Skip directory old-dir/", "Skip directory meta-data/",
               "Skip symbolic link meta-data/download-list.txt", "Skip symbolic link list.pit",
               "Skip directory dump/", "Skip volume label VOLUME"}));
}

TEST(FileAnalysis, EntriesThatChangeTheNextMembersNameOrSizeRefuseThePackage) {
  using test::HeaderOfType;
  using test::PaxEntry;
  using test::PaxRecord;
  auto prefixed = [] {
    auto block = pack::MakeTarHeader("boot.img", 1);
    std::memcpy(block.data() + TAR_PREFIX_OFFSET, "firmware/images", 15);
    pack::SealTarHeader(block);
    return std::string(reinterpret_cast<const char*>(block.data()), block.size()) + Padded("b");
  };
  auto oldGnuWithFieldsAt345 = [] {
    auto block = pack::MakeTarHeader("boot.img", 1);
    std::memcpy(block.data() + TAR_MAGIC_OFFSET, "ustar  \0", 8);
    std::memcpy(block.data() + TAR_PREFIX_OFFSET, "14715040000", 11);  // an access time
    pack::SealTarHeader(block);
    return std::string(reinterpret_cast<const char*>(block.data()), block.size()) + Padded("b");
  };
  const std::string SUFFIX = "; the station reads only ustar names and sizes";
  struct Case {
    const char* what;
    Strings pieces;
    std::string failure;  // empty: the package is read
  };
  const Case cases[] = {
      {"a pax path",
       {PaxEntry("PaxHeaders/long.img", PaxRecord("path", "firmware/long.img"))},
       "AP.tar: the pax extended header PaxHeaders/long.img sets a member's path" + SUFFIX},
      {"a pax size among times",
       {PaxEntry("PaxHeaders/big.img", PaxRecord("mtime", "1") + PaxRecord("size", "9999999999"))},
       "AP.tar: the pax extended header PaxHeaders/big.img sets a member's size" + SUFFIX},
      {"a global path",
       {PaxEntry("GlobalHead", PaxRecord("path", "x.img"), 'g')},
       "AP.tar: the pax global header GlobalHead sets a member's path" + SUFFIX},
      {"a sparse file in pax",
       {PaxEntry("PaxHeaders/s.img", PaxRecord("GNU.sparse.major", "1"))},
       "AP.tar: the pax extended header PaxHeaders/s.img describes a sparse file"},
      {"damaged records",
       {PaxEntry("PaxHeaders/d.img", "12 mtime=1\n")},
       "AP.tar: the pax extended header PaxHeaders/d.img is damaged"},
      {"records without a line feed",
       {PaxEntry("PaxHeaders/d.img", "11 mtime=1x")},
       "AP.tar: the pax extended header PaxHeaders/d.img is damaged"},
      {"records too large to check",
       {PaxEntry("PaxHeaders/huge.img", PaxRecord("comment", std::string(70000, 'c')))},
       "AP.tar: the pax extended header PaxHeaders/huge.img is too large to check"},
      {"a GNU long name",
       {HeaderOfType("././@LongLink", 20, 'L'), Padded("firmware/long.img")},
       "AP.tar: the member ././@LongLink is a GNU long name, which sets the next member's name: "
       "the station reads only ustar names"},
      {"a GNU long link name",
       {HeaderOfType("././@LongLink", 20, 'K'), Padded("firmware/long.img")},
       "AP.tar: the member ././@LongLink is a GNU long link name, which sets the next entry's "
       "name: the station reads only ustar names"},
      {"a GNU sparse file",
       {HeaderOfType("sparse.img", 0, 'S')},
       "AP.tar: the member sparse.img is a GNU sparse file, whose data are not stored as they "
       "are sent"},
      {"an unknown type",
       {HeaderOfType("what.img", 0, 'Q')},
       "AP.tar: the member what.img has the tar type 'Q', which the station does not know"},
      {"a name in the ustar prefix",
       {prefixed()},
       "AP.tar: the member boot.img keeps part of its name in the ustar prefix, which the station "
       "never reads"},
      {"the old GNU form keeps times where ustar has its prefix", {oldGnuWithFieldsAt345()}, ""},
  };
  for (const Case& c : cases) {
    TempDir dir;
    Strings pieces = {HeaderBytes("first.img", 3), Padded("abc")};
    pieces.insert(pieces.end(), c.pieces.begin(), c.pieces.end());
    pieces.push_back(HeaderBytes("next.img", 1) + Padded("n") + std::string(1024, '\0'));
    WriteRawTar(dir / "AP.tar", pieces);
    AnalysisRun run({{AP, dir / "AP.tar"}});
    EXPECT_EQ(run.Passed(), c.failure.empty()) << c.what;
    if (c.failure.empty()) {
      EXPECT_EQ(run.Fails(), Strings{}) << c.what;
    } else {
      EXPECT_EQ(run.Fails(), Strings{TruncateChars(c.failure, REPORT_TEXT_CHARS) + "|1"}) << c.what;
    }
  }
}

TEST(FileAnalysis, APackageThatIsAPipeFailsAtOnce) {
  TempDir dir;
  ASSERT_EQ(mkfifo((dir / "AP.tar").c_str(), 0600), 0);
  // Analysed in a child process, so that a walk that waits for a writer cannot hang the test.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    AnalysisRun run({{AP, dir / "AP.tar"}});
    const Strings expected = {CANT_OPEN + " (Line: 333)|1"};
    _exit(!run.Passed() && run.Fails() == expected ? 0 : 1);
  }
  int status = 0;
  pid_t done = 0;
  for (int waited = 0; waited < 600 && done == 0; ++waited) {
    done = waitpid(child, &status, WNOHANG);
    if (done == 0) usleep(100000);
  }
  if (done == 0) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the analysis still waits on the pipe after a minute";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the pipe is not refused with the open failure";
}

bool HaveSystemTar() { return std::system("tar --version >/dev/null 2>&1") == 0; }

TEST(FileAnalysis, ArchivesOfTheSystemTarReadLikeOurOwn) {
  if (!HaveSystemTar()) GTEST_SKIP() << "no tar on this machine";
  TempDir dir;
  const std::vector<TarEntry> members = {{"empty.bin", ""},
                                         {"boot.img", TestBytes(512, 16)},
                                         {"recovery.img", TestBytes(513, 17)},
                                         {"dir/UFS_Header.bin", TestBytes(77, 18)},
                                         {"UFS_Header.bin", TestBytes(33, 19)},
                                         {"firmware/a-name-of-31-chars.img", TestBytes(5, 20)},
                                         {"meta-data/download-list.txt",
                                          "boot.img\nrecovery.img\nempty.bin\n"
                                          "dir/UFS_Header.bin\nfirmware/a-name-of-31-chars.img\n"},
                                         {"csc.pit", TestBytes(1000, 21)}};
  std::filesystem::create_directories(dir / "files/dir");
  std::filesystem::create_directories(dir / "files/firmware");
  std::filesystem::create_directories(dir / "files/meta-data");
  std::string names;
  for (const TarEntry& m : members) {
    test::WriteFile(dir / ("files/" + m.name), m.data);
    names += " '" + m.name + "'";
  }
  test::WriteTar(dir / "own.tar", members);
  AnalysisRun own({{CSC, dir / "own.tar"}});
  ASSERT_TRUE(own.Passed());
  ASSERT_EQ(own.Listed(CSC).size(), 5u);

  for (const char* format : {"gnu", "ustar", "pax"}) {
    const std::string tar = dir / (std::string(format) + ".tar");
    const std::string command = "tar --format=" + std::string(format) + " -C '" + (dir / "files") +
                                "' -cf '" + tar + "'" + names;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    AnalysisRun run({{CSC, tar}});
    EXPECT_TRUE(run.Passed()) << format << ::testing::PrintToString(run.Fails());
    // A pax archive puts an extended header (times only) before every member: each is passed
    // over with a log line, and the members are found after them.
    Strings logs, paxSkips;
    for (const std::string& line : run.Logs()) {
      (line.starts_with("Skip pax extended header ") ? paxSkips : logs).push_back(line);
    }
    EXPECT_EQ(paxSkips.empty(), std::string(format) != "pax") << format;
    const Strings listed = run.Listed(CSC);
    if (std::string(format) == "pax") {
      const Strings ours = own.Listed(CSC);
      ASSERT_EQ(listed.size(), ours.size());
      for (size_t i = 0; i < listed.size(); ++i) {
        // Same names and sizes; the offsets move by the pax headers before them.
        const std::string& mine = ours[i];
        EXPECT_EQ(listed[i].substr(0, listed[i].find('@')), mine.substr(0, mine.find('@')));
        EXPECT_EQ(listed[i].substr(listed[i].find('+')), mine.substr(mine.find('+')));
      }
    } else {
      EXPECT_EQ(listed, own.Listed(CSC)) << format;
      EXPECT_EQ(run.Found().packagePit.offset, own.Found().packagePit.offset);
    }
    EXPECT_EQ(run.Found().packageTotal, own.Found().packageTotal) << format;
    EXPECT_EQ(run.ListText(), own.ListText()) << format;
    EXPECT_EQ(logs, own.Logs()) << format;
  }
}

TEST(FileAnalysis, TheSystemTarsFoldersLinksAndLongNames) {
  if (!HaveSystemTar()) GTEST_SKIP() << "no tar on this machine";
  TempDir dir;
  const std::string files = dir / "files";
  std::filesystem::create_directories(files + "/meta-data");
  test::WriteFile(files + "/boot.img", "boot image");
  test::WriteFile(files + "/meta-data/download-list.txt", "boot.img\n");
  std::filesystem::create_symlink("boot.img", files + "/link.img");
  std::filesystem::create_hard_link(files + "/boot.img", files + "/hard.img");
  const std::string longDir = std::string(70, 'd'), longName = std::string(50, 'n') + ".img";
  std::filesystem::create_directories(files + "/" + longDir);
  test::WriteFile(files + "/" + longDir + "/" + longName, "x");

  int made = 0;
  auto makeTar = [&](const std::string& format, const std::string& members) {
    const std::string tar = dir / (format + "-" + std::to_string(++made) + ".tar");
    const std::string command =
        "tar --format=" + format + " -C '" + files + "' -cf '" + tar + "' " + members;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return tar;
  };
  for (const std::string format : {"gnu", "ustar", "pax"}) {
    // Folders and links are passed over, each with a log line.
    AnalysisRun tree({{AP, makeTar(format, "meta-data boot.img link.img hard.img")}});
    EXPECT_TRUE(tree.Passed()) << format << ::testing::PrintToString(tree.Fails());
    Strings listed;
    for (const auto& entry : tree.Members(AP)) listed.push_back(entry->fileName);
    EXPECT_EQ(listed, Strings{"boot.img"}) << format;
    Strings skips;
    for (const std::string& line : tree.Logs()) {
      if (line.starts_with("Skip ") && !line.starts_with("Skip pax")) skips.push_back(line);
    }
    EXPECT_EQ(skips, (Strings{"Skip directory meta-data/", "Skip symbolic link link.img",
                              "Skip hard link hard.img"}))
        << format;

    // A name longer than the ustar name field: a pax path, a GNU long name, or a ustar prefix.
    AnalysisRun longer({{AP, makeTar(format, longDir)}});
    EXPECT_FALSE(longer.Passed()) << format;
    const std::string expected = format == "gnu" ? "the member ././@LongLink is a GNU long name"
                                 : format == "pax"
                                     ? "the pax extended header " + longDir + "/PaxHeaders/"
                                     : "the member " + longName +
                                           " keeps part of its name in the ustar "
                                           "prefix";
    const std::string package(PathFileName(longer.Found().slots[AP].package));
    ASSERT_EQ(longer.Fails().size(), 1u) << format;
    EXPECT_TRUE(longer.Fails()[0].starts_with(package + ": " + expected)) << longer.Fails()[0];
  }
}

TEST(FileAnalysis, TheMetaDataCheckAgreesOnWhatAMemberIs) {
  if (!HaveSystemTar()) GTEST_SKIP() << "no tar on this machine";
  TempDir dir;
  const std::string files = dir / "files";
  std::filesystem::create_directories(files + "/firmware");
  std::filesystem::create_directories(files + "/meta-data");
  const std::string boot = TestBytes(3000, 31), system = TestBytes(700, 32);
  test::WriteFile(files + "/boot.img", boot);
  test::WriteFile(files + "/firmware/system.img", system);
  std::filesystem::create_symlink("boot.img", files + "/link.img");
  auto digest = [](const std::string& data) {
    return MemberSha256Hex(MemoryByteSource(data), 0, data.size());
  };
  // The list names the two files only: pax headers, folders and links are not members, so
  // the check must not ask for them.
  test::WriteFile(files + "/meta-data/fota.mf",
                  test::SealedList("2\nSM-PAX\n" + digest(boot) + " boot.img\n" + digest(system) +
                                   " firmware/system.img\n"));
  for (const char* format : {"pax", "gnu"}) {
    const std::string tar = dir / (std::string("AP_") + format + ".tar");
    const std::string command = "tar --format=" + std::string(format) + " -C '" + files +
                                "' -cf '" + tar + "' boot.img firmware link.img meta-data";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    AnalysisRun run({{AP, tar}});
    EXPECT_TRUE(run.Passed()) << format << ::testing::PrintToString(run.Fails());
    EXPECT_TRUE(run.Found().metaDataValid) << format;
    EXPECT_EQ(run.Found().packageModel, "SM-PAX") << format;
    Strings names;
    for (const auto& entry : run.Members(AP)) names.push_back(entry->fileName);
    EXPECT_EQ(names, (Strings{"boot.img", "firmware/system.img"})) << format;
  }
}

}  // namespace
}  // namespace mirk3
