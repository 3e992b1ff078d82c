// The One Click trailer at the end of a program that carries its packages, pinned to bytes
// written out here by hand.
#include "wire/one_click_trailer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/le.h"

namespace mirk3 {
namespace {

OneClickTrailer SampleTrailer() {
  OneClickTrailer trailer;
  trailer.pitOffset = 4096;
  trailer.pitSize = 1200;
  trailer.rePartition = 1;
  trailer.phoneBootUpdate = 0x0B;
  trailer.phoneEfsClear = 0x0C;
  trailer.autoReboot = 0x0D;
  trailer.slots[BL] = {0x100, 0x101, ONECLICK_TAR};
  trailer.slots[AP] = {8192, 10240, ONECLICK_TAR_DEFLATED};
  trailer.slots[CP] = {0x300, 0, ONECLICK_TAR_MD5};
  trailer.slots[CSC] = {20480, 2048, ONECLICK_TAR_MD5};
  trailer.slots[UMS] = {0x500, 0x501, ONECLICK_TAR};
  trailer.title = u"Mirk3 One Click Download";
  return trailer;
}

// SampleTrailer() written by hand: 1468 bytes, every integer little-endian.
std::vector<uint8_t> SampleTrailerBytes() {
  std::vector<uint8_t> bytes(1468, 0);
  PutLe32(&bytes[0], 4096);  // partition table offset
  PutLe32(&bytes[4], 1200);  // partition table size
  PutLe32(&bytes[8], 1);     // re-partition
  struct Slot {
    size_t at;
    uint32_t offset, length;
    uint16_t type;
  };
  for (const Slot& slot :
       {Slot{12, 0x100, 0x101, 1}, Slot{280, 8192, 10240, 4}, Slot{556, 0x300, 0, 3},
        Slot{824, 20480, 2048, 3}, Slot{1092, 0x500, 0x501, 1}}) {
    PutLe32(&bytes[slot.at], slot.offset);
    PutLe32(&bytes[slot.at + 4], slot.length);
    PutLe16(&bytes[slot.at + 8], slot.type);
  }
  PutLe32(&bytes[548], 0x0B);  // boot update
  PutLe32(&bytes[552], 0x0C);  // EFS clear
  const std::string title = "Mirk3 One Click Download";
  for (size_t i = 0; i < title.size(); ++i) PutLe16(&bytes[1396 + 2 * i], title[i]);
  PutLe32(&bytes[1460], 0x0D);  // auto reboot
  return bytes;
}

std::vector<uint8_t> Encoded(const OneClickTrailer& trailer) {
  const auto bytes = trailer.Encode();
  return {bytes.begin(), bytes.end()};
}

TEST(OneClickTrailer, FieldsSitAtTheirOffsets) {
  const std::vector<uint8_t> hand = SampleTrailerBytes();
  EXPECT_EQ(Encoded(SampleTrailer()), hand);
  // Parsing and encoding again gives the same bytes only when every field was read from
  // where it was written.
  const OneClickTrailer parsed = OneClickTrailer::Parse(hand.data());
  EXPECT_EQ(Encoded(parsed), hand);
  EXPECT_TRUE(parsed.TitleMatches());
  EXPECT_EQ(parsed.slots[AP].type, ONECLICK_TAR_DEFLATED);
  EXPECT_TRUE(parsed.slots[BL].Present());
  EXPECT_FALSE(parsed.slots[CP].Present()) << "a slot of length 0 is empty, whatever its offset";
  EXPECT_EQ(parsed.autoReboot, 0x0Du);
}

TEST(OneClickTrailer, ATitleEndsAtItsNulOrItsField) {
  std::vector<uint8_t> bytes = SampleTrailerBytes();
  for (size_t at = 1396; at < 1460; at += 2) PutLe16(&bytes[at], 'A');  // no NUL at all
  const OneClickTrailer parsed = OneClickTrailer::Parse(bytes.data());
  EXPECT_EQ(parsed.title, std::u16string(32, u'A')) << "the auto-reboot word is not title";
  EXPECT_FALSE(parsed.TitleMatches());

  OneClickTrailer longTitle = SampleTrailer();
  longTitle.title = std::u16string(40, u'B');
  const auto encoded = longTitle.Encode();
  EXPECT_EQ(GetLe16(&encoded[1396 + 2 * 30]), u'B');
  EXPECT_EQ(GetLe16(&encoded[1396 + 2 * 31]), 0) << "the title keeps its NUL";
  EXPECT_EQ(GetLe32(&encoded[1460]), 0x0Du);
}

}  // namespace
}  // namespace mirk3
