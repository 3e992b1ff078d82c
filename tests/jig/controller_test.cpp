// The jig controller against the emulated jig on a real pseudo-terminal: set-up orders, status
// events, replies in pieces, short, long or missing, and problems told once.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devsim/jig.h"
#include "jig/jig_notice.h"
#include "jig/thread_mdl_control.h"
#include "support/temp_dir.h"

namespace mirk3 {
namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

// Short set-up pauses; replies are looked for over a second, so a loaded machine still
// answers in time.
Timing QuickJig() {
  Timing t;
  t.jigConnectSettle = milliseconds(0);
  t.jigReplyWait = milliseconds(20);
  t.jigReplyPollPause = milliseconds(100);
  t.jigSetupPause = milliseconds(2);
  t.jigSetupClosePause = milliseconds(300);  // the close purges what the jig has not read yet
  t.jigDisconnectPause = milliseconds(0);
  return t;
}

class JigControllerTest : public ::testing::Test {
 protected:
  void StartJig(devsim::JigConfig config = {}) {
    config.port = 4;
    jig_ = std::make_unique<devsim::EmulatedJig>(config, dir_ / "ports");
    std::string error;
    ASSERT_TRUE(jig_->Start(&error)) << error;
  }

  // A controller whose log lines and traffic the test sees.
  std::unique_ptr<CThreadMdlControl> Controller() {
    auto control = std::make_unique<CThreadMdlControl>(
        QuickJig(), [this](const std::string& line) { log_.push_back(line); });
    control->WatchTraffic([this](bool sent, const uint8_t* bytes, int length) {
      (sent ? sent_ : replies_).emplace_back(bytes, bytes + length);
    });
    return control;
  }

  std::string Device() const { return dir_ / "ports/ttyUSB4"; }

