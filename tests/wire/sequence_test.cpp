// The words of both end-of-sequence layouts and the sequence sizes by storage kind, pinned to
// numbers written out here by hand.
#include <gtest/gtest.h>

#include <optional>

#include "wire/end_of_sequence.h"
#include "wire/sequence_size.h"

namespace mirk3 {
namespace {

TEST(EndOfSequenceTest, BothLayoutsPutEachFieldInItsWord) {
  // Every field distinct, so that a field in the wrong word shows.
  EndOfSequence end{.layout = 0,
                    .length = 7000,
                    .entryKind = 11,
                    .storageKind = 22,
                    .partitionId = 33,
                    .last = true,
                    .efsClear = 5,
                    .bootUpdate = 6};
  struct Case {
    int32_t layout;
    bool last;
    RequestWords words;
  };
  const Case cases[] = {
      {0, true, {0, 7000, 11, 22, 33, 1, 5, 6}},
      {0, false, {0, 7000, 11, 22, 33, 0, 5, 6}},
      // The modem layout carries neither kind, and words 5 and 7 stay 0.
      {1, true, {1, 7000, 5, 6, 1, 0, 33, 0}},
      {1, false, {1, 7000, 5, 6, 0, 0, 33, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "layout " << c.layout << " last " << c.last);
    end.layout = c.layout;
    end.last = c.last;
    EXPECT_EQ(end.Words(), c.words);
    const std::optional<EndOfSequence> back = EndOfSequence::FromWords(c.words);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->Words(), c.words);
    EXPECT_EQ(back->length, 7000u);
    EXPECT_EQ(back->partitionId, 33);
    EXPECT_EQ(back->last, c.last);
  }
  EXPECT_FALSE(EndOfSequence::FromWords({2, 7000, 0, 0, 33, 1, 0, 0})) << "word 0 names no layout";
}

TEST(SequenceSizeTest, PhoneSequenceSizeByStorageKind) {
  struct Case {
    uint32_t storageKind, attributes, blockParam, size;
  };
  const Case cases[] = {
      {0, 0, 2048, 104857600},  // 2048 blocks of 1 KiB, 50 times
      {0, 1, 2048, 108134400},  // 4 spare blocks per 128: 2112 of 1 KiB, 50 times
      {0, 5, 2048, 104857600},  // only attributes 1 add the spare blocks
      {0, 0, 128, 104857600},   // one group: 128 KiB, 800 times
      {0, 0, 256, 104857600},
      {0, 1, 256, 108134400},
      {0, 0, 127, 0},  // less than one group: no usable size
      {0, 0, 0, 0},
      {1, 0, 0, 31457280},
      {2, 1, 2048, 31457280},
      {8, 0, 0, 31457280},
      {6, 0, 0, 4194304},
      {7, 0, 0, 1048576},
      {3, 0, 2048, 0},
      {4, 0, 2048, 0},
      {5, 0, 2048, 0},
      {9, 0, 2048, 0},
      {0xFFFFFFFF, 0, 2048, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PhoneSequenceSize(c.storageKind, c.attributes, c.blockParam), c.size)
        << "kind " << c.storageKind << " attributes " << c.attributes << " blocks " << c.blockParam;
  }
  EXPECT_EQ(MODEM_SEQUENCE_SIZE, 104857600u);
}

TEST(SequenceSizeTest, AnnouncedLengthsRoundUpTo128KiB) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {0, 0},
      {1, 131072},
      {131072, 131072},
      {131073, 262144},
      {7085440, 7208960},
      {31457280, 31457280},
      {0xFFFE0000, 0xFFFE0000},
  };
  for (const auto& [length, announced] : cases) {
    EXPECT_EQ(AnnouncedSequenceLength(length), announced) << length;
  }
}

}  // namespace
}  // namespace mirk3
