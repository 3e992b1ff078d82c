// The eight words of the end-of-sequence request (RQT_XMIT / RQT_XMIT_END), after which the
// boot loader writes the sequence it has received. Two layouts exist: the phone layout, for
// every member but those of a modem package sent from a file, and the modem layout. Word 0
// says which one follows.
#pragma once

#include <cstdint>
#include <optional>

#include "wire/request_packet.h"

namespace mirk3 {

inline constexpr int32_t EOS_LAYOUT_PHONE = 0;
inline constexpr int32_t EOS_LAYOUT_MODEM = 1;

// Where each field sits in a layout's words; NOT_CARRIED: the layout has no such field, and
// its word (like every word no field names) is 0.
struct EndOfSequenceWords {
  static constexpr int NOT_CARRIED = -1;
  int layout, length, entryKind, storageKind, partitionId, last, efsClear, bootUpdate;
};
inline constexpr EndOfSequenceWords PHONE_EOS_WORDS = {.layout = 0,
                                                       .length = 1,
                                                       .entryKind = 2,
                                                       .storageKind = 3,
                                                       .partitionId = 4,
                                                       .last = 5,
                                                       .efsClear = 6,
                                                       .bootUpdate = 7};
inline constexpr EndOfSequenceWords MODEM_EOS_WORDS = {
    .layout = 0,
    .length = 1,
    .entryKind = EndOfSequenceWords::NOT_CARRIED,
    .storageKind = EndOfSequenceWords::NOT_CARRIED,
    .partitionId = 6,
    .last = 4,
    .efsClear = 2,
    .bootUpdate = 3};  // words 5 and 7 stay 0

// Word 0 tells the layouts apart, so both keep it there.
static_assert(PHONE_EOS_WORDS.layout == 0 && MODEM_EOS_WORDS.layout == 0);
static_assert(PHONE_EOS_WORDS.bootUpdate < REQUEST_MAX_WORDS);
static_assert(MODEM_EOS_WORDS.partitionId < REQUEST_MAX_WORDS);

struct EndOfSequence {
  int32_t layout = EOS_LAYOUT_PHONE;
  uint32_t length = 0;       // bytes of this sequence, not rounded
  uint32_t entryKind = 0;    // the partition's entry kind (phone layout only)
  uint32_t storageKind = 0;  // the partition's storage kind (phone layout only)
  int32_t partitionId = 0;   // where the boot loader writes the sequence
  bool last = false;         // the member's last sequence
  int32_t efsClear = 0;      // the PhoneEFSClear option
  int32_t bootUpdate = 0;    // the PhoneBootUpdate option

  RequestWords Words() const;
  // The fields of a request's words; nothing when word 0 names no layout.
  static std::optional<EndOfSequence> FromWords(const RequestWords& words);
};

}  // namespace mirk3