  test::TempDir dir_;
  std::unique_ptr<devsim::EmulatedJig> jig_;
  Lines log_;
  std::vector<Bytes> sent_, replies_;
};

TEST_F(JigControllerTest, SetUpSendsBothPhasesInOrderForEitherCable) {
  const std::vector<std::pair<int, Lines>> cases = {
      {0,
       {":SABTOF F9", ":SAPAON FC", ":SAPAOF F4", ":S1SOL5 E1", ":SABTON 01", ":SAPAON FC",
        ":SACFVH F5", ":SAPAOF F4", ":SARSIN 0A"}},
      {1,
       {":SAMU2U F7", ":SAPAON FC", ":SAPAOF F4", ":S1SOL5 E1", ":SAMU2O F1", ":SAR8ON F5",
        ":SAR7ON F4", ":SAPAON FC", ":SAR8OF ED", ":SAR7OF EC", ":SAPAOF F4"}},
  };
  for (const auto& [cable, frames] : cases) {
    StartJig();
    log_.clear();
    JigSettings settings;
    settings.device = Device();
    settings.microCable = cable;
    Controller()->RunJigSetup(settings);
    // The last frame went out before its port closed; the jig may still be reading it.
    for (int i = 0; i < 200 && jig_->Received().size() < frames.size(); ++i) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_EQ(jig_->Received(), frames) << "cable " << cable;
    EXPECT_EQ(log_, Lines{"Anyway Jig setting is completed..."});
    jig_->Stop();
  }
  // No jig: no set-up and nothing logged; a jig that is not there: said once, then done.
  auto control = Controller();
  log_.clear();
  control->RunJigSetup(JigSettings{});
  EXPECT_TRUE(log_.empty());
  JigSettings missing;
  missing.device = dir_ / "ports/ttyUSB9";
  control->RunJigSetup(missing);
  EXPECT_EQ(log_, (Lines{"Jig set-up: cannot open " + missing.device + " (no such device)",
                         "Anyway Jig setting is completed..."}));
}

TEST_F(JigControllerTest, EventsCheckTheJigOnceThenSendOnlyTheirStatusFrame) {
  StartJig();
  auto control = Controller();
  control->SetJigPort(Device());
  // Refused before the line is touched: it is not even opened.
  EXPECT_FALSE(control->JigEvent(4, 1));
  EXPECT_FALSE(control->JigEvent(JigStart, 9));
  EXPECT_TRUE(sent_.empty());

  EXPECT_TRUE(control->JigEvent(JigStart, 3));
  // Another device given later has no effect on the open line.
  control->SetJigPort(dir_ / "ports/ttyUSB9");
  EXPECT_TRUE(control->JigEvent(JigPass, 3));
  EXPECT_TRUE(control->JigEvent(JigCheck, 0));
  EXPECT_FALSE(control->JigEvent(4, 3));
  EXPECT_EQ(jig_->Received(), (Lines{":S1VER? EA", ":S3ADST EC", ":S3ADOK DF"}));
  ASSERT_EQ(replies_.size(), 3u);
  EXPECT_EQ(replies_[0], (Bytes{':', 'V', 'E', 'M', 'U', '0', '1', 0xD8}));
  EXPECT_EQ(replies_[2], (Bytes{':', 'A', '3', 'A', 'D', 'O', 'K', 0xCD}));
  EXPECT_TRUE(log_.empty());
}

TEST_F(JigControllerTest, APhoneIsReportedAtItsOwnPositionOrNotAtAll) {
  StartJig();
  auto control = Controller();
  JigSettings settings;
  settings.device = Device();
  settings.positions[2].port = 7;
  settings.positions[5].usbPath = "1-1.3";
  EXPECT_TRUE(NotifyJigOfPort(*control, settings, JigStart, 7, "2-1"));
  EXPECT_TRUE(NotifyJigOfPort(*control, settings, JigPass, 9, "1-1.3"));
  EXPECT_FALSE(NotifyJigOfPort(*control, settings, JigFail, 8, "1-1.4"));
  EXPECT_EQ(jig_->Received(), (Lines{":S1VER? EA", ":S3ADST EC", ":S6ADOK E2"}));
}

TEST_F(JigControllerTest, RepliesInPiecesAreCollectedLongOnesCutShortOnesRefused) {
  devsim::JigConfig pieces;
  pieces.splitMs = 300;  // 5 bytes, then 3 a good while later
  StartJig(pieces);
  {
    auto control = Controller();
    control->SetJigPort(Device());
    EXPECT_TRUE(control->JigEvent(JigFail, 8));
    ASSERT_EQ(replies_.size(), 2u);
    EXPECT_EQ(replies_[1], (Bytes{':', 'A', '8', 'A', 'D', 'N', 'G', 0xCD}));
  }
  jig_->Stop();

  devsim::JigConfig longAnswer;
  longAnswer.answerBytes = 40;
  StartJig(longAnswer);
  replies_.clear();
  {
    auto control = Controller();
    control->SetJigPort(Device());
    EXPECT_TRUE(control->JigEvent(JigCheck, 0));
    // Kept to the reply buffer's 20 bytes; the sanitizer builds watch that nothing goes past.
    Bytes expected = {':', 'V', 'E', 'M', 'U', '0', '1', 0xD8};
    expected.resize(20, '#');
    ASSERT_EQ(replies_.size(), 1u);
    EXPECT_EQ(replies_[0], expected);
  }
  jig_->Stop();

  devsim::JigConfig shortAnswer;
  shortAnswer.answerBytes = 7;
  StartJig(shortAnswer);
  replies_.clear();
  auto control = Controller();
  control->SetJigPort(Device());
  EXPECT_FALSE(control->JigEvent(JigStart, 1));
  // The line stays open: the next event sends its frame without a check, and fails again.
  EXPECT_FALSE(control->JigEvent(JigStart, 2));
  EXPECT_FALSE(control->JigEvent(JigStart, 2));
  EXPECT_EQ(jig_->Received(), (Lines{":S1VER? EA", ":S2ADST EB", ":S2ADST EB"}));
  ASSERT_EQ(replies_.size(), 3u);
  EXPECT_EQ(replies_[0].size(), 7u);
  // Each problem once, however many events meet it.
  EXPECT_EQ(log_, (Lines{"Jig " + Device() + " did not answer the connection check :S1VER?",
                         "Jig " + Device() + " did not answer :S2ADST EB (position 2)"}));
}

TEST_F(JigControllerTest, AJigThatCannotBeOpenedOrIsSilentIsToldOnce) {
  auto control = Controller();
  control->SetJigPort(dir_ / "ports/ttyUSB4");
  EXPECT_FALSE(control->JigEvent(JigStart, 1));
  EXPECT_FALSE(control->JigEvent(JigPass, 1));
  EXPECT_EQ(log_, Lines{"Jig " + Device() + ": cannot open the jig line (no such device)"});

  devsim::JigConfig silent;
  silent.silent = true;
  StartJig(silent);
  log_.clear();
  EXPECT_FALSE(control->JigEvent(JigStart, 1));
  EXPECT_FALSE(control->JigEvent(JigPass, 1));
  EXPECT_EQ(jig_->Received(), (Lines{":S1VER? EA", ":S1ADOK DD"}));
  EXPECT_EQ(log_.size(), 2u) << "the check and the status frame, once each";

  // The jig's adapter unplugged and plugged in again: the dead line is let go, and the next
  // event opens and checks the jig anew.
  jig_->Stop();
  EXPECT_FALSE(control->JigEvent(JigFail, 1));
  EXPECT_EQ(log_.back(), "Jig " + Device() + " went away");
  StartJig();
  EXPECT_TRUE(control->JigEvent(JigStart, 1));
  EXPECT_EQ(jig_->Received(), (Lines{":S1VER? EA", ":S1ADST EA"}));
}

}  // namespace
}  // namespace mirk3
