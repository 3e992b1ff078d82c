// The home-binary filter over real packages: which members a download list keeps in every
// slot, which it drops and logs, and how its lines are split and compared.
#include <gtest/gtest.h>

#include <algorithm>

#include "analysis_run.h"
#include "base/text.h"
#include "support/temp_dir.h"
#include "support/test_packages.h"

namespace mirk3 {
namespace {

using test::AnalysisRun;
using test::TempDir;
using Strings = std::vector<std::string>;

constexpr char LIST[] = "meta-data/download-list.txt";
constexpr char SKIP[] = "skip file list for home binary";
constexpr char HOME[] = "Home Binary Download";

std::vector<std::string> Names(AnalysisRun& run, int slot) {
  Strings names;
  for (const auto& entry : run.Engine().FileList(slot)) names.push_back(entry->fileName);
  return names;
}

TEST(DownloadList, KeepsExactlyTheNamedMembersInEverySlot) {
  TempDir dir;
  test::WriteTar(dir / "BL.tar", {{"loader.bin", "1"}, {"boot.img", "22"}});
  test::WriteTar(dir / "AP.tar", {{"boot.img", "333"},
                                  {"recovery.img", "4444"},
                                  {"system.img", "55555"},
                                  {LIST, "boot.img\r\nsystem.img\r\n\r\n"}});
  test::WriteTar(dir / "CP.tar", {{"modem.bin", "666666"}});
  AnalysisRun run({{BL, dir / "BL.tar"}, {AP, dir / "AP.tar"}, {CP, dir / "CP.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.Listed(BL), Strings{"boot.img@1536+2"});
  EXPECT_EQ(run.Listed(AP), (Strings{"boot.img@512+3", "system.img@2560+5"}));
  EXPECT_EQ(run.Listed(CP), Strings{}) << "a list that names nothing of a slot empties it";
  EXPECT_EQ(run.Logs(),
            (Strings{"File analysis..", SKIP, "loader.bin", "recovery.img", "modem.bin", HOME}));
  EXPECT_EQ(run.Engine().PackageTotal(), 21u) << "dropped members still count";
}

TEST(DownloadList, AListInTheCscPackageFiltersEverySlot) {
  TempDir dir;
  test::WriteTar(dir / "BL.tar", {{"loader.bin", "s"}});
  test::WriteTar(dir / "AP.tar", {{"system.img", "y"}, {"userdata.img", "u"}});
  test::WriteTar(dir / "CP.tar", {{"modem.bin", "m"}});
  test::WriteTar(dir / "HOME_CSC.tar", {{"csc.img", "c"}, {LIST, "modem.bin\nuserdata.img\n"}});
  test::WriteTar(dir / "UMS.tar", {{"userdata.img", "u"}, {"media.bin", "e"}});
  AnalysisRun run({{BL, dir / "BL.tar"},
                   {AP, dir / "AP.tar"},
                   {CP, dir / "CP.tar"},
                   {CSC, dir / "HOME_CSC.tar"},
                   {UMS, dir / "UMS.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(Names(run, BL), Strings{});
  EXPECT_EQ(Names(run, AP), Strings{"userdata.img"});
  EXPECT_EQ(Names(run, CP), Strings{"modem.bin"});
  EXPECT_EQ(Names(run, CSC), Strings{});
  EXPECT_EQ(Names(run, UMS), Strings{"userdata.img"});
  EXPECT_EQ(run.Logs(), (Strings{"File analysis..", SKIP, "loader.bin", "system.img", "csc.img",
                                 "media.bin", HOME}));
}

TEST(DownloadList, LinesMatchWholeNamesByteForByte) {
  const Strings members = {"boot.img", "system.img", "my file.img"};
  const struct {
    std::string list;
    Strings kept;
  } cases[] = {
      {"boot.img", {"boot.img"}},
      {"Boot.img", {}},
      {"BOOT.IMG\n", {}},
      {"boot.img \r\n", {}},
      {" boot.img", {}},
      {"boot.im\nboot.img.bak", {}},
      {"boot.img\tsystem.img", {}},
      {"my file.img\n", {"my file.img"}},
      {"\r\n\r\nboot.img", {"boot.img"}},
      {"system.img\rboot.img\r", {"boot.img", "system.img"}},
      {"system.img\n\n\nboot.img\n\r\n", {"boot.img", "system.img"}},
      {std::string("boot.img\0system.img", 19), {"boot.img"}},
      {"", {}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    test::WriteTar(dir / "AP.tar",
                   {{members[0], "b"}, {members[1], "s"}, {members[2], "f"}, {LIST, c.list}});
    AnalysisRun run({{AP, dir / "AP.tar"}});
    EXPECT_TRUE(run.Passed()) << c.list;
    EXPECT_EQ(Names(run, AP), c.kept) << c.list;
    Strings logs = {"File analysis..", SKIP};
    for (const std::string& name : members) {
      if (std::find(c.kept.begin(), c.kept.end(), name) == c.kept.end()) logs.push_back(name);
    }
    logs.push_back(HOME);
    EXPECT_EQ(run.Logs(), logs) << c.list;
  }
}

TEST(DownloadList, TheListReadLastWins) {
  TempDir dir;
  test::WriteTar(dir / "BL.tar", {{"loader.bin", "s"}, {LIST, "loader.bin\n"}});
  test::WriteTar(dir / "AP.tar", {{"boot.img", "b"}, {LIST, "boot.img\n"}});
  AnalysisRun run({{BL, dir / "BL.tar"}, {AP, dir / "AP.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(Names(run, BL), Strings{});
  EXPECT_EQ(Names(run, AP), Strings{"boot.img"});
}

TEST(DownloadList, WithoutAListNothingIsFilteredOrLogged) {
  TempDir dir;
  test::WriteTar(dir / "BL.tar", {{"loader.bin", "s"}, {"meta-data/fota.mf", "not a list"}});
  test::WriteTar(dir / "AP.tar", {{"boot.img", "b"}, {"download-list.txt", "boot.img\n"}});
  AnalysisRun run({{BL, dir / "BL.tar"}, {AP, dir / "AP.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(Names(run, BL), Strings{"loader.bin"});
  EXPECT_EQ(Names(run, AP), (Strings{"boot.img", "download-list.txt"}));
  EXPECT_EQ(run.Logs(), Strings{"File analysis.."});
}

TEST(DownloadList, AnEntryWithoutANameIsKept) {
  TempDir dir;
  test::WriteTar(dir / "AP.tar", {{"boot.img", "b"}, {LIST, "boot.img"}});
  AnalysisRun run({{AP, dir / "AP.tar"}});
  auto& list = run.Engine().FileList(AP);
  list.insert(list.begin(), std::make_unique<DownloadEntry>());
  auto other = std::make_unique<DownloadEntry>();
  CopyToField(other->fileName, sizeof other->fileName, "other.img");
  list.push_back(std::move(other));
  run.Engine().ApplyDownloadList();
  EXPECT_EQ(Names(run, AP), (Strings{"", "boot.img"}));
  EXPECT_EQ(run.Logs(), (Strings{"File analysis..", SKIP, HOME, SKIP, "other.img", HOME}));
}

}  // namespace
}  // namespace mirk3
