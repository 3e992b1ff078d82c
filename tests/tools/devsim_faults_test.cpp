// Faults an emulated phone is told to have, and the phone leaving: injected failure
// responses, a wrong greeting, silence, a slow erase, a reboot and an unplugged cable.
#include <filesystem>

#include "devsim_fixture.h"

namespace mirk3::devsim {
namespace {

using std::chrono::milliseconds;
using test::HostIo;
using test::RawHost;
using Clock = std::chrono::steady_clock;

std::pair<int32_t, int32_t> Answer(const std::optional<ResponsePacket>& response) {
  return response ? std::pair(response->id, response->value) : std::pair(0, 0);
}

bool LinkExists(const std::string& path) {
  return std::filesystem::is_symlink(std::filesystem::symlink_status(path));
}

TEST_F(DevsimTest, InjectedFailuresAnswerAfterTheGivenOccurrences) {
  FarmConfig config = Config({0, 1});
  config.faults[0].fails = {{RQT_CLOSE, 0, BL_FAIL_WRITE, 1}, {RQT_INIT, 3, BL_FAIL_WP, 0}};
  config.faults[0].fails.push_back({RQT_DEVINFO, 1, BL_FAIL_AUTH, 0});
  Start(config);
  RawHost host;
  Connect(host);
  EXPECT_EQ(Answer(host.Request(103, 0)), std::pair(103, 0));
  EXPECT_EQ(Answer(host.Request(103, 0)), std::pair(-1, -4));
  EXPECT_EQ(Answer(host.Request(103, 0)), std::pair(-1, -4));
  EXPECT_EQ(Answer(host.Request(100, 3, {1})), std::pair(-1, -2));
  EXPECT_EQ(Answer(host.Request(100, 8)), std::pair(100, 0));  // another sub-type: untouched
  // A piece request normally answered raw gets the 8-byte failure instead.
  ASSERT_EQ(Answer(host.Request(105, 0)).first, 105);
  EXPECT_EQ(Answer(host.Request(105, 1, {0})), std::pair(-1, -5));

  RawHost other;  // the other port has no faults
  Connect(other, 1);
  EXPECT_EQ(Answer(other.Request(103, 0)), std::pair(103, 0));
  EXPECT_EQ(Answer(other.Request(103, 0)), std::pair(103, 0));
}

TEST_F(DevsimTest, WrongGreetingsAndSilence) {
  FarmConfig config = Config({0, 1, 2, 3});
  config.faults[0].handshakeAnswer = "TASX";
  config.faults[1].handshakeAnswer = "";
  config.faults[2].silentAfter = SILENT_FROM_START;
  config.faults[3].silentAfter = 1;
  Start(config);
  RawHost wrong, zeros, silent, late;
  ASSERT_TRUE(wrong.Open(farm_->LinkPath(0)));
  EXPECT_EQ(wrong.Greet(), "TASX");
  ASSERT_TRUE(zeros.Open(farm_->LinkPath(1)));
  EXPECT_EQ(zeros.Greet(), std::string(4, '\0'));

  // Silence is only ever seen as a time-out; a short one is enough to see nothing comes.
  ASSERT_TRUE(silent.Open(farm_->LinkPath(2)));
  EXPECT_EQ(silent.Greet(milliseconds(300)), "");
  Connect(late, 3);
  EXPECT_EQ(Answer(late.Request(100, 0, {4})), std::pair(100, 4 << 16));
  EXPECT_FALSE(late.Request(100, 5, {1048576}, milliseconds(300)));
  EXPECT_EQ(farm_->Trace(3).size(), 2u);  // the unanswered request was still received
  // Silence outlives the host: a new one is not answered either.
  late.Close();
  ASSERT_TRUE(late.Open(farm_->LinkPath(3)));
  EXPECT_EQ(late.Greet(milliseconds(300)), "");
}

TEST_F(DevsimTest, EraseTakesItsConfiguredTime) {
  FarmConfig config = Config({0});
  config.faults[0].eraseMs = 400;
  Start(config);
  RawHost host;
  Connect(host);
  const auto start = Clock::now();
  EXPECT_EQ(Answer(host.Request(100, 7)), std::pair(100, 0));
  EXPECT_GE(Clock::now() - start, milliseconds(400));
}

TEST_F(DevsimTest, RebootAnswersThenThePortDisappears) {
  Start(Config({0}));
  RawHost host;
  Connect(host);
  const std::string link = farm_->LinkPath(0);
  EXPECT_EQ(Answer(host.Request(103, 1)), std::pair(103, 0));
  EXPECT_TRUE(WaitUntil([&] { return !LinkExists(link); }));
  EXPECT_FALSE(farm_->Plugged(0));
  uint8_t byte;
  EXPECT_EQ(host.Read(&byte, 1), HostIo::Gone);
  EXPECT_EQ(farm_->Trace(0).back(), "103/1 0 0 0 0 0 0 0 0");
}

TEST_F(DevsimTest, VanishingMidTransferFailsTheHostPromptly) {
  FarmConfig config = Config({0});
  config.faults[0].vanishAfterBytes = 1500000;
  Start(config);
  RawHost host;
  Connect(host);
  ASSERT_EQ(Answer(host.Request(100, 5, {1048576})).first, 100);
  ASSERT_EQ(Answer(host.Request(102, 0)).first, 102);
  ASSERT_EQ(Answer(host.Request(102, 2, {4 * 1048576})).first, 102);
  const std::string packet(1048576, 'x');
  uint8_t ack[8];
  ASSERT_EQ(host.Write(packet.data(), packet.size()), HostIo::Ok);
  ASSERT_EQ(host.Read(ack, sizeof ack), HostIo::Ok);
  // The second packet is cut off after 451424 bytes: the host's write or the read of its
  // acknowledgement fails as with a pulled cable, long before any patient time-out.
  const auto start = Clock::now();
  HostIo io = host.Write(packet.data(), packet.size());
  if (io == HostIo::Ok) io = host.Read(ack, sizeof ack);
  EXPECT_EQ(io, HostIo::Gone);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
  EXPECT_TRUE(WaitUntil([&] { return !LinkExists(farm_->LinkPath(0)); }));
  EXPECT_FALSE(farm_->Plugged(0));
}

TEST_F(DevsimTest, StopsWhileAHostIsMidTransfer) {
  Start(Config({0, 1}));
  RawHost host;
  Connect(host);
  ASSERT_EQ(Answer(host.Request(102, 0)).first, 102);
  ASSERT_EQ(Answer(host.Request(102, 2, {131072})).first, 102);
  ASSERT_EQ(host.Write("half", 4), HostIo::Ok);  // the phone now waits for the packet
  farm_->Stop();
  EXPECT_FALSE(LinkExists(farm_->LinkPath(0)));
  EXPECT_FALSE(LinkExists(farm_->LinkPath(1)));
  EXPECT_EQ(farm_->Trace(0).size(), 2u);  // still readable after the stop
}

TEST_F(DevsimTest, RefusesToReplaceWhatIsNotALink) {
  FarmConfig config = Config({0, 1});
  std::filesystem::create_directories(config.portDir);
  test::WriteFile(config.portDir + "/ttyACM1", "a real device node would be here");
  std::filesystem::create_symlink("/nonexistent", config.portDir + "/ttyACM0");
  PhoneFarm farm(config);
  std::string error;
  EXPECT_FALSE(farm.Start(&error));
  EXPECT_NE(error.find("ttyACM1"), std::string::npos) << error;
  EXPECT_FALSE(LinkExists(config.portDir + "/ttyACM0"));  // the stale link went, nothing new
  EXPECT_EQ(test::ReadFile(config.portDir + "/ttyACM1"), "a real device node would be here");
}

}  // namespace
}  // namespace mirk3::devsim
