// The device-information record as a phone builds it and as the host reads it, pinned to bytes
// written out here by hand.
#include "wire/device_info_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/le.h"

namespace mirk3 {
namespace {

// A record of a model item "ABC123" and a text item "x", written by hand: the magic as
// 78 56 34 12, the count, two descriptors {type, offset from byte 8, length}, the texts.
std::vector<uint8_t> TwoItemRecord(size_t size = 500) {
  std::vector<uint8_t> record(size, 0);
  const uint8_t head[] = {
      0x78, 0x56, 0x34, 0x12,                                                  // magic
      0x02, 0x00, 0x00, 0x00,                                                  // two items
      0x00, 0x00, 0x00, 0x00, 0x18, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00,  // model, 24, 7
      0x01, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // text, 31, 2
  };
  std::memcpy(record.data(), head, sizeof head);
  std::memcpy(&record[8 + 24], "ABC123", 7);
  std::memcpy(&record[8 + 31], "x", 2);
  return record;
}

TEST(DeviceInfoRecordTest, APhoneBuildsItsItemsInWholePieces) {
  EXPECT_EQ(BuildDeviceInfo({{0, "ABC123"}, {1, "x"}}), TwoItemRecord());
  std::vector<uint8_t> other = TwoItemRecord();
  PutLe32(other.data(), 0xDEADBEEF);
  EXPECT_EQ(BuildDeviceInfo({{0, "ABC123"}, {1, "x"}}, 0xDEADBEEF), other);
  EXPECT_EQ(BuildDeviceInfo({{1, std::string(600, 't')}}).size(), 1000u);
  EXPECT_EQ(BuildDeviceInfo({}).size(), 500u);
}

TEST(DeviceInfoRecordTest, TheHostReadsOnlyWhatLiesInsideTheRecord) {
  struct Case {
    const char* name;
    std::vector<uint8_t> record;
    uint32_t magic;
    size_t descriptors;                                   // that lie inside the record
    std::vector<std::pair<uint32_t, std::string>> items;  // type, text ("-" none)
  };
  std::vector<uint8_t> overClaim = TwoItemRecord(500);
  PutLe32(&overClaim[4], 1000);  // far more descriptors than 500 bytes hold
  std::vector<uint8_t> pastEnd = TwoItemRecord();
  PutLe32(&pastEnd[12], 492);  // the model's text would start at byte 500
  std::vector<uint8_t> unterminated = TwoItemRecord();
  PutLe32(&unterminated[12], 488);
  std::memcpy(&unterminated[496], "WXYZ", 4);  // no NUL before the record ends

  std::vector<uint8_t> oneDescriptor = {0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00};
  oneDescriptor.resize(20, 0);  // {model, offset 0, length 0}: its text is its own zeros

  const std::vector<Case> cases = {
      {"two items", TwoItemRecord(), 0x12345678, 2, {{0, "ABC123"}, {1, "x"}}},
      {"a count past the end", overClaim, 0x12345678, 41, {{0, "ABC123"}, {1, "x"}}},
      {"an item past the end", pastEnd, 0x12345678, 2, {{0, "-"}, {1, "x"}}},
      {"an item without its NUL", unterminated, 0x12345678, 2, {{0, "WXYZ"}, {1, "x"}}},
      {"one descriptor and nothing else", oneDescriptor, 0x12345678, 1, {{0, ""}}},
      {"a descriptor cut short",
       {oneDescriptor.begin(), oneDescriptor.end() - 1},
       0x12345678,
       0,
       {}},
      {"only the magic", {0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00}, 0x12345678, 0, {}},
      {"no bytes", {}, 0, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DeviceInfoView view(c.record);
    EXPECT_EQ(view.Magic(), c.magic);
    const std::vector<DeviceInfoDescriptor> descriptors = view.Descriptors();
    ASSERT_EQ(descriptors.size(), c.descriptors);
    for (size_t i = 0; i < c.items.size(); ++i) {
      EXPECT_EQ(descriptors[i].type, c.items[i].first) << i;
      EXPECT_EQ(view.ItemText(descriptors[i]).value_or("-"), c.items[i].second) << i;
    }
  }
}

}  // namespace
}  // namespace mirk3
