// The home-binary filter over real packages: which members a download list keeps in every
// slot, which it drops and logs, and how its lines are split and compared.
#include "engine/download_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "analysis_run.h"
#include "base/text.h"
#include "support/oneclick_by_hand.h"
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

std::vector<std::string> Names(const AnalysisRun& run, int slot) {
  Strings names;
  for (const auto& entry : run.Members(slot)) names.push_back(entry->fileName);
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
  EXPECT_EQ(run.Found().packageTotal, 21u) << "dropped members still count";
  ASSERT_TRUE(run.Found().downloadList.has_value());
  EXPECT_EQ(run.Found().downloadList->names, (Strings{"boot.img", "system.img"}));
  EXPECT_EQ(run.Found().downloadList->package, dir / "AP.tar");
  const Strings dropped[] = {{"loader.bin"}, {"recovery.img"}, {"modem.bin"}, {}, {}};
  for (int slot = 0; slot < SLOT_COUNT; ++slot) {
    EXPECT_EQ(run.Found().slots[slot].dropped, dropped[slot]) << SLOT_NAMES[slot];
  }
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
  const std::string NO_MEMBER = "it names no member of the chosen packages";
  const struct {
    std::string list;
    Strings kept;
    std::string reason;  // why nothing is left, when nothing is
  } cases[] = {
      {"boot.img", {"boot.img"}, ""},
      {"Boot.img", {}, NO_MEMBER},
      {"BOOT.IMG\n", {}, NO_MEMBER},
      {"boot.img \r\n", {}, NO_MEMBER},
      {" boot.img", {}, NO_MEMBER},
      {"boot.im\nboot.img.bak", {}, NO_MEMBER},
      {"boot.img\tsystem.img", {}, NO_MEMBER},
      {"my file.img\n", {"my file.img"}, ""},
      {"\r\n\r\nboot.img", {"boot.img"}, ""},
      {"system.img\rboot.img\r", {"boot.img", "system.img"}, ""},
      {"system.img\n\n\nboot.img\n\r\n", {"boot.img", "system.img"}, ""},
      {std::string("boot.img\0system.img", 19), {"boot.img"}, ""},
      {"", {}, "the list is empty"},
      {"\r\n\n", {}, "the list names nothing"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    test::WriteTar(dir / "AP.tar",
                   {{members[0], "b"}, {members[1], "s"}, {members[2], "f"}, {LIST, c.list}});
    AnalysisRun run({{AP, dir / "AP.tar"}});
    // A list that keeps nothing of what the package holds would make a run that writes
    // nothing and passes.
    EXPECT_EQ(run.Passed(), !c.kept.empty()) << c.list;
    EXPECT_EQ(Names(run, AP), c.kept) << c.list;
    EXPECT_EQ(run.Fails(), c.kept.empty() ? Strings{"AP.tar: its download list leaves nothing to "
                                                    "send (" +
                                                    c.reason + ")|1"}
                                          : Strings{})
        << c.list;
    Strings logs = {"File analysis..", SKIP};
    for (const std::string& name : members) {
      if (std::find(c.kept.begin(), c.kept.end(), name) == c.kept.end()) logs.push_back(name);
    }
    logs.push_back(HOME);
    EXPECT_EQ(run.Logs(), logs) << c.list;
  }
}

// "boot.img" and a line end as a text editor saves them in UTF-16, little-endian.
std::string Utf16(const std::string& text, bool byteOrderMark) {
  std::string out = byteOrderMark ? "\xff\xfe" : "";
  for (const char c : text) out += std::string{c, '\0'};
  return out;
}

TEST(DownloadList, AListThatLeavesNothingToSendFailsNamingItsPackage) {
  const std::string NO_MEMBER = "it names no member of the chosen packages";
  const struct {
    const char* what;
    std::string list;
    std::string reason;
  } cases[] = {
      {"an empty list", "", "the list is empty"},
      {"only line ends", "\r\n\r\n", "the list names nothing"},
      {"UTF-16 with a byte order mark", Utf16("boot.img\r\n", true),
       "the list is cut at the zero byte at 3: saved as UTF-16?"},
      {"UTF-16 without one", Utf16("boot.img\r\n", false),
       "the list is cut at the zero byte at 1: saved as UTF-16?"},
      {"names of another firmware", "vbmeta.img\nsuper.img\n", NO_MEMBER},
  };
  for (const auto& c : cases) {
    TempDir dir;
    test::WriteTar(dir / "BL.tar", {{"loader.bin", "1"}});
    test::WriteTar(dir / "AP.tar", {{"boot.img", "22"}, {"system.img", "333"}});
    test::WriteTar(dir / "HOME_CSC.tar", {{"csc.img", "4444"}, {LIST, c.list}});
    AnalysisRun run({{BL, dir / "BL.tar"}, {AP, dir / "AP.tar"}, {CSC, dir / "HOME_CSC.tar"}});
    EXPECT_FALSE(run.Passed()) << c.what;
    EXPECT_EQ(run.Fails(), Strings{"HOME_CSC.tar: its download list leaves nothing to send (" +
                                   c.reason + ")|1"})
        << c.what;
    EXPECT_EQ(run.Logs(), (Strings{"File analysis..", SKIP, "loader.bin", "boot.img", "system.img",
                                   "csc.img", HOME}))
        << c.what;
  }
}

TEST(DownloadList, TheFailureNamesThePackageTheListCameFrom) {
  TempDir dir;
  // BL's list would keep its loader, but AP's list is read last and keeps nothing.
  test::WriteTar(dir / "BL_keeps.tar", {{"loader.bin", "1"}, {LIST, "loader.bin\n"}});
  test::WriteTar(dir / "AP_empties.tar", {{"boot.img", "2"}, {LIST, "other.img\n"}});
  test::WriteTar(dir / "CP.tar", {{"modem.bin", "3"}});
  AnalysisRun run({{BL, dir / "BL_keeps.tar"}, {AP, dir / "AP_empties.tar"}, {CP, dir / "CP.tar"}});
  EXPECT_FALSE(run.Passed());
  EXPECT_EQ(run.Fails(), Strings{"AP_empties.tar: its download list leaves nothing to send (it "
                                 "names no member of the chosen packages)|1"});
}

TEST(DownloadList, AListOverPackagesWithoutMembersIsNoFailure) {
  TempDir dir;
  // Nothing to send before the list, nothing after: the list took nothing away.
  test::WriteTar(dir / "CSC.tar", {{LIST, "boot.img\n"}, {"meta-data/notes.txt", "n"}});
  AnalysisRun run({{CSC, dir / "CSC.tar"}});
  EXPECT_TRUE(run.Passed());
  EXPECT_EQ(run.Fails(), Strings{});
  EXPECT_EQ(run.Logs(), (Strings{"File analysis..", SKIP, HOME}));
}

TEST(DownloadList, AOneClickListThatLeavesNothingNamesItsSlot) {
  TempDir dir;
  test::WriteTar(dir / "ap.tar", {{"boot.img", "b"}});
  test::WriteTar(dir / "csc.tar", {{"csc.img", "c"}, {LIST, Utf16("boot.img\n", true)}});
  test::OneClickByHand program;
  program.AddSlot(AP, test::ReadFile(dir / "ap.tar"), ONECLICK_TAR);
  program.AddSlot(CSC, test::ReadFile(dir / "csc.tar"), ONECLICK_TAR);
  program.Write(dir / "oneclick");
  AnalysisRun run({}, dir / "oneclick");
  ASSERT_TRUE(run.Found().oneClick);
  EXPECT_FALSE(run.Passed());
  EXPECT_EQ(run.Fails(), Strings{"oneclick: CSC slot: its download list leaves nothing to send "
                                 "(the list is cut at the zero byte at 3: saved as UTF-16?)|1"});

  // The same list naming AP's member empties CSC only: the run goes on.
  test::WriteTar(dir / "csc.tar", {{"csc.img", "c"}, {LIST, "boot.img\n"}});
  test::OneClickByHand kept;
  kept.AddSlot(AP, test::ReadFile(dir / "ap.tar"), ONECLICK_TAR);
  kept.AddSlot(CSC, test::ReadFile(dir / "csc.tar"), ONECLICK_TAR);
  kept.Write(dir / "oneclick");
  AnalysisRun home({}, dir / "oneclick");
  EXPECT_TRUE(home.Passed());
  EXPECT_EQ(Names(home, AP), Strings{"boot.img"});
  EXPECT_EQ(Names(home, CSC), Strings{});
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
  EntryList list;
  for (const char* name : {"", "boot.img", "other.img"}) {
    list.push_back(std::make_unique<DownloadEntry>());
    CopyToField(list.back()->fileName, sizeof list.back()->fileName, name);
  }
  EXPECT_EQ(KeepListedMembers(list, DownloadListNames("boot.img")), Strings{"other.img"});
  Strings kept;
  for (const auto& entry : list) kept.push_back(entry->fileName);
  EXPECT_EQ(kept, (Strings{"", "boot.img"}));
}

}  // namespace
}  // namespace mirk3
