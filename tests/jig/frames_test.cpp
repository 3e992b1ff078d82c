// The jig's frames, pinned with literal bytes written apart from the code that builds them.
#include "jig/frames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace mirk3 {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(JigFrames, CheckAndStatusFramesAreTheJigsBytes) {
  uint8_t check[JIG_FRAME_BUFFER];
  ASSERT_EQ(BuildFrame(JIG_CHECK_TEXT, check), 8);
  EXPECT_EQ(Bytes(check, check + 8), (Bytes{58, 83, 49, 86, 69, 82, 63, 0xEA}));

  struct Case {
    int event, position;
    Bytes frame;
  };
  const std::vector<Case> cases = {
      {JigStart, 1, {58, 83, 49, 65, 68, 83, 84, 0xEA}},
      {JigStart, 8, {58, 83, 56, 65, 68, 83, 84, 0xF1}},
      {JigPass, 8, {58, 83, 56, 65, 68, 79, 75, 0xE4}},
      {JigFail, 3, {58, 83, 51, 65, 68, 78, 71, 0xDA}},
      // Nothing for an event the jig does not know or a position it does not have.
      {JigCheck, 1, {}},
      {4, 1, {}},
      {JigStart, 0, {}},
      {JigPass, 9, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(StatusFrame(c.event, c.position), c.frame) << c.event << " at " << c.position;
  }
}

TEST(JigFrames, EverySetUpFrameCarriesItsTextAndChecksum) {
  const std::vector<std::pair<std::string, uint8_t>> table = {
      {":S1SOL5", 0xE1}, {":SAMU2O", 0xF1}, {":SAMU2U", 0xF7}, {":SABTON", 0x01}, {":SABTOF", 0xF9},
      {":SAPAOF", 0xF4}, {":SAPAON", 0xFC}, {":SAR8OF", 0xED}, {":SAR8ON", 0xF5}, {":SAR7OF", 0xEC},
      {":SAR7ON", 0xF4}, {":SACFVH", 0xF5}, {":SARSIN", 0x0A}};
  ASSERT_EQ(JIG_SETUP_TEXTS.size(), table.size());
  for (size_t i = 0; i < table.size(); ++i) {
    const auto& [text, checksum] = table[i];
    EXPECT_EQ(JIG_SETUP_TEXTS[i], text) << "index " << i;
    uint8_t frame[JIG_FRAME_BUFFER];
    ASSERT_EQ(BuildFrame(text.c_str(), frame), 8) << text;
    Bytes expected(text.begin(), text.end());
    expected.push_back(checksum);
    EXPECT_EQ(Bytes(frame, frame + 8), expected) << text;
  }
  // A text longer than the frame buffer is cut so that text and checksum still fit.
  const std::string tooLong(400, 'A');
  std::vector<uint8_t> frame(JIG_FRAME_BUFFER);
  EXPECT_EQ(BuildFrame(tooLong.c_str(), frame.data()), JIG_FRAME_BUFFER - 1);
  EXPECT_EQ(frame[JIG_FRAME_BUFFER - 2], (248 * 'A') % 256);
}

}  // namespace
}  // namespace mirk3
