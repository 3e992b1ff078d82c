// Engine construction: the banner, One Click detection from the program's own file, and the
// option copy with a One Click program's overrides.
#include <gtest/gtest.h>

#include "engine/download_engine.h"
#include "engine/failure_kind.h"
#include "engine/report_channel.h"
#include "support/recording_sink.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using test::RecordingSink;
using test::TempDir;

OneClickTrailer SampleTrailer() {
  OneClickTrailer trailer;
  trailer.pitOffset = 4096;
  trailer.pitSize = 1200;
  trailer.rePartition = 1;
  trailer.phoneBootUpdate = 1;
  trailer.phoneEfsClear = 1;
  trailer.autoReboot = 0;
  trailer.slots[AP] = {8192, 10240, ONECLICK_TAR_DEFLATED};
  trailer.slots[CSC] = {20480, 2048, ONECLICK_TAR_MD5};
  for (char c : std::string(ONECLICK_TITLE)) trailer.title.push_back(static_cast<char16_t>(c));
  return trailer;
}

std::string ProgramWith(const OneClickTrailer& trailer) {
  const auto bytes = trailer.Encode();
  return std::string(30000, '\x7f') + std::string(bytes.begin(), bytes.end());
}

DownloadOptions OperatorOptions() {
  DownloadOptions options;
  options.FlashLock = 1;
  options.rtnForSprint = 1;
  options.AutoReboot = 1;
  options.FResetTime = 1;
  options.NandErase = 1;
  options.TFlash = 1;
  options.slotEnabled = {1, 1, 0, 1, 0};
  options.slotPath[BL] = "/packages/BL.tar";
  options.FactoryResetTime = 5;
  options.PacketSize = 4194304;
  return options;
}

TEST(EngineConstruction, LogsTheBannerAndStaysInFileModeWithoutATrailer) {
  TempDir dir;
  test::WriteFile(dir / "plain-program", std::string(5000, 'p'));
  OneClickTrailer other = SampleTrailer();
  other.title = u"mirk3 one click download";  // the title compares case-sensitively
  test::WriteFile(dir / "other-title", ProgramWith(other));
  test::WriteFile(dir / "tiny", "abc");

  for (const char* name : {"plain-program", "other-title", "tiny"}) {
    RecordingSink sink;
    EngineContext context;
    context.ownExecutablePath = dir / name;
    CDownloadEngine engine(&sink, 3, context);
    EXPECT_EQ(sink.Of(WM_DL_LOG), std::vector<std::string>{"Mirk engine v(ID:3.1203)..|0"}) << name;
    EXPECT_EQ(sink.All()[0].report.port, 3);
    EXPECT_FALSE(engine.OneClickMode()) << name;
    engine.CopyOptions(OperatorOptions());
    EXPECT_EQ(engine.Options().NandErase, 1);
    EXPECT_EQ(engine.Options().slotEnabled[BL], 1);
  }
}

// The operator learns through the port's log why the program's own packages are not used.
TEST(EngineConstruction, AnUnreadableProgramFileIsLoggedAndFileModeGoesOn) {
  EngineContext context;
  context.ownExecutablePath = "/nonexistent/mirk3";
  RecordingSink sink;
  CDownloadEngine engine(&sink, 0, context);
  EXPECT_EQ(sink.Of(WM_DL_LOG), (std::vector<std::string>{"Mirk engine v(ID:3.1203)..|0",
                                                          "/nonexistent/mirk3: no such file|0"}));
  EXPECT_FALSE(engine.OneClickMode());
}

TEST(EngineConstruction, AOneClickProgramOverridesTheOperatorsOptions) {
  TempDir dir;
  test::WriteFile(dir / "oneclick", ProgramWith(SampleTrailer()));
  RecordingSink sink;
  EngineContext context;
  context.ownExecutablePath = dir / "oneclick";
  CDownloadEngine engine(&sink, 0, context);
  EXPECT_TRUE(engine.OneClickMode());
  EXPECT_EQ(sink.Of(WM_DL_LOG), (std::vector<std::string>{"Mirk engine v(ID:3.1203)..|0",
                                                          "One Click Downloader Mode\n|0"}));
  engine.CopyOptions(OperatorOptions());
  const DownloadOptions& o = engine.Options();
  EXPECT_EQ(o.FResetTime, 0);
  EXPECT_EQ(o.RePartition, 1);
  EXPECT_EQ(o.AutoReboot, 0);
  EXPECT_EQ(o.PhoneEFSClear, 1);
  EXPECT_EQ(o.PhoneBootUpdate, 1);
  EXPECT_EQ(o.NandErase, 0);
  EXPECT_EQ(o.TFlash, 0);
  EXPECT_EQ(o.rtnForSprint, 0);
  EXPECT_EQ(o.slotEnabled, (std::array<int32_t, 5>{0, 0, 0, 0, 0}));
  // What the operator chose and the program does not carry stays.
  EXPECT_EQ(o.FlashLock, 1);
  EXPECT_EQ(o.FactoryResetTime, 5);
  EXPECT_EQ(o.PacketSize, 4194304);
  EXPECT_EQ(o.slotPath[BL], "/packages/BL.tar");
}

// Every report of an engine and its packet layer goes through its report channel.
TEST(EngineReports, TextsAreCutAt127CharactersNeverInsideACharacter) {
  RecordingSink sink;
  ReportChannel reports(&sink, 1);
  reports.Note(std::string(200, 'x'));
  std::string accented;
  for (int i = 0; i < 130; ++i) accented += "\xC3\xA9";  // é, two bytes each
  reports.Note(accented);
  reports.Failf(99, "Rqt ID: %d Fail. (Res: 0x%08X)", 102, 0xFFFFFFFFu);
  const auto all = sink.All();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].report.port, 1);
  EXPECT_EQ(all[0].report.text, std::string(127, 'x'));
  EXPECT_EQ(all[1].report.text.size(), 254u);
  EXPECT_EQ(all[2].report.text, "Rqt ID: 102 Fail. (Res: 0xFFFFFFFF)");
  EXPECT_EQ(all[2].report.value, 99);
}

// What the emulated phones cannot produce: the order of the rows decides. A package problem is
// never retried even on a line that went away, and a port this user may not open stays so.
TEST(FailureKinds, TheFirstMatchingRowDecides) {
  struct Case {
    int64_t code;
    LineError cause;
    FailureKind kind;
  };
  const std::vector<Case> cases = {
      {FAIL_FILE_OPEN, LineError::Removed, FailureKind::Lasting},
      {FAIL_NO_PIT, LineError::TimedOut, FailureKind::Lasting},
      {FAIL_DATA_TRANSFER, LineError::Removed, FailureKind::Transient},
      {FAIL_DEVICE_INFO, LineError::None, FailureKind::Lasting},
      {FAIL_PORT_OPEN, LineError::PermissionDenied, FailureKind::Lasting},
      {FAIL_PORT_OPEN, LineError::Busy, FailureKind::Transient},
  };
  for (const Case& c : cases) {
    const char* why = nullptr;
    EXPECT_EQ(KindOf(Failed{c.code, "", "", c.cause}, &why), c.kind) << c.code;
    EXPECT_NE(why, nullptr);
  }
}

}  // namespace
}  // namespace mirk3
