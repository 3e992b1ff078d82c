// File analysis over real tar files: the walk's skips and bounds, the slot rules by path
// ending, the special members (partition table, meta-data folder, UFS_Header.bin), headers
// that cannot be trusted, the meta-data verdict, One Click slots, and archives written by the
// system's own tar in GNU and ustar form.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "analysis_run.h"
#include "base/text.h"
#include "pack/md5_package.h"
#include "packages/md5_trailer.h"
#include "support/oneclick_by_hand.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

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
  EXPECT_EQ(CDownloadEngine::FullSequence().front(), &CDownloadEngine::FileAnalysisStep);
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
    EXPECT_EQ(run.Engine().PackageTotal(), c.total) << c.what;
    EXPECT_EQ(run.Logs(), Strings{"File analysis.."}) << c.what;
    EXPECT_EQ(run.Fails(), Strings{}) << c.what;
    for (const auto& entry : run.Engine().FileList(AP)) {
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
      // Neither a tar nor an MD5 package: the run fails without a word.
      {"AP.zip", tar, false, {}},
      {"AP.smd", tar, false, {}},
      {"AP.tar.gz", tar, false, {}},
  };
  for (const Case& c : cases) {
    test::WriteFile(dir / c.name, c.content);
    AnalysisRun run({{AP, dir / c.name}});
    EXPECT_EQ(run.Passed(), c.passes) << c.name;
    EXPECT_EQ(run.Listed(AP), c.listed) << c.name;
    EXPECT_EQ(run.Fails(), Strings{}) << c.name;
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

TEST(FileAnalysis, TheTrailerOfAnMd5PackageIsNeverReadAsAHeader) {
  TempDir dir;
  // The package ends in the start of a header and the trailer completes its block: read as
  // one 512-byte block it would be a member "ghost.img" of 0 bytes.
  const std::string name = "AP_ghost.tar";
  const size_t trailerLength = Md5TrailerLength(name.size() + 4);
  const std::string ghost = HeaderBytes("ghost.img", 0).substr(0, 512 - trailerLength);
  WriteRawTar(dir / name, {HeaderBytes("boot.img", 5), Padded("boot!"), ghost});
  const std::string md5 = Md5Package(dir / name);
  ASSERT_EQ(test::ReadFile(md5).size() % 512, 0u);

  AnalysisRun asMd5({{AP, md5}});
  EXPECT_TRUE(asMd5.Passed());
  EXPECT_EQ(asMd5.Listed(AP), Strings{"boot.img@512+5"});

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
  EXPECT_EQ(run.Fails(), Strings{"CP_long.tar.md5: the member modem.bin runs past its end|1"});
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
  EXPECT_EQ(run.Engine().PackageTotal(), 5u + 9 + 3 + 2) << "meta-data members do not count";
  EXPECT_FALSE(run.Engine().DownloadListText().has_value());
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
  EXPECT_EQ(run.Engine().DownloadListText(), list) << "the last list read wins";
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
  EXPECT_EQ(run.Engine().PackageTotal(), 100u + 10 + 50 + 30 + 1);
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
  EXPECT_FALSE(without.Engine().PackagePitInfo().present);
  EXPECT_EQ(without.Engine().Options().RePartition, 0);

  AnalysisRun run({{BL, dir / "BL.tar"}, {CSC, dir / "CSC.tar"}});
  EXPECT_TRUE(run.Passed());
  const PackagePit& pit = run.Engine().PackagePitInfo();
  EXPECT_TRUE(pit.present);
  EXPECT_EQ(pit.path, dir / "CSC.tar") << "a later table replaces an earlier one";
  EXPECT_EQ(pit.offset, 1536u);
  EXPECT_EQ(pit.size, 1500u);
  EXPECT_EQ(run.Engine().Options().RePartition, 1);
  EXPECT_EQ(run.Listed(BL), Strings{"loader.bin@512+1"});
  EXPECT_EQ(run.Listed(CSC), (Strings{"csc.img@512+1", "cache.img@3584+1"}));
  EXPECT_EQ(run.Engine().PackageTotal(), 3u) << "tables do not count";
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
       "AP.tar: the member system.img runs past its end|1"},
      {"a table past the end",
       {HeaderBytes("part.pit", 1024), Padded("x")},
       "AP.tar: the member part.pit runs past its end|1"},
      {"a list past the end",
       {HeaderBytes("meta-data/download-list.txt", 600), Padded("x")},
       "AP.tar: the download list meta-data/download-list.txt is damaged|1"},
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
  ASSERT_EQ(run.Engine().FileList(CP).size(), 1u);
  EXPECT_STREQ(run.Engine().FileList(CP)[0]->fileName, name31.c_str());
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
  EXPECT_EQ(run.Engine().PackageTotal(), big + 4);

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
    EXPECT_EQ(run.Engine().MetaDataValid(), c.valid) << c.what;
    EXPECT_STREQ(run.Engine().PackageModel(), c.model.c_str()) << c.what;
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
  EXPECT_FALSE(together.Engine().MetaDataValid());
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
  ASSERT_TRUE(run.Engine().OneClickMode());
  EXPECT_TRUE(run.Passed());
  // In a One Click program UFS_Header.bin is sent like any member.
  EXPECT_EQ(run.Listed(AP), (Strings{"UFS_Header.bin@" + std::to_string(ap + 512) + "+20",
                                     "boot.img@" + std::to_string(ap + 1536) + "+600"}));
  ASSERT_EQ(run.Engine().FileList(CP).size(), 1u);
  const DownloadEntry& m = *run.Engine().FileList(CP)[0];
  EXPECT_EQ(m.dataOffset, cp + 512u);
  EXPECT_EQ(TarPaddedSize(m.size), modemPacked);
  EXPECT_EQ(m.inflatedSize, modem.size());
  EXPECT_EQ(run.Engine().PackageTotal(), 20u + 600 + modem.size()) << "inflated sizes count";
  EXPECT_EQ(run.Engine().Options().slotEnabled, (std::array<int32_t, 5>{0, 1, 1, 0, 0}));
  // The program's table words point at the member found.
  EXPECT_EQ(run.Engine().Trailer().pitOffset, ap + 3072);
  EXPECT_EQ(run.Engine().Trailer().pitSize, 300u);
  EXPECT_EQ(run.Engine().PackagePitInfo().path, dir / "oneclick");
  EXPECT_EQ(run.Engine().Options().RePartition, 1);
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

TEST(FileAnalysis, AOneClickSlotHoldsOnlyWhatLiesBeforeTheTrailer) {
  TempDir dir;
  const struct {
    const char* what;
    uint64_t size;  // of the last member, whose data the program does not hold
    uint32_t claimed;
  } cases[] = {{"a slot past the program's end", 100000, 200000},
               {"a slot over the trailer", 1500, 2048 + 1468}};
  for (const auto& c : cases) {
    const std::string tar = HeaderBytes("boot.img", 3) + Padded("abc") +
                            HeaderBytes("system.img", c.size) + Padded("only a little");
    ASSERT_EQ(tar.size(), 2048u);
    OneClickByHand program;
    program.AddSlot(AP, tar, ONECLICK_TAR, c.claimed);
    program.Write(dir / "oneclick");
    AnalysisRun run({}, dir / "oneclick");
    EXPECT_FALSE(run.Passed()) << c.what;
    EXPECT_EQ(run.Fails(), Strings{"oneclick: the member system.img runs past its end|1"})
        << c.what;
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

  for (const char* format : {"gnu", "ustar"}) {
    const std::string tar = dir / (std::string(format) + ".tar");
    const std::string command = "tar --format=" + std::string(format) + " -C '" + (dir / "files") +
                                "' -cf '" + tar + "'" + names;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    AnalysisRun run({{CSC, tar}});
    EXPECT_TRUE(run.Passed()) << format;
    EXPECT_EQ(run.Listed(CSC), own.Listed(CSC)) << format;
    EXPECT_EQ(run.Engine().PackageTotal(), own.Engine().PackageTotal()) << format;
    EXPECT_EQ(run.Engine().DownloadListText(), own.Engine().DownloadListText()) << format;
    EXPECT_EQ(run.Engine().PackagePitInfo().offset, own.Engine().PackagePitInfo().offset);
    EXPECT_EQ(run.Logs(), own.Logs()) << format;
  }
}

}  // namespace
}  // namespace mirk3
